#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velloq {

// The system's texts are UTF-16 throughout; these convert at the edges (file names handed to the
// operating system, SQLite text, the terminal). Ill-formed input never fails: each bad sequence
// becomes U+FFFD, so a stray byte in a file name cannot lose the rest of the text.
std::string to_utf8(std::u16string_view text);
std::u16string to_utf16(std::string_view text);

// Full Unicode case folding, for names that compare case-insensitively but keep their case.
std::u16string fold_case(std::u16string_view text);
// Lower and upper case by each character's own mapping (any script), so every character keeps
// its place in the text: a match found in the lower-cased text marks the same characters in
// the original.
std::u16string lower_case(std::u16string_view text);
std::u16string upper_case(std::u16string_view text);
// For search: case folded and without accents in any script, each character in its own place
// (a match in the folded text marks the same characters in the original).
std::u16string search_fold(std::u16string_view text);
// Where the words of a text stand: runs of letters, digits and their combining marks, in any script.
std::vector<std::pair<size_t, size_t>> word_ranges(std::u16string_view text);

// Decimal rendering in UTF-16, for log lines and registry texts.
std::u16string to_u16_decimal(long long number);
std::u16string to_u16_decimal_unsigned(unsigned long long number);
// Upper-case hexadecimal, zero-padded to `digits` ("%08X" is 8).
std::u16string to_u16_hex(unsigned long long number, int digits);
// The value of a hexadecimal digit (either case), or -1.
int hex_digit_value(char c);

// The marks that turn a line's direction around (bidi embeddings, overrides, isolates, the
// direction marks and the Arabic letter mark).
bool reorders_line(char32_t c);

// UTF-8 for a terminal: control characters (C0, DEL, C1), the marks that reorder a line, line and
// paragraph separators, invisible characters and halves of surrogate pairs are shown escaped
// ("\\n", "\\x1b", "\\u{202e}"), so a text can never drive the terminal or split a record; a
// backslash is doubled, so the escapes cannot be imitated.
std::string terminal_text(std::u16string_view text);

}
