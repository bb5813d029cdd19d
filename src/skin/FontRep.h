#pragma once

#include "platform/FontFace.h"
#include "skin/Blit.h"

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

// A font of the skins: the description's face matched to an installed face, with fallback
// faces for characters it lacks, a glyph cache, and text measuring, drawing and line breaking
// on UTF-16 text (surrogate pairs included).
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

    // The width of the text in pixels.
    int32_t measure(std::u16string_view text);
    // Draws one line with its top at y, cut to the target's clip; anti-aliased in the colour.
    void draw(DrawTarget const& target, int32_t x, int32_t y, std::u16string_view text, uint16_t colour);
    // Breaks the text into lines no wider than `width`: at line feeds, else between words, and
    // inside a word that alone is wider.
    std::vector<std::u16string> break_lines(std::u16string_view text, int32_t width);

private:
    // The glyph of the character at `at` (`length` its code units), in its emoji form when an
    // emoji variation selector follows it.
    platform::GlyphImage const& glyph_at(std::u16string_view text, size_t at, size_t& length);
    platform::GlyphImage const& glyph(char32_t, bool emoji = false);
    platform::FontFace* face_for(char32_t, bool emoji);

    FontDescription m_description;
    int32_t m_height { 0 };
    int32_t m_line_height { 20 };
    int32_t m_descent { 0 };
    std::unique_ptr<platform::FontFace> m_face;
    // Faces found for characters the first face lacks; each new character is looked for in these
    // first, so one fallback serves a whole script.
    std::vector<std::unique_ptr<platform::FontFace>> m_fallbacks;
    std::unordered_map<char32_t, platform::GlyphImage> m_glyphs;
};

// The code point at `at` and how many code units it takes; a lone surrogate is itself.
char32_t code_point_at(std::u16string_view text, size_t at, size_t& length);

}
