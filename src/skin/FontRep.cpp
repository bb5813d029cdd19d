#include "skin/FontRep.h"

#include "platform/FontFace.h"
#include "platform/Ticks.h"
#include "platform/Utf.h"
#include "shell/Log.h"

#include <charconv>

namespace velloq {

namespace {

constexpr size_t longest_face_name = 31;

bool is_blank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Reads one decimal integer after blanks; false when there is none.
bool read_number(std::u16string_view text, size_t& at, int32_t& value)
{
    while (at < text.size() && is_blank(text[at]))
        ++at;
    std::string digits;
    while (at < text.size() && (text[at] == u'-' || (text[at] >= u'0' && text[at] <= u'9')) && digits.size() < 11)
        digits.push_back(static_cast<char>(text[at++]));
    return !digits.empty() && std::from_chars(digits.data(), digits.data() + digits.size(), value).ec == std::errc();
}

constexpr char32_t emoji_key = 0x80000000u;
constexpr char16_t emoji_selector = 0xFE0F;

bool joins_emoji(char32_t character)
{
    return character == 0xFE0E || character == 0xFE0F || character == 0x200D || (character >= 0x1F3FB && character <= 0x1F3FF);
}

// A premultiplied 0xAARRGGBB pixel over a 5-6-5 one.
uint16_t blend_premultiplied(uint32_t pixel, uint16_t destination)
{
    uint32_t alpha = pixel >> 24;
    if (alpha == 0)
        return destination;
    uint32_t keep = 255 - alpha;
    uint32_t red = (destination >> 11) * 255 / 31;
    uint32_t green = (destination >> 5 & 0x3F) * 255 / 63;
    uint32_t blue = (destination & 0x1F) * 255 / 31;
    red = std::min(255u, (pixel >> 16 & 0xFF) + red * keep / 255);
    green = std::min(255u, (pixel >> 8 & 0xFF) + green * keep / 255);
    blue = std::min(255u, (pixel & 0xFF) + blue * keep / 255);
    return static_cast<uint16_t>((red >> 3) << 11 | (green >> 2) << 5 | (blue >> 3));
}

// A colour glyph (emoji) keeps its own colours; `box` is its rectangle already cut to the clip.
void draw_colour_glyph(Bitmap565& target, platform::GlyphImage const& shape, Rect const& box, int32_t left, int32_t top)
{
    for (int32_t row = box.top; row < box.top + box.height; ++row) {
        uint32_t const* pixels = shape.colour.data() + static_cast<ptrdiff_t>(row - top) * shape.width - left;
        uint16_t* out = target.row(row);
        for (int32_t column = box.left; column < box.left + box.width; ++column)
            out[column] = blend_premultiplied(pixels[column], out[column]);
    }
}

uint16_t blend(uint16_t colour, uint16_t destination, uint32_t level)
{
    uint32_t s = (colour | static_cast<uint32_t>(colour) << 16) & 0x07E0F81F;
    uint32_t d = (destination | static_cast<uint32_t>(destination) << 16) & 0x07E0F81F;
    uint32_t mixed = ((s * level + d * (32 - level)) >> 5) & 0x07E0F81F;
    return static_cast<uint16_t>(mixed | mixed >> 16);
}

}

char32_t code_point_at(std::u16string_view text, size_t at, size_t& length)
{
    char16_t unit = text[at];
    if ((unit & 0xFC00) == 0xD800 && at + 1 < text.size() && (text[at + 1] & 0xFC00) == 0xDC00) {
        length = 2;
        return 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[at + 1] - 0xDC00);
    }
    length = 1;
    return unit;
}

FontDescription parse_font_description(std::u16string_view text, int32_t scale)
{
    FontDescription description;
    description.scale = scale;
    size_t at = 0;
    int32_t flags[3] = { 0, 0, 0 };
    if (!read_number(text, at, description.size))
        return description;
    for (int32_t& flag : flags) {
        if (!read_number(text, at, flag))
            break;
    }
    description.bold = flags[0] != 0;
    description.italic = flags[1] != 0;
    description.underline = flags[2] != 0;
    while (at < text.size() && is_blank(text[at]))
        ++at;
    if (at < text.size())
        description.face = std::u16string(text.substr(at));
    return description;
}

FontRep::FontRep(FontDescription const& description, int32_t screen_dpi)
    : m_description(description)
{
    if (m_description.size == 0)
        return;
    m_height = -(m_description.size * m_description.scale * 96 / 72);
    if (m_description.face.size() > longest_face_name)
        m_description.face.resize(longest_face_name);
    log() << u"dpiy=" << screen_dpi << u" log_font.lfHeight=" << m_height << u"}\n";
    uint32_t started = platform::tick_count();
    std::string error;
    m_face = platform::FontFace::match(to_utf8(m_description.face), m_description.bold, m_description.italic, -m_height, error);
    if (!m_face)
        log() << u"ERROR: FontRep::FontRep() Failed to create font\n";
    log() << u"Creating font: {" << m_description.face << u"} elapsed=" << (platform::tick_count() - started) << u"\n";
    if (m_face) {
        m_line_height = m_face->line_height();
        m_descent = m_face->descent();
    }
}

