#include "skin/ButtonElement.h"

#include "skin/Properties.h"

#include <cstdlib>

namespace velloq {

void ButtonElement::load(Properties const& skin, Section const& section)
{
    Element::load(skin, section);
    m_normal = find_by_id(u"#normal");
    m_pressed_child = find_by_id(u"#pressed");
    m_disabled = find_by_id(u"#disabled");
    std::u16string key = skin.get_string(section, u"bind_key", {});
    m_bound_key = key.empty() ? std::nullopt : key_code_from_name(key);
    std::u16string caption = skin.get_string(section, u"text", {});
    if (!caption.empty())
        set_text(skin.language().text_of(caption));
    show_state();
}

void ButtonElement::set_text(std::u16string const& caption)
{
    m_caption = caption;
    set_text_by_id(u"#text", caption);
}

void ButtonElement::show_state()
{
    Element* chosen = !is_enabled() ? m_disabled : m_pressed ? m_pressed_child : m_normal;
    if (!chosen)
        chosen = m_normal;
    for (Element* child : { m_normal, m_pressed_child, m_disabled }) {
        if (child)
            child->set_visible(child == chosen);
    }
    set_needs_redraw();
}

void ButtonElement::enabled_changed(bool effective)
{
    Element::enabled_changed(effective);
    if (!effective)
        m_pressed = false;
    show_state();
}

void ButtonElement::fire()
{
    // A copy runs: a press may rebuild what holds the button (a menu's next page), and this one
    // with it.
    if (auto press = on_press)
        press();
}

bool ButtonElement::pointer_button(PointerEvent const& event)
{
    if (!is_enabled())
        return false;
    if (event.pressed) {
        m_pressed = true;
        m_press = { event.x, event.y };
        show_state();
        return true;
    }
    // The button under the finger when it went down acts, even when the form moved under a
    // finger that did not (typing ended with this tap and the layout changed).
    bool fires = m_pressed && !event.cancelled && (hit_test(event) || is_tap(event));
    m_pressed = false;
    show_state();
    if (fires)
        fire();
    return true;
}

bool ButtonElement::pointer_move(PointerEvent const& event)
{
    // Sliding off the button lets it go; the release then fires nothing.
    if (m_pressed && !hit_test(event) && !is_tap(event)) {
        m_pressed = false;
        show_state();
    }
    return true;
}

bool ButtonElement::is_tap(PointerEvent const& event) const
{
    return std::abs(event.x - m_press.x) < tap_distance && std::abs(event.y - m_press.y) < tap_distance;
}

bool ButtonElement::key(KeyEvent const& event)
{
    if (!m_bound_key || event.code != *m_bound_key)
        return false;
    return press_by_key(event);
}

bool ButtonElement::focused_key(KeyEvent const& event)
{
    if (event.code != Key::Enter && event.code != Key::Space)
        return false;
    return press_by_key(event);
}

bool ButtonElement::press_by_key(KeyEvent const& event)
{
    if (!is_enabled())
        return false;
    if (event.pressed) {
        if (event.first) {
            m_pressed = true;
            show_state();
        }
        return true;
    }
    bool fires = m_pressed;
    m_pressed = false;
    show_state();
    if (fires)
        fire();
    return true;
}

}
