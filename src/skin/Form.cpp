#include "skin/Form.h"

#include "skin/ButtonElement.h"
#include "skin/Properties.h"
#include "skin/TextEdit.h"
#include "skin/VList.h"

#include <functional>

namespace velloq {

namespace {

// Visits the visible, enabled elements of a tree, depth first, until the visitor says stop.
bool visit(Element& element, std::function<bool(Element&)> const& visitor)
{
    if (!element.is_visible() || !element.is_enabled())
        return false;
    if (visitor(element))
        return true;
    for (auto const& child : element.children()) {
        if (visit(*child, visitor))
            return true;
    }
    return false;
}

}

void Form::load(Properties const& skin, Section const& section)
{
    Element::load(skin, section);
    m_outside_colour = skin.get_colour(section, u"outside_color", { 0, 0, 0, 255 });
}

TextEdit* Form::typing_edit()
{
    TextEdit* with_input = nullptr;
    TextEdit* without_tap = nullptr;
    visit(*this, [&](Element& element) {
        if (auto* edit = dynamic_cast<TextEdit*>(&element)) {
            if (edit->has_input())
                with_input = edit;
            else if (edit->types_without_tap() && !without_tap)
                without_tap = edit;
        }
        return with_input != nullptr;
    });
    return with_input ? with_input : without_tap;
}

void Form::end_input()
{
    visit(*this, [](Element& element) {
        if (auto* edit = dynamic_cast<TextEdit*>(&element))
            edit->end_input();
        return false;
    });
}

bool Form::key(KeyEvent const& event)
{
    if (event.code == Key::Esc) {
        // Back from anywhere, typing or not: the edit lets go of the input and the form acts
        // as on the phone's back key.
        if (event.pressed)
            end_input();
        KeyEvent back = event;
        back.code = Key::Backspace;
        return key_without_edit(back);
    }
    if (TextEdit* edit = typing_edit(); edit && edit->key(event))
        return true;
    return key_without_edit(event);
}

bool Form::key_without_edit(KeyEvent const& event)
{
    bool handled = visit(*this, [&](Element& element) {
        auto* button = dynamic_cast<ButtonElement*>(&element);
        return button && button->bound_key() && button->key(event);
    });
    return handled || on_form_key(event) || list_key(event);
}

// Keys no one else took move through the form's first list that is shown.
bool Form::list_key(KeyEvent const& event)
{
    return visit(*this, [&](Element& element) {
        auto* list = dynamic_cast<VList*>(&element);
        return list && list->is_visible() && list->is_effectively_visible() && list->key(event);
    });
}

bool Form::text_input(std::u16string const& text)
{
    TextEdit* edit = typing_edit();
    return edit && edit->text_input(text);
}

bool Form::pointer_button(PointerEvent const& event)
{
    // A press outside the edit that has the input ends the typing.
    if (event.pressed) {
        if (TextEdit* edit = typing_edit(); edit && edit->has_input() && !edit->hit_test(event))
            edit->end_input();
    }
    return Element::pointer_button(event);
}

}
