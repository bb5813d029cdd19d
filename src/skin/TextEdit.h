#pragma once

#include "shell/EditElement.h"
#include "skin/TextElement.h"

#include <functional>

namespace velloq {

// "edit": a text the user types into. It draws its text with a caret, on one line that scrolls
// to keep the caret in view, or wrapped when the skin sets "wrap". While it has the input it
// takes characters and the editing keys (Backspace, Del, Left, Right, Up, Down, Home, End), and
// the shell shows the platform's text input (an on-screen keyboard where there is one) over it.
//
// The entry flag: an edit with `set_types_without_tap(true)` takes typed characters and
// editing keys whenever its form is on top, without being tapped first; a filter or a template
// text is typed straight away. Other edits get the input when tapped.
class TextEdit : public TextElement, public EditElement {
public:
    void load(Properties const&, Section const&) override;
    void set_text(std::u16string const& text) override;
    void draw_self(DrawTarget const& target, Point offset) override;
    bool pointer_button(PointerEvent const&) override;
    bool key(KeyEvent const&) override;
    bool text_input(std::u16string const&) override;
    void advance(double seconds) override;
    void visibility_changed(bool effective) override;

    // After every change of the text.
    std::function<void()> on_change;
    // Enter (without Shift) in the edit; true when it was acted on (a chat sends).
    std::function<bool()> on_enter;
    void set_types_without_tap(bool on) { m_types_without_tap = on; }
    bool types_without_tap() const { return m_types_without_tap; }
    bool has_input() const { return m_has_input; }
    // Gives the edit the input (the shell's text entry starts) or takes it away.
    void begin_input();
    void end_input();
    // The focus gives it the input.
    bool takes_focus() const override { return true; }
    void focus_changed(bool focused) override { focused ? begin_input() : end_input(); }
    size_t caret() const { return m_caret; }
    bool all_selected() const { return m_all_selected; }
    Colour background() const { return m_background; }

    // EditElement.
    Rect edit_rect() const override { return rect(); }
    bool edit_multi_line() const override { return wraps(); }
    void edit_caret_to_end() override;
    std::u16string const& edit_text() const override { return text(); }
    size_t edit_caret() const override { return m_caret; }
    void edit_compose(std::u16string const& composing) override;
    void edit_delete_around(size_t before, size_t after) override;
    std::u16string const& composing() const { return m_composing; }

private:
    void changed();
    bool shortcut(KeyEvent const&);
    void drop_selection();
    void move_caret(size_t caret);
    size_t line_start(size_t at) const;
    // The text as drawn: what an input method composes stands at the caret.
    std::u16string shown_text() const;
    struct PlacedLine {
        std::u16string text;
        size_t first { 0 };
        platform::BaseDirection base { platform::BaseDirection::FirstStrong };
    };
    std::vector<PlacedLine> placed_lines(std::u16string const& shown) const;
    Point caret_point(std::u16string const& shown, size_t at) const;
    size_t caret_at(Point) const;
    int32_t line_left(std::u16string const& shown) const;
    void draw_caret(DrawTarget const& clipped, Point offset, std::u16string const& shown) const;
    int32_t caret_width() const;

    Colour m_background;
    size_t m_caret { 0 };
    int32_t m_scroll { 0 };
    bool m_has_input { false };
    bool m_all_selected { false };
    bool m_types_without_tap { false };
    double m_blink { 0 };
    std::u16string m_composing;
};

// "label_edit": an edit ("#edit") and a label ("#text") in one place. The label shows while the
// edit is empty and has no input, the edit otherwise; the edit's changes are passed on.
class LabelEdit final : public Element {
public:
    void load(Properties const&, Section const&) override;
    bool pointer_button(PointerEvent const&) override;
    TextEdit& edit() { return *m_edit; }
    // After every change of the edit's text.
    std::function<void()> on_change;
    void update();

private:
    TextEdit* m_edit { nullptr };
    TextElement* m_label { nullptr };
};

}
