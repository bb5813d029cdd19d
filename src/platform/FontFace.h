#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velloq::platform {

// One rendered glyph: 8-bit coverage, or for a colour glyph (emoji) premultiplied 0xAARRGGBB
// pixels; `left` and `top` from the pen position on the baseline.
struct GlyphImage {
    int32_t width { 0 };
    int32_t height { 0 };
    int32_t left { 0 };
    int32_t top { 0 };
    int32_t advance { 0 };
    std::vector<uint8_t> coverage;
    std::vector<uint32_t> colour;
};

// An installed font face at one pixel size, found through fontconfig and rendered by FreeType.
class FontFace {
public:
    // The installed face that best matches the family and style ("Tahoma" finds a sans face).
    static std::unique_ptr<FontFace> match(std::string const& family, bool bold, bool italic, int32_t pixel_height, std::string& error);
    // A face of the same style and size that has the character, for text the first face lacks.
    // With `colour`, only a face of colour glyphs (emoji) will do.
    static std::unique_ptr<FontFace> match_character(char32_t character, bool bold, bool italic, int32_t pixel_height, bool colour = false);
    ~FontFace();
    FontFace(FontFace const&) = delete;
    FontFace& operator=(FontFace const&) = delete;

    bool has_glyph(char32_t) const;
    bool has_colour() const;
    GlyphImage render(char32_t);
    std::string family() const;
    int32_t ascent() const { return m_ascent; }
    int32_t descent() const { return m_descent; }
    int32_t line_height() const { return m_line_height; }

private:
    struct Handle;
    explicit FontFace(std::unique_ptr<Handle>);
    static std::unique_ptr<FontFace> open(std::string const& file, int index, int32_t pixel_height, bool synthetic_bold, std::string& error);
    void read_metrics();
    bool select_colour_strike(int32_t pixel_height);
    GlyphImage scaled_colour_glyph() const;

    std::unique_ptr<Handle> m_handle;
    int32_t m_ascent { 0 };
    int32_t m_descent { 0 };
    int32_t m_line_height { 0 };
    // A face of colour bitmaps in fixed sizes (emoji) is drawn from its strike scaled by this.
    double m_bitmap_scale { 1.0 };
};

}
