#pragma once

#include "shell/Colour.h"
#include "skin/Element.h"

#include <vector>

namespace velloq {

class TextEdit;

// The root element of a screen built from one top-level skin section. It reads "outside_color"
// and routes the keys and characters its form receives: to the edit that has the input (or one
// that types without a tap), then to the buttons bound to the key, then to the program form's
// own handler, then to its first shown list. Tab and Shift+Tab move the keyboard focus through
// the form's edits, lists and buttons; the focused element is ringed in "focus_color".
class Form : public Element {
public:
    void load(Properties const&, Section const&) override;
    void draw_self(DrawTarget const&, Point offset) override;
    bool key(KeyEvent const&) override;
    bool text_input(std::u16string const&) override;
    bool pointer_button(PointerEvent const&) override;

    // The element with the keyboard focus while it is still shown in the form, or null.
    Element* focused();
    // Gives the keyboard focus to a shown element of the form (a list item's button too); an
    // edit begins its input, a list without a selection selects what is in view. Null: none.
    void set_focus(Element*);
    // The order Tab follows: the shown edits, lists and buttons, in skin order.
    std::vector<Element*> focus_chain();

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
    void move_focus(bool forward);
    void draw_focus_ring(DrawTarget const&, Point offset, Element& focused);
    Colour m_outside_colour;
    Colour m_focus_colour;
    int32_t m_focus_width { 2 };
    // Only compared with shown elements before use: the element may be gone.
    Element* m_focus { nullptr };
};

}
