#include "platform/FontFace.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include <hb-ft.h>
#include <hb.h>

#include <algorithm>
#include <mutex>

namespace velloq::platform {

namespace {

// FreeType's library object, made once for the process and kept until it ends.
FT_Library freetype()
{
    static FT_Library library = [] {
        FT_Library made = nullptr;
        if (FT_Init_FreeType(&made) != 0)
            return static_cast<FT_Library>(nullptr);
        return made;
    }();
    return library;
}

struct PatternDeleter {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using Pattern = std::unique_ptr<FcPattern, PatternDeleter>;

struct CharSetDeleter {
    void operator()(FcCharSet* set) const { FcCharSetDestroy(set); }
};

bool fontconfig_ready()
{
    static bool const ready = FcInit() == FcTrue;
    return ready;
}

// Asks fontconfig for the best installed file for a pattern; false when there is none.
bool best_file(FcPattern* wanted, std::string& file, int& index, bool& bold_found)
{
    FcConfigSubstitute(nullptr, wanted, FcMatchPattern);
    FcDefaultSubstitute(wanted);
    FcResult result = FcResultNoMatch;
    Pattern found(FcFontMatch(nullptr, wanted, &result));
    if (!found)
        return false;
    FcChar8* path = nullptr;
    if (FcPatternGetString(found.get(), FC_FILE, 0, &path) != FcResultMatch)
        return false;
    file = reinterpret_cast<char const*>(path);
    index = 0;
    FcPatternGetInteger(found.get(), FC_INDEX, 0, &index);
    int weight = FC_WEIGHT_REGULAR;
    FcPatternGetInteger(found.get(), FC_WEIGHT, 0, &weight);
    bold_found = weight >= FC_WEIGHT_BOLD;
    return true;
}

Pattern style_pattern(bool bold, bool italic)
{
    Pattern pattern(FcPatternCreate());
    FcPatternAddInteger(pattern.get(), FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern.get(), FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
    return pattern;
}

struct BufferDeleter {
    void operator()(hb_buffer_t* buffer) const { hb_buffer_destroy(buffer); }
};

}

struct FontFace::Handle {
    FT_Face face { nullptr };
    // HarfBuzz's view of the face, made at its first shaping; it holds its own reference.
    hb_font_t* shaper { nullptr };
    bool synthetic_bold { false };
    ~Handle()
    {
        if (shaper)
            hb_font_destroy(shaper);
        if (face)
            FT_Done_Face(face);
    }
};

namespace {

// Colour bitmaps are scaled from their strike: so are their positions.
int32_t scaled(hb_position_t value, double scale)
{
    return static_cast<int32_t>(value * scale + (value < 0 ? -0.5 : 0.5));
}

}

FontFace::FontFace(std::unique_ptr<Handle> handle)
    : m_handle(std::move(handle))
{
    read_metrics();
}

void FontFace::read_metrics()
{
    FT_Size_Metrics const& metrics = m_handle->face->size->metrics;
    auto pixels = [&](FT_Pos value) { return static_cast<int32_t>(double(value) / 64.0 * m_bitmap_scale + 0.99); };
    m_ascent = pixels(metrics.ascender);
    m_descent = pixels(-metrics.descender);
    m_line_height = pixels(metrics.height);
    if (m_line_height < m_ascent + m_descent)
        m_line_height = m_ascent + m_descent;
}

FontFace::~FontFace() = default;

std::unique_ptr<FontFace> FontFace::open(std::string const& file, int index, int32_t pixel_height, bool synthetic_bold, std::string& error)
{
    auto handle = std::make_unique<Handle>();
    if (!freetype() || FT_New_Face(freetype(), file.c_str(), index, &handle->face) != 0) {
        error = "cannot open " + file;
        return nullptr;
    }
    handle->synthetic_bold = synthetic_bold;
    std::string opened = file;
    bool colour_bitmaps = FT_HAS_FIXED_SIZES(handle->face) && FT_HAS_COLOR(handle->face) && handle->face->num_fixed_sizes > 0;
    if (!colour_bitmaps && FT_Set_Pixel_Sizes(handle->face, 0, static_cast<FT_UInt>(pixel_height)) != 0) {
        error = "cannot size " + file;
        return nullptr;
    }
    if (colour_bitmaps && FT_Select_Size(handle->face, 0) != 0) {
        error = "cannot size " + file;
        return nullptr;
    }
    auto face = std::unique_ptr<FontFace>(new FontFace(std::move(handle)));
    face->m_file = std::move(opened);
    if (colour_bitmaps && !face->select_colour_strike(pixel_height)) {
        error = "cannot size " + file;
        return nullptr;
    }
    return face;
}

// Colour emoji come as bitmaps of one size (109 pixels for Noto Color Emoji): the smallest strike
// not below the wanted size (else the largest) is chosen, and each glyph scaled to the size.
bool FontFace::select_colour_strike(int32_t pixel_height)
{
    FT_Face face = m_handle->face;
    FT_Pos wanted = static_cast<FT_Pos>(pixel_height) * 64;
    int best = -1;
    int largest = 0;
    for (int index = 0; index < face->num_fixed_sizes; ++index) {
        FT_Pos size = face->available_sizes[index].y_ppem;
        if (size >= wanted && (best < 0 || size < face->available_sizes[best].y_ppem))
            best = index;
        if (size > face->available_sizes[largest].y_ppem)
            largest = index;
    }
    best = best < 0 ? largest : best;
    if (FT_Select_Size(face, best) != 0 || face->available_sizes[best].y_ppem <= 0)
        return false;
    m_bitmap_scale = double(wanted) / double(face->available_sizes[best].y_ppem);
    read_metrics();
    return true;
}

std::unique_ptr<FontFace> FontFace::match(std::string const& family, bool bold, bool italic, int32_t pixel_height, std::string& error)
{
    if (!fontconfig_ready()) {
        error = "fontconfig cannot start";
        return nullptr;
    }
    Pattern wanted = style_pattern(bold, italic);
    FcPatternAddString(wanted.get(), FC_FAMILY, reinterpret_cast<FcChar8 const*>(family.c_str()));
    std::string file;
    int index = 0;
    bool bold_found = false;
    if (!best_file(wanted.get(), file, index, bold_found)) {
        error = "no installed font matches " + family;
        return nullptr;
    }
    return open(file, index, pixel_height, bold && !bold_found, error);
}

std::unique_ptr<FontFace> FontFace::match_character(char32_t character, bool bold, bool italic, int32_t pixel_height, bool colour)
{
    if (!fontconfig_ready())
        return nullptr;
    Pattern wanted = style_pattern(bold, italic);
    // A character of text (❤ without its emoji selector) is wanted from a text face.
    FcPatternAddBool(wanted.get(), FC_COLOR, colour ? FcTrue : FcFalse);
    std::unique_ptr<FcCharSet, CharSetDeleter> characters(FcCharSetCreate());
    FcCharSetAddChar(characters.get(), character);
    FcPatternAddCharSet(wanted.get(), FC_CHARSET, characters.get());
    std::string file;
    int index = 0;
    bool bold_found = false;
    std::string error;
    if (!best_file(wanted.get(), file, index, bold_found))
        return nullptr;
    auto face = open(file, index, pixel_height, bold && !bold_found, error);
    return face && face->has_glyph(character) && (!colour || face->has_colour()) ? std::move(face) : nullptr;
}

bool FontFace::has_glyph(char32_t character) const
{
    return FT_Get_Char_Index(m_handle->face, character) != 0;
}

bool FontFace::has_colour() const
{
    return FT_HAS_COLOR(m_handle->face);
}

std::string FontFace::family() const
{
    return m_handle->face->family_name ? m_handle->face->family_name : "";
}

std::vector<ShapedGlyph> FontFace::shape(std::u16string_view text, size_t start, size_t length, bool right_to_left, char const* script)
{
    std::vector<ShapedGlyph> shaped;
    if (!m_handle->shaper)
        m_handle->shaper = hb_ft_font_create_referenced(m_handle->face);
    std::unique_ptr<hb_buffer_t, BufferDeleter> buffer(hb_buffer_create());
    if (text.size() > INT32_MAX || !hb_buffer_allocation_successful(buffer.get()))
        return shaped;
    hb_buffer_add_utf16(buffer.get(), reinterpret_cast<uint16_t const*>(text.data()), static_cast<int>(text.size()), static_cast<unsigned>(start), static_cast<int>(length));
    hb_buffer_set_direction(buffer.get(), right_to_left ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    if (script)
        hb_buffer_set_script(buffer.get(), hb_script_from_string(script, -1));
    hb_buffer_set_language(buffer.get(), hb_language_get_default());
    hb_buffer_guess_segment_properties(buffer.get());
    hb_shape(m_handle->shaper, buffer.get(), nullptr, 0);
    unsigned count = 0;
    hb_glyph_info_t const* infos = hb_buffer_get_glyph_infos(buffer.get(), &count);
    hb_glyph_position_t const* positions = hb_buffer_get_glyph_positions(buffer.get(), &count);
    shaped.reserve(count);
    for (unsigned index = 0; index < count; ++index) {
        shaped.push_back({ infos[index].codepoint, infos[index].cluster, scaled(positions[index].x_advance, m_bitmap_scale),
            scaled(positions[index].x_offset, m_bitmap_scale), scaled(positions[index].y_offset, m_bitmap_scale) });
    }
    return shaped;
}

GlyphImage FontFace::render_glyph(uint32_t index)
{
    GlyphImage image;
    FT_Face face = m_handle->face;
    if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_LIGHT | FT_LOAD_COLOR) != 0)
        return image;
    if (face->glyph->format == FT_GLYPH_FORMAT_BITMAP && face->glyph->bitmap.pixel_mode == FT_PIXEL_MODE_BGRA)
        return scaled_colour_glyph();
    if (m_handle->synthetic_bold)
        FT_GlyphSlot_Embolden(face->glyph);
    if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_LIGHT) != 0)
        return image;
    FT_Bitmap const& bitmap = face->glyph->bitmap;
    image.advance = static_cast<int32_t>((face->glyph->advance.x + 32) >> 6);
    // Grey coverage is drawn; other bitmaps (mono, LCD) keep their advance but draw nothing.
    if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || bitmap.pitch < 0)
        return image;
    image.width = static_cast<int32_t>(bitmap.width);
    image.height = static_cast<int32_t>(bitmap.rows);
    image.left = face->glyph->bitmap_left;
    image.top = face->glyph->bitmap_top;
    image.coverage.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
    for (int32_t row = 0; row < image.height; ++row) {
        unsigned char const* source = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
        std::copy(source, source + image.width, image.coverage.begin() + static_cast<ptrdiff_t>(row) * image.width);
    }
    return image;
}

