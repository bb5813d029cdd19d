#include "platform/TextBoundaries.h"

#include <unicode/ubidi.h>
#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf16.h>

#include <memory>

namespace velloq::platform {

namespace {

struct BidiCloser {
    void operator()(UBiDi* bidi) const { ubidi_close(bidi); }
};
struct BreakCloser {
    void operator()(UBreakIterator* iterator) const { ubrk_close(iterator); }
};
using BreakIterator = std::unique_ptr<UBreakIterator, BreakCloser>;

int32_t as_length(std::u16string_view text)
{
    return static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
}

// Opening a break iterator loads its rules; one of each kind is kept per thread and pointed at
// each new text.
UBreakIterator* iterator_over(UBreakIteratorType type, std::u16string_view text)
{
    thread_local BreakIterator characters;
    thread_local BreakIterator lines;
    BreakIterator& kept = type == UBRK_CHARACTER ? characters : lines;
    UErrorCode status = U_ZERO_ERROR;
    if (!kept) {
        kept.reset(ubrk_open(type, "", nullptr, 0, &status));
        if (U_FAILURE(status)) {
            kept.reset();
            return nullptr;
        }
    }
    ubrk_setText(kept.get(), reinterpret_cast<UChar const*>(text.data()), as_length(text), &status);
    return U_SUCCESS(status) ? kept.get() : nullptr;
}

// Without ICU's data the text still moves one code point at a time.
size_t next_code_point(std::u16string_view text, size_t at)
{
    if (at >= text.size())
        return text.size();
    bool pair = (text[at] & 0xFC00) == 0xD800 && at + 1 < text.size() && (text[at + 1] & 0xFC00) == 0xDC00;
    return at + (pair ? 2 : 1);
}

}

std::vector<DirectionRun> visual_runs(std::u16string_view line, BaseDirection base)
{
    std::vector<DirectionRun> runs;
    if (line.empty())
        return runs;
    std::unique_ptr<UBiDi, BidiCloser> bidi(ubidi_open());
    UErrorCode status = U_ZERO_ERROR;
    UBiDiLevel level = base == BaseDirection::LeftToRight ? 0 : base == BaseDirection::RightToLeft ? 1 : UBIDI_DEFAULT_LTR;
    ubidi_setPara(bidi.get(), reinterpret_cast<UChar const*>(line.data()), as_length(line), level, nullptr, &status);
    int32_t count = U_SUCCESS(status) ? ubidi_countRuns(bidi.get(), &status) : 0;
    if (U_FAILURE(status) || count <= 0)
        return { { 0, line.size(), false } };
    for (int32_t index = 0; index < count; ++index) {
        int32_t start = 0;
        int32_t length = 0;
        UBiDiDirection direction = ubidi_getVisualRun(bidi.get(), index, &start, &length);
        runs.push_back({ static_cast<size_t>(start), static_cast<size_t>(length), direction == UBIDI_RTL });
    }
    return runs;
}

bool starts_right_to_left(std::u16string_view text)
{
    // Up to the first strong character of the paragraph: a line feed ends it.
    for (size_t at = 0; at < text.size(); at = next_code_point(text, at)) {
        size_t length = next_code_point(text, at) - at;
        UChar32 character = length == 2 ? U16_GET_SUPPLEMENTARY(text[at], text[at + 1]) : text[at];
        switch (u_charDirection(character)) {
        case U_LEFT_TO_RIGHT:
        case U_BLOCK_SEPARATOR:
            return false;
        case U_RIGHT_TO_LEFT:
        case U_RIGHT_TO_LEFT_ARABIC:
            return true;
        default:
            break;
        }
    }
    return false;
}

size_t next_grapheme(std::u16string_view text, size_t at)
{
    if (at >= text.size())
        return text.size();
    UBreakIterator* iterator = iterator_over(UBRK_CHARACTER, text);
    int32_t next = iterator ? ubrk_following(iterator, static_cast<int32_t>(at)) : UBRK_DONE;
    return next == UBRK_DONE ? next_code_point(text, at) : static_cast<size_t>(next);
}

size_t previous_grapheme(std::u16string_view text, size_t at)
{
    if (at == 0)
        return 0;
    at = std::min(at, text.size());
    UBreakIterator* iterator = iterator_over(UBRK_CHARACTER, text);
    int32_t previous = iterator ? ubrk_preceding(iterator, static_cast<int32_t>(at)) : UBRK_DONE;
    if (previous != UBRK_DONE)
        return static_cast<size_t>(previous);
    return at - ((at >= 2 && (text[at - 1] & 0xFC00) == 0xDC00 && (text[at - 2] & 0xFC00) == 0xD800) ? 2 : 1);
}

std::vector<size_t> grapheme_edges(std::u16string_view text, size_t from, size_t to)
{
    std::vector<size_t> edges;
    to = std::min(to, text.size());
    UBreakIterator* iterator = from < to ? iterator_over(UBRK_CHARACTER, text) : nullptr;
    if (iterator) {
        for (int32_t at = ubrk_following(iterator, static_cast<int32_t>(from)); at != UBRK_DONE && static_cast<size_t>(at) < to; at = ubrk_next(iterator))
            edges.push_back(static_cast<size_t>(at));
    } else {
        for (size_t at = next_code_point(text, from); at < to; at = next_code_point(text, at))
            edges.push_back(at);
    }
    if (from < to)
        edges.push_back(to);
    return edges;
}

size_t grapheme_edge_at_or_before(std::u16string_view text, size_t at)
{
    if (at == 0 || at >= text.size())
        return std::min(at, text.size());
    UBreakIterator* iterator = iterator_over(UBRK_CHARACTER, text);
    if (!iterator)
        return (text[at] & 0xFC00) == 0xDC00 ? at - 1 : at;
    if (ubrk_isBoundary(iterator, static_cast<int32_t>(at)))
        return at;
    int32_t edge = ubrk_preceding(iterator, static_cast<int32_t>(at));
    return edge == UBRK_DONE ? 0 : static_cast<size_t>(edge);
}

std::vector<size_t> line_break_opportunities(std::u16string_view text)
{
    std::vector<size_t> breaks;
    UBreakIterator* iterator = text.empty() ? nullptr : iterator_over(UBRK_LINE, text);
    if (iterator) {
        for (int32_t at = ubrk_next(iterator); at != UBRK_DONE; at = ubrk_next(iterator))
            breaks.push_back(static_cast<size_t>(at));
    }
    if (breaks.empty() || breaks.back() != text.size())
        breaks.push_back(text.size());
    return breaks;
}

int32_t script_of(char32_t character)
{
    UErrorCode status = U_ZERO_ERROR;
    UScriptCode script = uscript_getScript(static_cast<UChar32>(character), &status);
    return U_SUCCESS(status) ? script : USCRIPT_COMMON;
}

bool is_shared_script(int32_t script)
{
    return script == USCRIPT_COMMON || script == USCRIPT_INHERITED || script == USCRIPT_UNKNOWN;
}

char const* script_tag(int32_t script)
{
    char const* name = uscript_getShortName(static_cast<UScriptCode>(script));
    return name ? name : "Zyyy";
}

bool has_emoji_presentation(char32_t character)
{
    return u_hasBinaryProperty(static_cast<UChar32>(character), UCHAR_EMOJI_PRESENTATION);
}

bool is_emoji(char32_t character)
{
    return u_hasBinaryProperty(static_cast<UChar32>(character), UCHAR_EMOJI);
}

bool is_regional_indicator(char32_t character)
{
    return character >= 0x1F1E6 && character <= 0x1F1FF;
}

}
