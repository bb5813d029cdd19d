#pragma once

#include "platform/TextBoundaries.h"

#include "shell/Colour.h"
#include "skin/Element.h"

#include <string>
#include <vector>

namespace velloq {

class FontRep;

enum class HorizontalAlign { Left = 0, Center = 1, Right = 2, Justify = 3 };
enum class VerticalAlign { Top = 0, Center = 1, Bottom = 2 };

// A stretch of a text's characters drawn in a colour of its own (links, filter matches).
struct ColourRun {
    size_t start { 0 };
    size_t length { 0 };
    Colour colour;
};

// Tabs become four spaces; unless the text wraps, line ends become blanks.
std::u16string prepare_text(std::u16string_view text, bool wrap);

// "text": a text in one font, aligned in its rectangle, on one line or wrapped at its width;
// "#left" and "#right" children stand at the two ends of the text.
class TextElement : public Element {
public:
    void load(Properties const&, Section const&) override;
    void set_text_by_id(std::u16string_view id, std::u16string const& text) override;
    void draw_self(DrawTarget const& target, Point offset) override;
    void measure(Axis, Measure&) override;
    void place_children(Axis) override;

    // Replaces the text (no language lookup) and its colour runs.
    virtual void set_text(std::u16string const& text);
    std::u16string const& text() const { return m_text; }
    void set_runs(std::vector<ColourRun> runs);
    std::vector<ColourRun> const& runs() const { return m_runs; }
    void set_colour(Colour colour);
    Colour colour() const { return m_colour; }
    FontRep* font() const { return m_font; }
    bool wraps() const { return m_wrap; }
    HorizontalAlign horizontal_align() const { return m_halign; }
    VerticalAlign vertical_align() const { return m_valign; }
    // The lines as drawn at the element's present width.
    std::vector<std::u16string> lines() const;
    // Where the text starts inside the element, for the present lines.
    int32_t line_x(std::u16string const& line, platform::BaseDirection base = platform::BaseDirection::FirstStrong) const;
    // The direction of a wrapped line starting at `at`: a new paragraph's own (from its first
    // strong character), else `current`, its paragraph's, whatever the line starts with.
    static platform::BaseDirection line_direction(std::u16string const& text, size_t at, platform::BaseDirection current);
    int32_t text_top(size_t line_count) const;

protected:
    std::vector<std::u16string> lines_of(std::u16string const& text) const;
    // Draws `text` wrapped into the element's lines, in place of the element's own text.
    void draw_lines(DrawTarget const& target, Point offset, std::u16string const& text) const;
    void draw_line(DrawTarget const& target, int32_t x, int32_t y, std::u16string const& line, size_t first_character,
        platform::BaseDirection base = platform::BaseDirection::FirstStrong) const;
    std::u16string fitted_line(std::u16string const& line) const;

private:
    FontRep* m_font { nullptr };
    std::u16string m_text;
    // The one line as drawn (ending in "…" when it does not fit), for the width and font it was made for.
    std::u16string m_fitted;
    int32_t m_fitted_width { -1 };
    FontRep* m_fitted_font { nullptr };
    bool m_fitted_stale { true };
    std::vector<ColourRun> m_runs;
    bool m_grow { false };
    bool m_grow_min { false };
    Colour m_colour;
    HorizontalAlign m_halign { HorizontalAlign::Center };
    VerticalAlign m_valign { VerticalAlign::Center };
    bool m_wrap { false };
    Element* m_left { nullptr };
    Element* m_right { nullptr };
};

}
