#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
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

// One glyph of a shaped run: its index in the face, the code unit its cluster starts at in the
// shaped text, and its advance and offset in 1/64 pixel.
struct ShapedGlyph {
    uint32_t index { 0 };
    uint32_t cluster { 0 };
    int32_t advance { 0 };
    int32_t x_offset { 0 };
    int32_t y_offset { 0 };
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
    GlyphImage render_glyph(uint32_t index);
    // Shapes text[start, start + length) with HarfBuzz in one direction and script (an ISO 15924
    // tag); the text around the run is context (Arabic joining). Glyphs come left to right.
    std::vector<ShapedGlyph> shape(std::u16string_view text, size_t start, size_t length, bool right_to_left, char const* script);
    std::string family() const;
    std::string const& file() const { return m_file; }
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
    std::string m_file;
    int32_t m_ascent { 0 };
    int32_t m_descent { 0 };
    int32_t m_line_height { 0 };
    // A face of colour bitmaps in fixed sizes (emoji) is drawn from its strike scaled by this.
    double m_bitmap_scale { 1.0 };
};

}