FontRep::~FontRep() = default;

platform::FontFace* FontRep::face_for(char32_t character, bool emoji)
{
    if (!m_face || (!emoji && m_face->has_glyph(character)))
        return m_face.get();
    for (auto& fallback : m_fallbacks) {
        if (fallback->has_glyph(character) && (!emoji || fallback->has_colour()))
            return fallback.get();
    }
    if (m_fallbacks.size() < 8) {
        if (auto found = platform::FontFace::match_character(character, m_description.bold, m_description.italic, -m_height, emoji)) {
            m_fallbacks.push_back(std::move(found));
            return m_fallbacks.back().get();
        }
    }
    return emoji ? face_for(character, false) : m_face.get();
}

platform::GlyphImage const& FontRep::glyph(char32_t character, bool emoji)
{
    // Emoji are looked up apart from the same character in text form (a heart with U+FE0F).
    char32_t key = emoji ? character | emoji_key : character;
    auto cached = m_glyphs.find(key);
    if (cached != m_glyphs.end())
        return cached->second;
    platform::GlyphImage made;
    // Selectors, joiners and skin-tone modifiers only shape the emoji before them: without
    // shaping they are left out rather than drawn as boxes or swatches.
    if (!joins_emoji(character)) {
        if (auto* face = face_for(character, emoji))
            made = face->render(character);
    }
    return m_glyphs.emplace(key, std::move(made)).first->second;
}

platform::GlyphImage const& FontRep::glyph_at(std::u16string_view text, size_t at, size_t& length)
{
    char32_t character = code_point_at(text, at, length);
    bool emoji = at + length < text.size() && text[at + length] == emoji_selector;
    return glyph(character, emoji);
}

int32_t FontRep::measure(std::u16string_view text)
{
    int32_t width = 0;
    for (size_t at = 0, length = 0; at < text.size(); at += length)
        width += glyph_at(text, at, length).advance;
    return width;
}

void FontRep::draw(DrawTarget const& target, int32_t x, int32_t y, std::u16string_view text, uint16_t colour)
{
    if (!target.picture || !m_face)
        return;
    Rect clip = intersection(target.rect, { 0, 0, target.picture->width(), target.picture->height() });
    int32_t baseline = y + ascent();
    int32_t pen = x;
    for (size_t at = 0, length = 0; at < text.size(); at += length) {
        platform::GlyphImage const& shape = glyph_at(text, at, length);
        Rect box = intersection({ pen + shape.left, baseline - shape.top, shape.width, shape.height }, clip);
        if (!shape.colour.empty()) {
            draw_colour_glyph(*target.picture, shape, box, pen + shape.left, baseline - shape.top);
            pen += shape.advance;
            continue;
        }
        for (int32_t row = box.top; row < box.top + box.height; ++row) {
            uint8_t const* coverage = shape.coverage.data() + static_cast<ptrdiff_t>(row - (baseline - shape.top)) * shape.width - (pen + shape.left);
            uint16_t* out = target.picture->row(row);
            for (int32_t column = box.left; column < box.left + box.width; ++column) {
                if (uint32_t level = (coverage[column] + 4u) >> 3)
                    out[column] = blend(colour, out[column], level);
            }
        }
        pen += shape.advance;
    }
    if (m_description.underline)
        fill_rect(*target.picture, { x, baseline + 1, pen - x, 1 }, clip, colour);
}

std::vector<std::u16string> FontRep::break_lines(std::u16string_view text, int32_t width)
{
    std::vector<std::u16string> lines;
    std::u16string line;
    int32_t line_width = 0;
    size_t last_blank = std::u16string::npos;
    for (size_t at = 0, length = 0; at < text.size(); at += length) {
        char32_t character = code_point_at(text, at, length);
        if (character == u'\n') {
            lines.push_back(std::move(line));
            line.clear();
            line_width = 0;
            last_blank = std::u16string::npos;
            continue;
        }
        int32_t advance = glyph_at(text, at, length).advance;
        if (line_width + advance > width && !line.empty() && character != u' ') {
            if (last_blank != std::u16string::npos) {
                // Break after the last blank; the word begun behind it moves to the next line.
                std::u16string rest = line.substr(last_blank + 1);
                line.resize(last_blank);
                lines.push_back(std::move(line));
                line = std::move(rest);
            } else {
                lines.push_back(std::move(line));
                line.clear();
            }
            line_width = measure(line);
            last_blank = std::u16string::npos;
        }
        if (character == u' ')
            last_blank = line.size();
        line.append(text.substr(at, length));
        line_width += advance;
    }
    lines.push_back(std::move(line));
    return lines;
}

}
