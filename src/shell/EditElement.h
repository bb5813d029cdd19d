#pragma once

#include "shell/ScreenInfo.h"

#include <string>

namespace velloq {

// What the shell needs from an edit element while the user types into it. There is no native
// edit control on Linux: the element draws its own text and caret and takes the typed
// characters; the shell places the platform's text input (and an on-screen keyboard where there
// is one) over the element's rectangle and switches the window to its typing layout.
class EditElement {
public:
    virtual ~EditElement() = default;
    // Where the element is, in window pixels.
    virtual Rect edit_rect() const = 0;
    virtual bool edit_multi_line() const = 0;
    // Puts the caret behind the last character; called when typing moves to this element.
    virtual void edit_caret_to_end() = 0;
};

}
