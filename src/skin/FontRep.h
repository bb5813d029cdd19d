#pragma once

#include "platform/FontFace.h"
#include "platform/TextBoundaries.h"
#include "skin/Blit.h"
#include "skin/ShapedLine.h"
#include "skin/TextCache.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velloq {

namespace platform {
class FontFace;
}

struct FontDescription {
    int32_t size { 12 };
    int32_t scale { 1 };
    bool bold { false };
    bool italic { false };
    bool underline { false };
    std::u16string face { u"Tahoma" };
    bool operator==(FontDescription const&) const = default;
};

// Reads "size bold italic underline face name" (the face may hold blanks); fields that are
// missing keep their defaults (12, no flags, "Tahoma").
FontDescription parse_font_description(std::u16string_view text, int32_t scale);

// A part of a line drawn in its own colour (a link, a search match): code units of the line.
struct ColourSpan {
    size_t start { 0 };
    size_t length { 0 };
    uint16_t colour { 0 };
};

// A font of the skins: the description's face matched to an installed face, with fallback
// faces for the scripts and emoji it lacks. Text is laid out as the platform's toolkits do: in
// runs by direction (the bidirectional algorithm) and by script and face, each shaped by
// HarfBuzz, and drawn from a glyph cache. Shaped lines and broken paragraphs are cached.
class FontRep {
public:
    FontRep(FontDescription const&, int32_t screen_dpi);
    ~FontRep();
    FontRep(FontRep const&) = delete;
    FontRep& operator=(FontRep const&) = delete;

    FontDescription const& description() const { return m_description; }
    // The requested height in the device's convention: -(size × scale × 96 / 72) pixels.
    int32_t height() const { return m_height; }
    bool is_null() const { return !m_face; }
    int32_t line_height() const { return m_line_height; }
    int32_t descent() const { return m_descent; }
    int32_t ascent() const { return m_line_height - m_descent; }

    // The line shaped and in reading order, on its own first strong character's direction or on
    // its paragraph's; valid until the next call that shapes.
    ShapedLine const& shape(std::u16string_view line, platform::BaseDirection base = platform::BaseDirection::FirstStrong);
    // The width of the text in pixels.
    int32_t measure(std::u16string_view text);
    // Whether the line's first strong character writes right to left.
    bool is_right_to_left(std::u16string_view line) { return shape(line).right_to_left; }
    // Draws one line with its top at y and its left end at x, cut to the target's clip;
    // anti-aliased in the colour, or in the colour of the span a character is in.
    void draw(DrawTarget const& target, int32_t x, int32_t y, std::u16string_view text, uint16_t colour, std::vector<ColourSpan> const& spans = {},
        platform::BaseDirection base = platform::BaseDirection::FirstStrong);
    // Breaks the text into lines no wider than `width`: at line feeds, else where the script
    // allows a break (between words; between syllables in Thai), and between characters inside
    // a word that alone is wider. A blank a line was broken at is left out. Valid until the next
    // call that breaks.
    std::vector<std::u16string> const& break_lines(std::u16string_view text, int32_t width);
    // The faces found so far, the first face first (for tests and the log).
    std::vector<platform::FontFace const*> faces() const;

private:
    ShapedLine shape_uncached(std::u16string_view line, platform::BaseDirection base = platform::BaseDirection::FirstStrong);
    void shape_run(std::u16string_view line, platform::DirectionRun const& run, ShapedLine& shaped, int32_t& pen, std::vector<bool>& backwards);
    void place_segment(std::u16string_view line, size_t start, size_t end, uint16_t face, int32_t script, bool right_to_left, ShapedLine& shaped, int32_t& pen);
    uint16_t face_for_cluster(std::u16string_view line, size_t start, size_t end, uint16_t previous);
    uint16_t face_slot_for(char32_t, bool colour);
    uint16_t find_fallback(char32_t, bool colour);
    platform::FontFace* face_at(uint16_t slot) const;
    platform::GlyphImage const& glyph(uint16_t face, uint32_t index);
    struct LineRange {
        size_t start;
        size_t drawn_end;
        size_t next;
    };
    void break_paragraph(std::u16string_view paragraph, int32_t width, std::vector<std::u16string>& lines);
    std::vector<LineRange> line_ranges(std::u16string_view paragraph, ShapedLine const& shaped, int32_t width, bool ends_paragraph);
    size_t fitting_end(std::u16string_view paragraph, ShapedLine const& shaped, std::vector<size_t> const& breaks, size_t start, int32_t width);

    FontDescription m_description;
    int32_t m_height { 0 };
    int32_t m_line_height { 20 };
    int32_t m_descent { 0 };
    std::unique_ptr<platform::FontFace> m_face;
    // Faces found for characters the first face lacks; each new character is looked for in these
    // first, so one fallback serves a whole script.
    std::vector<std::unique_ptr<platform::FontFace>> m_fallbacks;
    std::unordered_map<char32_t, uint16_t> m_slot_of;
    std::unordered_map<uint64_t, platform::GlyphImage> m_glyphs;
    // A few hundred kilobytes for the lines of a few screens.
    TextCache<ShapedLine> m_lines { 1024 };
    TextCache<std::vector<std::u16string>> m_paragraphs { 512 };
    ShapedLine m_long_line;
    std::u16string m_long_key;
};

// The code point at `at` and how many code units it takes; a lone surrogate is itself.
char32_t code_point_at(std::u16string_view text, size_t at, size_t& length);

}
