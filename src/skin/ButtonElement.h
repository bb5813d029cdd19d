#pragma once

#include "shell/KeyCode.h"
#include "skin/BasicElements.h"

#include <optional>

namespace velloq {

// "button": one of its state children "#normal", "#pressed", "#disabled" shows at a time; a
// tap that is released on the button, or its bound key, reports a press to the listener. A
// press that slides off the button is released without firing.
class ButtonElement final : public Element {
public:
    void load(Properties const&, Section const&) override;
    bool pointer_button(PointerEvent const&) override;
    bool pointer_move(PointerEvent const&) override;
    void enabled_changed(bool effective) override;

    // Runs when the button fires (a tap, its bound key, Enter or Space while it has the focus).
    std::function<void()> on_press;
    // The caption goes to every text element with the id "#text" in the state children.
    void set_text(std::u16string const& caption);
    std::u16string const& caption() const { return m_caption; }
    std::optional<KeyCode> bound_key() const { return m_bound_key; }
    // The bound key, handed on by the form: a press shows "#pressed", the release fires.
    bool key(KeyEvent const&) override;
    // Enter or Space on the button that has the keyboard focus: pressed on the way down, fired
    // on the way up, like the bound key.
    bool focused_key(KeyEvent const&) override;
    bool takes_focus() const override { return true; }
    bool acts_on_space() const override { return true; }
    bool bound_key_event(KeyEvent const& event) override { return m_bound_key && key(event); }
    bool is_pressed() const { return m_pressed; }

private:
    void show_state();
    void fire();
    bool press_by_key(KeyEvent const&);

    Element* m_normal { nullptr };
    Element* m_pressed_child { nullptr };
    Element* m_disabled { nullptr };
    std::optional<KeyCode> m_bound_key;
    std::u16string m_caption;
    bool m_pressed { false };
    // Where the finger went down: a release within a finger's wobble of it is a tap.
    static constexpr int32_t tap_distance = 8;
    Point m_press;
    bool is_tap(PointerEvent const&) const;
};

}
