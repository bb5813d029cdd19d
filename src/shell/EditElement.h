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
    // The text and the caret (a UTF-16 offset), which an input method reads around the caret.
    virtual std::u16string const& edit_text() const = 0;
    virtual size_t edit_caret() const = 0;
    // What an input method is composing, shown at the caret until it is committed or dropped.
    virtual void edit_compose(std::u16string const& composing) = 0;
    // An input method deletes UTF-16 units before and after the caret (a word it corrects).
    virtual void edit_delete_around(size_t before, size_t after) = 0;
};

}
