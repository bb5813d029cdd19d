#include "skin/TextElement.h"

#include "platform/TextBoundaries.h"

#include "skin/FontRep.h"
#include "skin/Properties.h"

#include <algorithm>

namespace velloq {

namespace {

HorizontalAlign horizontal_from(std::u16string_view name)
{
    if (name == u"LEFT")
        return HorizontalAlign::Left;
    if (name == u"RIGHT")
        return HorizontalAlign::Right;
    if (name == u"JUSTIFY")
        return HorizontalAlign::Justify;
    return HorizontalAlign::Center;
}

VerticalAlign vertical_from(std::u16string_view name)
{
    if (name == u"TOP")
        return VerticalAlign::Top;
    if (name == u"BOTTOM")
        return VerticalAlign::Bottom;
    return VerticalAlign::Center;
}

}

std::u16string prepare_text(std::u16string_view text, bool wrap)
{
    std::u16string prepared;
    prepared.reserve(text.size());
    for (char16_t c : text) {
        if (c == u'\t')
            prepared.append(4, u' ');
        else if (!wrap && (c == u'\r' || c == u'\n'))
            prepared.push_back(u' ');
        else if (c != u'\r')
            prepared.push_back(c);
    }
    return prepared;
}

void TextElement::load(Properties const& skin, Section const& section)
{
    Element::load(skin, section);
    m_font = skin.get_font(section, u"font", skin.default_font());
    m_grow_min = skin.get_int(section, u"grow_min", 0) != 0;
    m_grow = m_grow_min || skin.get_int(section, u"grow", 0) != 0;
    m_colour = skin.get_colour(section, u"color", {});
    m_halign = horizontal_from(skin.get_string(section, u"halign", {}));
    m_valign = vertical_from(skin.get_string(section, u"valign", {}));
    m_wrap = skin.get_int(section, u"wrap", 0) != 0;
    m_left = find_by_id(u"#left");
    m_right = find_by_id(u"#right");
    std::u16string key = skin.get_string(section, u"text", {});
    set_text(key.empty() ? std::u16string() : skin.language().text_of(key));
}

void TextElement::set_text_by_id(std::u16string_view id, std::u16string const& text)
{
    if (!id.empty() && id == this->id())
        set_text(text);
    Element::set_text_by_id(id, text);
}

void TextElement::set_text(std::u16string const& text)
{
    std::u16string prepared = prepare_text(text, m_wrap);
    if (prepared == m_text)
        return;
    m_text = std::move(prepared);
    m_fitted_stale = true;
    m_runs.clear();
    if (m_grow || m_wrap)
        invalidate_layout();
    set_needs_redraw();
}

void TextElement::set_runs(std::vector<ColourRun> runs)
{
    // Kept in the order of their starts, so that a line finds its first run by halving.
    std::stable_sort(runs.begin(), runs.end(), [](ColourRun const& a, ColourRun const& b) { return a.start < b.start; });
    m_runs = std::move(runs);
    set_needs_redraw();
}

void TextElement::set_colour(Colour colour)
{
    if (colour == m_colour)
        return;
    m_colour = colour;
    set_needs_redraw();
}

std::vector<std::u16string> TextElement::lines() const
{
    return lines_of(m_text);
}

std::vector<std::u16string> TextElement::lines_of(std::u16string const& text) const
{
    if (!m_font)
        return {};
    if (!m_wrap)
        return { text };
    return m_font->break_lines(text, std::max(1, size().x));
}

void TextElement::draw_lines(DrawTarget const& target, Point offset, std::u16string const& text) const
{
    // The font's own broken lines, not a copy: drawing shapes lines but breaks none.
    std::vector<std::u16string> unwrapped;
    if (!m_wrap)
        unwrapped.push_back(text);
    auto const& text_lines = m_wrap ? m_font->break_lines(text, std::max(1, size().x)) : unwrapped;
    int32_t y = text_top(text_lines.size()) + offset.y;
    DrawTarget clipped { intersection(target.rect, { position().x + offset.x, position().y + offset.y, size().x, size().y }), target.picture };
    size_t first_character = 0;
    auto base = platform::BaseDirection::FirstStrong;
    for (auto const& line : text_lines) {
        base = line_direction(text, first_character, base);
        // Only the lines inside the clip are drawn; the others only count their characters.
        bool visible = y + m_font->line_height() > clipped.rect.top && y < clipped.rect.top + clipped.rect.height;
        if (visible)
            draw_line(clipped, line_x(line, base) + offset.x, y, line, first_character, base);
        y += m_font->line_height();
        first_character += line.size();
        // A wrapped line ends at a blank or line feed that is not drawn.
        if (first_character < text.size() && (text[first_character] == u' ' || text[first_character] == u'\n'))
            ++first_character;
    }
}

void TextElement::measure(Axis axis, Measure& measure)
{
    Element::measure(axis, measure);
    if (!m_font)
        return;
    int32_t need = 0;
    if (axis == Axis::Horizontal && m_grow && !m_wrap)
        need = m_font->measure(m_text);
    else if (axis == Axis::Vertical && (m_grow || m_wrap))
        need = static_cast<int32_t>(lines().size()) * m_font->line_height();
    measure.preferred = std::max(measure.preferred, need);
    if (m_grow_min || (axis == Axis::Vertical && m_wrap))
        measure.minimum = std::max(measure.minimum, need);
}

platform::BaseDirection TextElement::line_direction(std::u16string const& text, size_t at, platform::BaseDirection current)
{
    if (at > 0 && at <= text.size() && text[at - 1] != u'\n' && current != platform::BaseDirection::FirstStrong)
        return current;
    bool backwards = platform::starts_right_to_left(std::u16string_view(text).substr(std::min(at, text.size())));
    return backwards ? platform::BaseDirection::RightToLeft : platform::BaseDirection::LeftToRight;
}

int32_t TextElement::line_x(std::u16string const& line, platform::BaseDirection base) const
{
    int32_t width = m_font ? m_font->measure(line) : 0;
    // Text that starts at the left starts at the right when it is written right to left.
    bool backwards = base == platform::BaseDirection::FirstStrong ? (m_font && m_font->is_right_to_left(line)) : base == platform::BaseDirection::RightToLeft;
    HorizontalAlign align = m_halign;
    if ((align == HorizontalAlign::Left || align == HorizontalAlign::Justify) && backwards)
        align = HorizontalAlign::Right;
    switch (align) {
    case HorizontalAlign::Center:
        return position().x + (size().x - width) / 2;
    case HorizontalAlign::Right:
        return position().x + size().x - width;
    default:
        return position().x;
    }
}

int32_t TextElement::text_top(size_t line_count) const
{
    int32_t height = static_cast<int32_t>(line_count) * (m_font ? m_font->line_height() : 0);
    switch (m_valign) {
    case VerticalAlign::Top:
        return position().y;
    case VerticalAlign::Bottom:
        return position().y + size().y - height;
    default:
        return position().y + (size().y - height) / 2;
    }
}

void TextElement::place_children(Axis axis)
{
    Element::place_children(axis);
    if (axis != Axis::Horizontal || !m_font || (!m_left && !m_right))
        return;
    // The end pieces follow the text rather than the element's edges.
    int32_t start = line_x(m_wrap ? std::u16string() : m_text);
    if (m_left)
        m_left->set_horizontal(start - m_left->size().x, m_left->size().x);
    if (m_right)
        m_right->set_horizontal(start + m_font->measure(m_text), m_right->size().x);
}

void TextElement::draw_line(DrawTarget const& target, int32_t x, int32_t y, std::u16string const& line, size_t first_character,
    platform::BaseDirection base) const
{
    if (m_runs.empty()) {
        m_font->draw(target, x, y, line, m_colour.to_565(), {}, base);
        return;
    }
    // The line is drawn whole (so it keeps its shaping and order) with the colour runs that reach
    // into it. Only the runs from the one that ends after the line's start on are looked at: a
    // text with tens of thousands of links costs per line what a line holds, not what the text holds.
    auto first_run = std::lower_bound(m_runs.begin(), m_runs.end(), first_character, [](ColourRun const& run, size_t at) { return run.start < at; });
    while (first_run != m_runs.begin() && std::prev(first_run)->start + std::prev(first_run)->length > first_character)
        --first_run;
    std::vector<ColourSpan> spans;
    for (auto run = first_run; run != m_runs.end() && run->start < first_character + line.size(); ++run) {
        size_t start = std::max(run->start, first_character);
        size_t end = std::min(run->start + run->length, first_character + line.size());
        if (end > start)
            spans.push_back({ start - first_character, end - start, run->colour.to_565() });
    }
    m_font->draw(target, x, y, line, m_colour.to_565(), spans, base);
}

// A single line that does not fit ends in "…" where it is cut, so the reader sees that more
// follows; characters keep their places, so colour runs still line up.
std::u16string TextElement::fitted_line(std::u16string const& line) const
{
    int32_t room = size().x;
    if (m_wrap || room <= 0)
        return line;
    // No glyph is narrower than half a pixel: what lies beyond that many characters is never
    // measured, so a megabyte-long line costs no more than a short one.
    size_t longest = static_cast<size_t>(room) * 2 + 8;
    std::u16string_view head = std::u16string_view(line).substr(0, longest);
    if (head.size() == line.size() && m_font->measure(line) <= room)
        return line;
    constexpr std::u16string_view ellipsis = u"\u2026";
    auto with_ellipsis = [&](size_t keep) {
        // Never split a character as the reader sees it (an emoji sequence, a syllable), and
        // leave no blank before the ellipsis.
        keep = platform::grapheme_edge_at_or_before(head, keep);
        std::u16string candidate(head.substr(0, keep));
        while (!candidate.empty() && candidate.back() == u' ')
            candidate.pop_back();
        return candidate + std::u16string(ellipsis);
    };
    // The longest prefix that fits with the ellipsis, by halving.
    size_t low = 0;
    size_t high = head.size();
    while (low < high) {
        size_t middle = (low + high + 1) / 2;
        if (m_font->measure(with_ellipsis(middle)) <= room)
            low = middle;
        else
            high = middle - 1;
    }
    return with_ellipsis(low);
}

void TextElement::draw_self(DrawTarget const& target, Point offset)
{
    if (m_font && !m_text.empty() && !m_wrap) {
        // One line, shortened once per text and width rather than at every frame.
        if (m_fitted_width != size().x || m_fitted_font != m_font || m_fitted_stale) {
            m_fitted = fitted_line(m_text);
            m_fitted_width = size().x;
            m_fitted_font = m_font;
            m_fitted_stale = false;
        }
        DrawTarget clipped { intersection(target.rect, { position().x + offset.x, position().y + offset.y, size().x, size().y }), target.picture };
        draw_line(clipped, line_x(m_fitted) + offset.x, text_top(1) + offset.y, m_fitted, 0);
    } else if (m_font && !m_text.empty()) {
        draw_lines(target, offset, m_text);
    }
    draw_children(target, offset);
}

}
