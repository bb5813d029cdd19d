#include "platform/FontFace.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

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

}

struct FontFace::Handle {
    FT_Face face { nullptr };
    bool synthetic_bold { false };
    ~Handle()
    {
        if (face)
            FT_Done_Face(face);
    }
};

FontFace::FontFace(std::unique_ptr<Handle> handle)
    : m_handle(std::move(handle))
{
    FT_Size_Metrics const& metrics = m_handle->face->size->metrics;
    m_ascent = static_cast<int32_t>((metrics.ascender + 63) >> 6);
    m_descent = static_cast<int32_t>((-metrics.descender + 63) >> 6);
    m_line_height = static_cast<int32_t>((metrics.height + 63) >> 6);
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
    if (FT_Set_Pixel_Sizes(handle->face, 0, static_cast<FT_UInt>(pixel_height)) != 0) {
        error = "cannot size " + file;
        return nullptr;
    }
    handle->synthetic_bold = synthetic_bold;
    return std::unique_ptr<FontFace>(new FontFace(std::move(handle)));
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

std::unique_ptr<FontFace> FontFace::match_character(char32_t character, bool bold, bool italic, int32_t pixel_height)
{
    if (!fontconfig_ready())
        return nullptr;
    Pattern wanted = style_pattern(bold, italic);
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
    return face && face->has_glyph(character) ? std::move(face) : nullptr;
}

bool FontFace::has_glyph(char32_t character) const
{
    return FT_Get_Char_Index(m_handle->face, character) != 0;
}

std::string FontFace::family() const
{
    return m_handle->face->family_name ? m_handle->face->family_name : "";
}

GlyphImage FontFace::render(char32_t character)
{
    GlyphImage image;
    FT_Face face = m_handle->face;
    if (FT_Load_Char(face, character, FT_LOAD_DEFAULT | FT_LOAD_TARGET_LIGHT) != 0)
        return image;
    if (m_handle->synthetic_bold)
        FT_GlyphSlot_Embolden(face->glyph);
    if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_LIGHT) != 0)
        return image;
    FT_Bitmap const& bitmap = face->glyph->bitmap;
    image.advance = static_cast<int32_t>((face->glyph->advance.x + 32) >> 6);
    // Only grey coverage is drawn; colour (emoji) bitmaps keep their advance but draw nothing.
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

}
