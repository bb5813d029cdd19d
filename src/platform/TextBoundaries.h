#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace velloq::platform {

// A stretch of a line in one writing direction.
struct DirectionRun {
    size_t start { 0 };
    size_t length { 0 };
    bool right_to_left { false };
};

// The direction a line is laid out in: its first strong character's, or its paragraph's.
enum class BaseDirection : uint8_t { FirstStrong = 0, LeftToRight = 1, RightToLeft = 2 };

// The direction runs of one line (no line feeds) in the order they are shown, left to right, by
// the Unicode Bidirectional Algorithm, on the given base direction.
std::vector<DirectionRun> visual_runs(std::u16string_view line, BaseDirection base = BaseDirection::FirstStrong);
// Whether the first strong character of the text's first paragraph writes right to left
// (Arabic, Hebrew, …); it looks no further than the paragraph's first strong character.
bool starts_right_to_left(std::u16string_view text);

// Grapheme clusters, the characters a reader sees: an emoji sequence, a letter with its marks,
// an Indic syllable part. `at` is a code unit index; the results are cluster edges.
size_t next_grapheme(std::u16string_view text, size_t at);
size_t previous_grapheme(std::u16string_view text, size_t at);
// The cluster edges after `from` up to and including `to` (which counts as an edge), in one pass.
std::vector<size_t> grapheme_edges(std::u16string_view text, size_t from, size_t to);
// The edge of the cluster `at` is in, or `at` itself when it is one.
size_t grapheme_edge_at_or_before(std::u16string_view text, size_t at);

// Where a line may break (a new line may start), after the text's start, in order; the text's
// end is the last. Dictionary-based for scripts without spaces (Thai, Chinese, Japanese).
std::vector<size_t> line_break_opportunities(std::u16string_view text);

// The script of a character (an ICU script code); common characters (blanks, digits,
// punctuation) and inherited ones (marks) say so, as they take the script around them.
int32_t script_of(char32_t character);
bool is_shared_script(int32_t script);
// The four-letter ISO 15924 name of a script ("Arab"), for shapers.
char const* script_tag(int32_t script);

// Whether a character is drawn as a colour emoji without a variation selector (😀, not ❤).
bool has_emoji_presentation(char32_t character);
bool is_emoji(char32_t character);
bool is_regional_indicator(char32_t character);

}
