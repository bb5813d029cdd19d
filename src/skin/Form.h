#pragma once

#include "shell/Colour.h"
#include "skin/Element.h"

namespace velloq {

class TextEdit;

// The root element of a screen built from one top-level skin section. It reads "outside_color"
// and routes the keys and characters its form receives: to the edit that has the input (or one
// that types without a tap), then to the buttons bound to the key, then to the program form's
// own handler, then to its first shown list.
class Form : public Element {
public:
    void load(Properties const&, Section const&) override;
    bool key(KeyEvent const&) override;
    bool text_input(std::u16string const&) override;
    bool pointer_button(PointerEvent const&) override;

    Colour outside_colour() const { return m_outside_colour; }
    // The edit that takes typed text now, if any.
    TextEdit* typing_edit();
    // Takes the input away from every edit of the form.
    void end_input();

protected:
    // The program form's own keys, after the edits and the bound buttons.
    virtual bool on_form_key(KeyEvent const&) { return false; }

private:
    bool key_without_edit(KeyEvent const&);
    bool list_key(KeyEvent const&);
    Colour m_outside_colour;
};

}
