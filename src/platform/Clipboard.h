#pragma once

#include <string>

namespace velloq::platform {

// The desktop's clipboard (the window system's, through SDL; a clipboard of the process where
// there is no window system). Empty when it holds no text.
std::u16string clipboard_text();
bool set_clipboard_text(std::u16string const& text);

// A clipboard the program reaches itself rather than through SDL (its own Wayland connection).
class ClipboardBackend {
public:
    virtual ~ClipboardBackend() = default;
    virtual std::u16string text() = 0;
    virtual bool set_text(std::u16string const&) = 0;
};

// Sends the clipboard's calls to `backend` (null: to SDL again). The caller keeps it alive until
// it is replaced.
void use_clipboard(ClipboardBackend* backend);

}
