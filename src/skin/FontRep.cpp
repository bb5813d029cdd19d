#include "skin/FontRep.h"

#include "platform/FontFace.h"
#include "platform/Ticks.h"
#include "platform/Utf.h"
#include "shell/Log.h"

#include <charconv>
#include <cstdio>

namespace velloq {

namespace {

constexpr size_t longest_face_name = 31;
constexpr size_t longest_cached_line = 2048;

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

// Characters that shape the one before them rather than show themselves.
bool is_joiner_or_selector(char32_t character)
{
    return character == 0x200C || character == 0x200D || (character >= 0xFE00 && character <= 0xFE0F) || (character >= 0xE0100 && character <= 0xE01EF);
}

// An emoji drawn in colour: one whose default presentation is emoji and that is not asked in
// text form (U+FE0E), one asked in emoji form (U+FE0F), a flag, a keycap, or an emoji joined or
// given a skin tone.
bool wants_colour(std::u16string_view cluster)
{
    size_t length = 0;
    char32_t first = code_point_at(cluster, 0, length);
    bool joined = false;
    for (size_t at = 0; at < cluster.size(); at += length) {
        char32_t character = code_point_at(cluster, at, length);
        if (character == 0xFE0E)
            return false;
        if (character == 0xFE0F || character == 0x20E3)
            return true;
        joined = joined || character == 0x200D || (character >= 0x1F3FB && character <= 0x1F3FF);
    }
    return platform::has_emoji_presentation(first) || platform::is_regional_indicator(first) || (joined && platform::is_emoji(first));
}

// The script a cluster belongs to: its first character's, unless that is shared (blank,
// digit, mark), then the first one's that is not.
int32_t script_of_cluster(std::u16string_view cluster)
{
    int32_t script = platform::script_of(U' ');
    size_t length = 0;
    for (size_t at = 0; at < cluster.size(); at += length) {
        script = platform::script_of(code_point_at(cluster, at, length));
        if (!platform::is_shared_script(script))
            return script;
    }
    return script;
}

int32_t pixels_near(int32_t sixty_fourths)
{
    return (sixty_fourths + 32) >> 6;
}

std::u16string hex_code(char32_t character)
{
    char digits[16];
    int written = std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(character));
    return to_utf16(std::string_view(digits, static_cast<size_t>(std::max(0, written))));
}

uint16_t colour_at(std::vector<ColourSpan> const& spans, size_t at, uint16_t colour)
{
    for (auto const& span : spans) {
        if (at >= span.start && at < span.start + span.length)
            return span.colour;
    }
    return colour;
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

// A grey glyph's coverage blended in the colour; `box` is its rectangle already cut to the clip.
void draw_coverage(Bitmap565& target, platform::GlyphImage const& shape, Rect const& box, int32_t left, int32_t top, uint16_t colour)
{
    for (int32_t row = box.top; row < box.top + box.height; ++row) {
        uint8_t const* coverage = shape.coverage.data() + static_cast<ptrdiff_t>(row - top) * shape.width - left;
        uint16_t* out = target.row(row);
        for (int32_t column = box.left; column < box.left + box.width; ++column) {
            if (uint32_t level = (coverage[column] + 4u) >> 3)
                out[column] = blend(colour, out[column], level);
        }
    }
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

std::vector<platform::FontFace const*> FontRep::faces() const
{
    std::vector<platform::FontFace const*> all;
    if (m_face)
        all.push_back(m_face.get());
    for (auto const& fallback : m_fallbacks)
        all.push_back(fallback.get());
    return all;
}

platform::FontFace* FontRep::face_at(uint16_t slot) const
{
    if (slot == 0 || slot > m_fallbacks.size())
        return m_face.get();
    return m_fallbacks[slot - 1].get();
}

uint16_t FontRep::face_slot_for(char32_t character, bool colour)
{
    if (!colour && m_face->has_glyph(character))
        return 0;
    // Each character's face is looked for once; fontconfig is slow to ask.
    char32_t key = colour ? character | 0x80000000u : character;
    if (auto known = m_slot_of.find(key); known != m_slot_of.end())
        return known->second;
    uint16_t slot = find_fallback(character, colour);
    m_slot_of.emplace(key, slot);
    return slot;
}

uint16_t FontRep::find_fallback(char32_t character, bool colour)
{
    // Text is taken from a text face where one has it, emoji from a colour face.
    for (size_t index = 0; index < m_fallbacks.size(); ++index) {
        if (m_fallbacks[index]->has_glyph(character) && colour == m_fallbacks[index]->has_colour())
            return static_cast<uint16_t>(index + 1);
    }
    if (m_fallbacks.size() < 16) {
        if (auto found = platform::FontFace::match_character(character, m_description.bold, m_description.italic, -m_height, colour)) {
            log() << u"FontRep: " << to_utf16(found->family()) << u" draws U+" << hex_code(character) << u"\n";
            m_fallbacks.push_back(std::move(found));
            return static_cast<uint16_t>(m_fallbacks.size());
        }
    }
    for (size_t index = 0; index < m_fallbacks.size(); ++index) {
        if (m_fallbacks[index]->has_glyph(character))
            return static_cast<uint16_t>(index + 1);
    }
    // No installed face has it: the first face's box says so.
    return colour ? face_slot_for(character, false) : 0;
}

// Blanks, digits and punctuation stay in the face of the text around them, so a run of Arabic
// with its spaces is shaped as one.
uint16_t FontRep::face_for_cluster(std::u16string_view line, size_t start, size_t end, uint16_t previous)
{
    std::u16string_view cluster = line.substr(start, end - start);
    size_t length = 0;
    char32_t first = code_point_at(cluster, 0, length);
    if (wants_colour(cluster))
        return face_slot_for(first, true);
    platform::FontFace* kept = face_at(previous);
    if (previous != 0 && !kept->has_colour() && platform::is_shared_script(script_of_cluster(cluster)) && kept->has_glyph(first))
        return previous;
    if (is_joiner_or_selector(first))
        return previous;
    return face_slot_for(first, false);
}

ShapedLine const& FontRep::shape(std::u16string_view line, platform::BaseDirection base)
{
    // Keyed by the direction asked and the text.
    std::u16string key(1, static_cast<char16_t>(base));
    key.append(line);
    // A very long line (a pasted book) is kept only until the next long one, not in the cache.
    if (line.size() > longest_cached_line) {
        if (key != m_long_key) {
            m_long_line = shape_uncached(line, base);
            m_long_key = std::move(key);
        }
        return m_long_line;
    }
    if (auto const* cached = m_lines.find(key))
        return *cached;
    return m_lines.insert(std::move(key), shape_uncached(line, base));
}

ShapedLine FontRep::shape_uncached(std::u16string_view line, platform::BaseDirection base)
{
    ShapedLine shaped;
    shaped.length = line.size();
    if (!m_face || line.empty())
        return shaped;
    std::vector<bool> backwards(line.size(), false);
    int32_t pen = 0;
    for (auto const& run : platform::visual_runs(line, base))
        shape_run(line, run, shaped, pen, backwards);
    shaped.right_to_left = base == platform::BaseDirection::FirstStrong ? platform::starts_right_to_left(line) : base == platform::BaseDirection::RightToLeft;
    shaped.width = pixels_near(pen);
    shaped.gather_clusters(backwards);
    return shaped;
}

// One direction run, cut into segments of one face and script; a right-to-left run's
// segments are placed from its right end.
void FontRep::shape_run(std::u16string_view line, platform::DirectionRun const& run, ShapedLine& shaped, int32_t& pen, std::vector<bool>& backwards)
{
    struct Segment {
        size_t start;
        size_t end;
        uint16_t face;
        int32_t script;
    };
    std::vector<Segment> segments;
    size_t run_end = run.start + run.length;
    size_t at = run.start;
    for (size_t next : platform::grapheme_edges(line, run.start, run_end)) {
        uint16_t previous = segments.empty() ? 0 : segments.back().face;
        uint16_t face = face_for_cluster(line, at, next, previous);
        int32_t script = script_of_cluster(line.substr(at, next - at));
        bool shared = platform::is_shared_script(script);
        if (!segments.empty() && face == previous && (shared || platform::is_shared_script(segments.back().script) || script == segments.back().script)) {
            segments.back().end = next;
            if (!shared)
                segments.back().script = script;
        } else {
            segments.push_back({ at, next, face, script });
        }
        at = next;
    }
    if (run.right_to_left) {
        std::reverse(segments.begin(), segments.end());
        std::fill(backwards.begin() + static_cast<ptrdiff_t>(run.start), backwards.begin() + static_cast<ptrdiff_t>(run_end), true);
    }
    for (auto const& segment : segments)
        place_segment(line, segment.start, segment.end, segment.face, segment.script, run.right_to_left, shaped, pen);
}

void FontRep::place_segment(std::u16string_view line, size_t start, size_t end, uint16_t face, int32_t script, bool right_to_left, ShapedLine& shaped, int32_t& pen)
{
    char const* tag = platform::is_shared_script(script) ? nullptr : platform::script_tag(script);
    for (auto const& glyph : face_at(face)->shape(line, start, end - start, right_to_left, tag)) {
        shaped.glyphs.push_back({ face, glyph.index, pen, glyph.advance, glyph.x_offset, glyph.y_offset, glyph.cluster });
        pen += glyph.advance;
    }
}

platform::GlyphImage const& FontRep::glyph(uint16_t face, uint32_t index)
{
    uint64_t key = static_cast<uint64_t>(face) << 32 | index;
    auto cached = m_glyphs.find(key);
    if (cached != m_glyphs.end())
        return cached->second;
    return m_glyphs.emplace(key, face_at(face)->render_glyph(index)).first->second;
}

int32_t FontRep::measure(std::u16string_view text)
{
    return shape(text).width;
}

void FontRep::draw(DrawTarget const& target, int32_t x, int32_t y, std::u16string_view text, uint16_t colour, std::vector<ColourSpan> const& spans,
    platform::BaseDirection base)
{
    if (!target.picture || !m_face || text.empty())
        return;
    Rect clip = intersection(target.rect, { 0, 0, target.picture->width(), target.picture->height() });
    int32_t baseline = y + ascent();
    ShapedLine const& shaped = shape(text, base);
    for (auto const& placed : shaped.glyphs) {
        platform::GlyphImage const& image = glyph(placed.face, placed.index);
        int32_t left = x + pixels_near(placed.pen + placed.x_offset) + image.left;
        int32_t top = baseline - pixels_near(placed.y_offset) - image.top;
        Rect box = intersection({ left, top, image.width, image.height }, clip);
        if (box.width <= 0 || box.height <= 0)
            continue;
        if (!image.colour.empty())
            draw_colour_glyph(*target.picture, image, box, left, top);
        else
            draw_coverage(*target.picture, image, box, left, top, colour_at(spans, placed.cluster, colour));
    }
    if (m_description.underline)
        fill_rect(*target.picture, { x, baseline + 1, shaped.width, 1 }, clip, colour);
}

std::vector<std::u16string> const& FontRep::break_lines(std::u16string_view text, int32_t width)
{
    std::u16string key(2, u'\0');
    key[0] = static_cast<char16_t>(width & 0xFFFF);
    key[1] = static_cast<char16_t>(static_cast<uint32_t>(width) >> 16);
    key.append(text);
    if (auto const* cached = m_paragraphs.find(key))
        return *cached;
    std::vector<std::u16string> lines;
    for (size_t start = 0;;) {
        size_t feed = text.find(u'\n', start);
        break_paragraph(text.substr(start, feed == std::u16string_view::npos ? std::u16string_view::npos : feed - start), width, lines);
        if (feed == std::u16string_view::npos)
            break;
        start = feed + 1;
    }
    return m_paragraphs.insert(std::move(key), std::move(lines));
}

void FontRep::break_paragraph(std::u16string_view paragraph, int32_t width, std::vector<std::u16string>& lines)
{
    if (paragraph.empty() || !m_face) {
        lines.emplace_back(paragraph);
        return;
    }
    // A paragraph of a book's length is broken a window at a time, so that no more than a
    // window is shaped at once; a window's last line may be short, so the next window starts
    // with it again.
    for (size_t start = 0; start < paragraph.size();) {
        size_t window_end = std::min(paragraph.size(), start + longest_cached_line);
        bool last_window = window_end == paragraph.size();
        if (!last_window)
            window_end = std::max(platform::grapheme_edge_at_or_before(paragraph, window_end), platform::next_grapheme(paragraph, start));
        std::u16string_view window = paragraph.substr(start, window_end - start);
        // Windows of a long paragraph are not kept: they would fill the cache with lines never drawn.
        ShapedLine uncached;
        bool whole = start == 0 && last_window;
        if (!whole)
            uncached = shape_uncached(window);
        auto ranges = line_ranges(window, whole ? shape(window) : uncached, width, last_window);
        if (!last_window && ranges.size() > 1)
            ranges.pop_back();
        for (auto const& range : ranges)
            lines.emplace_back(paragraph.substr(start + range.start, range.drawn_end - range.start));
        start += ranges.back().next;
    }
}

// The lines of a paragraph (or of a window of one): where each starts, where its drawn text ends
// (the blank it was broken at is not drawn) and where the next starts.
std::vector<FontRep::LineRange> FontRep::line_ranges(std::u16string_view paragraph, ShapedLine const& shaped, int32_t width, bool ends_paragraph)
{
    std::vector<LineRange> ranges;
    auto breaks = platform::line_break_opportunities(paragraph);
    for (size_t start = 0; start < paragraph.size();) {
        size_t end = fitting_end(paragraph, shaped, breaks, start, width);
        size_t drawn_end = end;
        if ((end < paragraph.size() || !ends_paragraph) && end - start > 1 && paragraph[end - 1] == u' ')
            --drawn_end;
        ranges.push_back({ start, drawn_end, end });
        start = end;
    }
    return ranges;
}

// Where the line that starts at `start` ends: at the last break opportunity that fits (blanks
// at its end hang past the width), else after as many whole clusters as fit, at least one.
size_t FontRep::fitting_end(std::u16string_view paragraph, ShapedLine const& shaped, std::vector<size_t> const& breaks, size_t start, int32_t width)
{
    auto width_to = [&](size_t end) {
        size_t drawn = end;
        while (drawn > start && paragraph[drawn - 1] == u' ')
            --drawn;
        return shaped.width_of(start, drawn);
    };
    auto next = std::upper_bound(breaks.begin(), breaks.end(), start);
    size_t fitted = start;
    for (auto candidate = next; candidate != breaks.end() && width_to(*candidate) <= width; ++candidate)
        fitted = *candidate;
    if (fitted > start)
        return fitted;
    size_t limit = next == breaks.end() ? paragraph.size() : *next;
    size_t end = platform::next_grapheme(paragraph, start);
    for (size_t further = end; end < limit; end = further) {
        further = std::min(platform::next_grapheme(paragraph, end), limit);
        if (width_to(further) > width)
            break;
    }
    return std::max(end, std::min(start + 1, paragraph.size()));
}

}
