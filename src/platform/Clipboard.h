#pragma once

#include <string>

namespace velloq::platform {

// The desktop's clipboard (the window system's, through SDL; a clipboard of the process where
// there is no window system). Empty when it holds no text.
std::u16string clipboard_text();
bool set_clipboard_text(std::u16string const& text);

}
