#include "skin/Form.h"

#include "skin/Properties.h"
#include "skin/TextEdit.h"

#include <algorithm>
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

// As `visit`, and into what elements hold outside their children (the items a list has built).
bool visit_with_items(Element& element, std::function<bool(Element&)> const& visitor)
{
    return visit(element, [&](Element& each) {
        return visitor(each) || each.visit_held([&](Element& held) { return visit_with_items(held, visitor); });
    });
}

bool inside(Element& element, Element& ancestor)
{
    for (Element* up = element.parent(); up; up = up->parent()) {
        if (up == &ancestor)
            return true;
    }
    return false;
}


}

void Form::load(Properties const& skin, Section const& section)
{
    Element::load(skin, section);
    m_outside_colour = skin.get_colour(section, u"outside_color", { 0, 0, 0, 255 });
    m_focus_colour = skin.get_colour(section, u"focus_color", { 0x1a, 0x73, 0xe8, 255 });
    m_focus_width = std::max(1, skin.get_int(section, u"focus_width", 2)) << skin.shift();
}

void Form::draw_self(DrawTarget const& target, Point offset)
{
    Element::draw_self(target, offset);
    if (Element* element = focused())
        draw_focus_ring(target, offset, *element);
}

// A ring inside the element's edges, so a screen's border never clips it; an item's ring stays
// inside its list.
void Form::draw_focus_ring(DrawTarget const& target, Point offset, Element& element)
{
    Rect clip = target.rect;
    for (Element* up = element.parent(); up && up != this; up = up->parent()) {
        if (up->clips_held())
            clip = intersection(clip, { up->position().x + offset.x, up->position().y + offset.y, up->size().x, up->size().y });
    }
    Rect box { element.position().x + offset.x, element.position().y + offset.y, element.size().x, element.size().y };
    int32_t width = std::min({ m_focus_width, box.width / 2, box.height / 2 });
    if (width <= 0)
        return;
    uint16_t colour = m_focus_colour.to_565();
    fill_rect(*target.picture, { box.left, box.top, box.width, width }, clip, colour);
    fill_rect(*target.picture, { box.left, box.top + box.height - width, box.width, width }, clip, colour);
    fill_rect(*target.picture, { box.left, box.top, width, box.height }, clip, colour);
    fill_rect(*target.picture, { box.left + box.width - width, box.top, width, box.height }, clip, colour);
}

Element* Form::focused()
{
    if (!m_focus)
        return nullptr;
    bool shown = visit_with_items(*this, [&](Element& element) { return &element == m_focus; });
    if (!shown)
        m_focus = nullptr;
    return m_focus;
}

void Form::set_focus(Element* element)
{
    Element* before = focused();
    if (before == element)
        return;
    if (before)
        before->focus_changed(false);
    m_focus = element;
    if (element)
        element->focus_changed(true);
    set_needs_redraw();
}

std::vector<Element*> Form::focus_chain()
{
    std::vector<Element*> chain;
    visit(*this, [&](Element& element) {
        if (element.takes_focus())
            chain.push_back(&element);
        return false;
    });
    return chain;
}

void Form::move_focus(bool forward)
{
    std::vector<Element*> chain = focus_chain();
    if (chain.empty())
        return;
    auto at = std::find(chain.begin(), chain.end(), focused());
    auto count = static_cast<ptrdiff_t>(chain.size());
    ptrdiff_t index = at == chain.end() ? (forward ? 0 : count - 1) : (at - chain.begin() + (forward ? 1 : count - 1)) % count;
    set_focus(chain[static_cast<size_t>(index)]);
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
    if (event.code == Key::Tab && !event.control) {
        if (event.pressed)
            move_focus(!event.shift);
        return true;
    }
    // Enter and Space press the focused button even while an edit types without a tap.
    if (Element* element = focused(); element && element->focused_key(event))
        return true;
    // An edit that types without a tap (a filter above a list) leaves the list's keys to a list
    // that takes them.
    TextEdit* edit = typing_edit();
    bool list_move = event.code == Key::Up || event.code == Key::Down || event.code == Key::PageUp || event.code == Key::PageDown
        || event.code == Key::Home || event.code == Key::End;
    if (edit && list_move && !edit->has_input())
        return key_without_edit(event) || edit->key(event);
    if (edit && edit->key(event))
        return true;
    return key_without_edit(event);
}

bool Form::key_without_edit(KeyEvent const& event)
{
    bool handled = visit(*this, [&](Element& element) { return element.bound_key_event(event); });
    return handled || on_form_key(event) || list_key(event);
}

// Keys no one else took move through the form's first list that is shown.
bool Form::list_key(KeyEvent const& event)
{
    Element* moved = nullptr;
    visit(*this, [&](Element& element) {
        if (element.navigation_key(event))
            moved = &element;
        return moved != nullptr;
    });
    // The focus follows the arrows into the list, so the ring never stays on a button behind;
    // from a button inside one of its items the selection alone shows where the keys are.
    if (moved && event.pressed && focused() && m_focus != moved)
        set_focus(inside(*m_focus, *moved) ? nullptr : moved);
    return moved != nullptr;
}

bool Form::text_input(std::u16string const& text)
{
    // The space that comes with a Space key pressing the focused button is not text.
    if (Element* element = focused(); text == u" " && element && element->acts_on_space())
        return true;
    TextEdit* edit = typing_edit();
    if (!edit || !edit->text_input(text))
        return false;
    if (m_focus && focused() != edit)
        set_focus(edit);
    return true;
}

bool Form::pointer_button(PointerEvent const& event)
{
    // A press outside the edit that has the input ends the typing.
    if (event.pressed) {
        if (TextEdit* edit = typing_edit(); edit && edit->has_input() && !edit->hit_test(event))
            edit->end_input();
        // The ring is for keyboard use; a finger or a mouse takes it away.
        if (m_focus) {
            m_focus = nullptr;
            set_needs_redraw();
        }
    }
    return Element::pointer_button(event);
}

}
