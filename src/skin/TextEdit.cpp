#include "skin/TextEdit.h"

#include "platform/TextBoundaries.h"

#include "platform/Clipboard.h"
#include "shell/Application.h"
#include "skin/Exceptions.h"
#include "skin/FontRep.h"
#include "skin/Properties.h"

#include <algorithm>
#include <cmath>

namespace velloq {

namespace {

constexpr double blink_period = 1.0;
// Behind selected text: a light blue that dark text stays readable on.
constexpr Colour selection_colour { 0xBF, 0xDB, 0xFE, 255 };

}

void TextEdit::load(Properties const& skin, Section const& section)
{
    TextElement::load(skin, section);
    // Without a background colour in the skin the edit draws none, and the picture beneath it shows.
    m_background = skin.get_colour(section, u"background_color", Colour { 0, 0, 0, 0 });
    m_caret = text().size();
}

void TextEdit::set_text(std::u16string const& text)
{
    m_all_selected = false;
    m_composing.clear();
    TextElement::set_text(text);
    m_caret = this->text().size();
    set_needs_redraw();
}

void TextEdit::edit_caret_to_end()
{
    move_caret(text().size());
}

void TextEdit::edit_compose(std::u16string const& composing)
{
    if (composing == m_composing)
        return;
    m_composing = composing;
    m_blink = 0;
    set_needs_redraw();
}

void TextEdit::edit_delete_around(size_t before, size_t after)
{
    std::u16string edited = text();
    size_t first = m_caret - std::min(before, m_caret);
    size_t end = std::min(edited.size(), m_caret + after);
    if (first == end)
        return;
    edited.erase(first, end - first);
    TextElement::set_text(edited);
    m_all_selected = false;
    move_caret(first);
    changed();
}

std::u16string TextEdit::shown_text() const
{
    if (m_composing.empty())
        return text();
    std::u16string shown = text();
    shown.insert(std::min(m_caret, shown.size()), m_composing);
    return shown;
}

void TextEdit::move_caret(size_t caret)
{
    m_caret = std::min(caret, text().size());
    m_blink = 0;
    set_needs_redraw();
}

void TextEdit::changed()
{
    set_needs_redraw();
    // A copy: what runs may set another.
    if (auto call = on_change)
        call();
}

void TextEdit::begin_input()
{
    if (m_has_input)
        return;
    m_has_input = true;
    m_blink = 0;
    if (auto* application = Application::instance())
        application->set_edit(this, true);
    set_needs_redraw();
}

void TextEdit::end_input()
{
    if (!m_has_input)
        return;
    m_has_input = false;
    m_all_selected = false;
    m_composing.clear();
    if (auto* application = Application::instance())
        application->set_edit(nullptr, false);
    set_needs_redraw();
}

void TextEdit::visibility_changed(bool effective)
{
    TextElement::visibility_changed(effective);
    if (!effective)
        end_input();
}

// A tap gives the edit the input, and the caret goes where it was tapped.
bool TextEdit::pointer_button(PointerEvent const& event)
{
    if (event.pressed || event.cancelled || !hit_test(event))
        return true;
    begin_input();
    if (m_composing.empty())
        move_caret(caret_at({ event.x, event.y }));
    return true;
}

// The wrapped lines of `shown`, each with the place of its first character in it.
std::vector<TextEdit::PlacedLine> TextEdit::placed_lines(std::u16string const& shown) const
{
    std::vector<PlacedLine> placed;
    size_t first = 0;
    auto base = platform::BaseDirection::FirstStrong;
    for (auto& line : lines_of(shown)) {
        size_t size = line.size();
        base = line_direction(shown, first, base);
        placed.push_back({ std::move(line), first, base });
        first += size;
        // A wrapped line ends at a blank or line feed that is not drawn.
        if (first < shown.size() && (shown[first] == u' ' || shown[first] == u'\n'))
            ++first;
    }
    if (placed.empty())
        placed.push_back({ {}, 0 });
    return placed;
}

// Where the caret stands before character `at` of `shown`, in the element's drawing (no offset).
Point TextEdit::caret_point(std::u16string const& shown, size_t at) const
{
    FontRep* text_font = font();
    if (!wraps())
        return { line_left(shown) + text_font->shape(shown).caret_x(at), text_top(1) };
    auto placed = placed_lines(shown);
    size_t index = 0;
    while (index + 1 < placed.size() && placed[index + 1].first <= at)
        ++index;
    auto const& line = placed[index];
    size_t within = std::min(at - std::min(at, line.first), line.text.size());
    int32_t x = line_x(line.text, line.base) + text_font->shape(line.text, line.base).caret_x(within);
    return { x, text_top(placed.size()) + static_cast<int32_t>(index) * text_font->line_height() };
}

// The character a point is nearest to, as a caret position in the text.
size_t TextEdit::caret_at(Point point) const
{
    FontRep* text_font = font();
    if (!text_font)
        return text().size();
    auto placed = wraps() ? placed_lines(text()) : std::vector<PlacedLine> { { text(), 0 } };
    int32_t top = wraps() ? text_top(placed.size()) : text_top(1);
    auto row = std::clamp<int32_t>((point.y - top) / std::max(1, text_font->line_height()), 0, static_cast<int32_t>(placed.size()) - 1);
    auto const& line = placed[static_cast<size_t>(row)];
    int32_t left = wraps() ? line_x(line.text, line.base) : line_left(line.text);
    return line.first + text_font->shape(line.text, line.base).caret_at(point.x - left);
}

// Where a one-line edit's text begins: aligned as a text while it fits and the edit is idle,
// else scrolled so the caret stays in view.
int32_t TextEdit::line_left(std::u16string const& shown) const
{
    if (font()->measure(shown) <= size().x && !m_has_input)
        return line_x(shown);
    return position().x - m_scroll;
}

void TextEdit::draw_caret(DrawTarget const& clipped, Point offset, std::u16string const& shown) const
{
    if (!m_has_input || !clipped.picture || std::fmod(m_blink, blink_period) >= blink_period / 2)
        return;
    Point at = caret_point(shown, m_caret + m_composing.size());
    fill_rect(*clipped.picture, { at.x + offset.x, at.y + offset.y, caret_width(), font()->line_height() }, clipped.rect, colour().to_565());
}

// One pixel wide, two on a screen of twice the pixels, so it is as easy to see everywhere.
int32_t TextEdit::caret_width() const
{
    return std::max(1, font()->line_height() / 16);
}

size_t TextEdit::line_start(size_t at) const
{
    size_t found = text().rfind(u'\n', at == 0 ? 0 : at - 1);
    return found == std::u16string::npos || at == 0 ? 0 : found + 1;
}

// The desktop's shortcuts: Ctrl+A selects the whole text; Ctrl+C and Ctrl+X copy or cut the
// selection (the whole text when nothing is selected, as a message field has no other use for
// them); Ctrl+V pastes over the selection or at the caret.
bool TextEdit::shortcut(KeyEvent const& event)
{
    // The letter keys' codes run from A to Z in order.
    char letter = event.code >= Key::A && event.code <= Key::Z ? static_cast<char>('A' + (event.code - Key::A)) : 0;
    switch (letter) {
    case 'A':
        m_all_selected = !text().empty();
        set_needs_redraw();
        return true;
    case 'C':
        platform::set_clipboard_text(text());
        return true;
    case 'X':
        platform::set_clipboard_text(text());
        m_all_selected = false;
        TextElement::set_text({});
        move_caret(0);
        changed();
        return true;
    case 'V':
        if (std::u16string pasted = platform::clipboard_text(); !pasted.empty())
            text_input(pasted);
        return true;
    default:
        return false;
    }
}

// Typing or deleting over the selection replaces the whole text.
void TextEdit::drop_selection()
{
    if (!m_all_selected)
        return;
    m_all_selected = false;
    TextElement::set_text({});
    move_caret(0);
}

bool TextEdit::key(KeyEvent const& event)
{
    if ((!m_has_input && !m_types_without_tap) || !event.pressed)
        return false;
    if (event.control)
        return shortcut(event);
    if (m_all_selected && (event.code == Key::Backspace || event.code == Key::Del)) {
        drop_selection();
        changed();
        return true;
    }
    if (m_all_selected) {
        m_all_selected = false;
        set_needs_redraw();
    }
    std::u16string edited = text();
    switch (event.code) {
    case Key::Backspace:
        if (m_caret == 0)
            return m_has_input;
        {
            // A whole character as the reader sees it goes: never half an emoji or a lone mark.
            size_t from = platform::previous_grapheme(edited, m_caret);
            edited.erase(from, m_caret - from);
            TextElement::set_text(edited);
            move_caret(from);
        }
        changed();
        return true;
    case Key::Del:
        if (m_caret < edited.size()) {
            edited.erase(m_caret, platform::next_grapheme(edited, m_caret) - m_caret);
            TextElement::set_text(edited);
            changed();
        }
        return true;
    // The arrows step through the text in its order, a character as the reader sees it at a time.
    case Key::Left:
        move_caret(platform::previous_grapheme(edited, m_caret));
        return true;
    case Key::Right:
        move_caret(platform::next_grapheme(edited, m_caret));
        return true;
    case Key::Home:
        move_caret(wraps() ? line_start(m_caret) : 0);
        return true;
    case Key::End: {
        size_t end = wraps() ? edited.find(u'\n', m_caret) : std::u16string::npos;
        move_caret(end == std::u16string::npos ? edited.size() : end);
        return true;
    }
    case Key::Enter:
        if (!event.shift && on_enter && std::function<bool()>(on_enter)())
            return true;
        // Shift+Enter asks for a line break even where the edit shows one line (as a blank).
        if (!wraps() && !event.shift)
            return false;
        return text_input(u"\n");
    default:
        return false;
    }
}

bool TextEdit::text_input(std::u16string const& characters)
{
    if (!m_has_input && !m_types_without_tap)
        return false;
    drop_selection();
    std::u16string edited = text();
    std::u16string prepared = prepare_text(characters, wraps());
    edited.insert(m_caret, prepared);
    size_t caret = m_caret + prepared.size();
    TextElement::set_text(edited);
    move_caret(caret);
    changed();
    return true;
}

void TextEdit::advance(double seconds)
{
    TextElement::advance(seconds);
    if (!m_has_input)
        return;
    // A window in the background keeps its caret shown and still: nothing to redraw while idle.
    if (auto* application = Application::instance(); application && !application->is_in_front()) {
        if (std::exchange(m_blink, 0.0) >= blink_period / 2)
            set_needs_redraw();
        return;
    }
    bool shown_before = std::fmod(m_blink, blink_period) < blink_period / 2;
    m_blink += seconds;
    if (shown_before != (std::fmod(m_blink, blink_period) < blink_period / 2))
        set_needs_redraw();
}

void TextEdit::draw_self(DrawTarget const& target, Point offset)
{
    Rect box { position().x + offset.x, position().y + offset.y, size().x, size().y };
    DrawTarget clipped { intersection(target.rect, box), target.picture };
    if (m_has_input && target.picture && m_background.alpha != 0)
        fill_rect(*target.picture, box, clipped.rect, m_background.to_565());
    if (m_all_selected && target.picture)
        fill_rect(*target.picture, box, clipped.rect, selection_colour.to_565());
    FontRep* text_font = font();
    if (!text_font) {
        draw_children(target, offset);
        return;
    }
    if (wraps() && m_composing.empty()) {
        TextElement::draw_self(target, offset);
        draw_caret(clipped, offset, text());
    } else if (wraps()) {
        std::u16string shown = shown_text();
        draw_lines(target, offset, shown);
        draw_caret(clipped, offset, shown);
        draw_children(target, offset);
    } else {
        // One line that scrolls so the caret (behind what is being composed) stays inside the box.
        std::u16string shown = shown_text();
        int32_t caret_x = text_font->shape(shown).caret_x(m_caret + m_composing.size());
        if (caret_x - m_scroll > size().x - 2)
            m_scroll = caret_x - size().x + 2;
        if (caret_x - m_scroll < 0)
            m_scroll = caret_x;
        int32_t x = line_left(shown) + offset.x;
        int32_t y = text_top(1) + offset.y;
        draw_line(clipped, x, y, shown, 0);
        if (!m_composing.empty() && target.picture) {
            // What is being composed is underlined, as every input method's text is.
            int32_t from = text_font->shape(shown).caret_x(m_caret);
            fill_rect(*target.picture, { x + std::min(from, caret_x), y + text_font->line_height() - 1, std::abs(caret_x - from), 1 }, clipped.rect, colour().to_565());
        }
        draw_caret(clipped, offset, shown);
        draw_children(target, offset);
    }
}

void LabelEdit::load(Properties const& skin, Section const& section)
{
    Element::load(skin, section);
    m_edit = dynamic_cast<TextEdit*>(find_by_id(u"#edit"));
    m_label = dynamic_cast<TextElement*>(find_by_id(u"#text"));
    if (!m_edit)
        throw dravel::NodeNotFound { id(), u"#edit" };
    if (!m_label)
        throw dravel::NodeNotFound { id(), u"#text" };
    m_edit->on_change = [this] {
        update();
        if (auto call = on_change)
            call();
    };
    update();
}

void LabelEdit::update()
{
    bool editing = m_edit->has_input() || !m_edit->text().empty();
    m_edit->set_visible(editing);
    m_label->set_visible(!editing);
}

bool LabelEdit::pointer_button(PointerEvent const& event)
{
    if (!event.pressed && !event.cancelled && hit_test(event)) {
        m_edit->begin_input();
        update();
    }
    return true;
}

}