// The loaded colour bitmap (premultiplied BGRA) scaled by the strike's factor, each pixel the
// average of the source pixels it covers.
GlyphImage FontFace::scaled_colour_glyph() const
{
    FT_GlyphSlot slot = m_handle->face->glyph;
    FT_Bitmap const& bitmap = slot->bitmap;
    GlyphImage image;
    double scale = m_bitmap_scale;
    image.advance = static_cast<int32_t>(double(slot->advance.x) / 64.0 * scale + 0.5);
    if (bitmap.pitch <= 0 || bitmap.width == 0 || bitmap.rows == 0)
        return image;
    int32_t source_width = static_cast<int32_t>(bitmap.width);
    int32_t source_height = static_cast<int32_t>(bitmap.rows);
    image.width = std::max(1, static_cast<int32_t>(source_width * scale + 0.5));
    image.height = std::max(1, static_cast<int32_t>(source_height * scale + 0.5));
    image.left = static_cast<int32_t>(slot->bitmap_left * scale + 0.5);
    image.top = static_cast<int32_t>(slot->bitmap_top * scale + 0.5);
    image.colour.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
    for (int32_t y = 0; y < image.height; ++y) {
        int32_t top = y * source_height / image.height;
        int32_t bottom = std::max(top + 1, (y + 1) * source_height / image.height);
        for (int32_t x = 0; x < image.width; ++x) {
            int32_t left = x * source_width / image.width;
            int32_t right = std::max(left + 1, (x + 1) * source_width / image.width);
            uint32_t sums[4] = { 0, 0, 0, 0 };
            for (int32_t row = top; row < bottom; ++row) {
                unsigned char const* pixel = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch + left * 4;
                for (int32_t column = left; column < right; ++column, pixel += 4) {
                    for (int channel = 0; channel < 4; ++channel)
                        sums[channel] += pixel[channel];
                }
            }
            uint32_t count = static_cast<uint32_t>((bottom - top) * (right - left));
            uint32_t blue = sums[0] / count, green = sums[1] / count, red = sums[2] / count, alpha = sums[3] / count;
            image.colour[static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)] = alpha << 24 | red << 16 | green << 8 | blue;
        }
    }
    return image;
}

}
