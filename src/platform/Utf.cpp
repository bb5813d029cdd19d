#include "platform/Utf.h"

#include <cstdio>

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <charconv>

namespace velloq {

namespace {

constexpr UChar32 replacement_character = 0xFFFD;

}

std::string to_utf8(std::u16string_view text)
{
    if (text.empty())
        return {};
    // Every UTF-16 code unit becomes at most three UTF-8 bytes, so one pass always fits.
    std::string out(text.size() * 3, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
        static_cast<int32_t>(text.size()), replacement_character, nullptr, &status);
    if (U_FAILURE(status))
        return {};
    out.resize(static_cast<size_t>(length));
    return out;
}

std::u16string to_utf16(std::string_view text)
{
    if (text.empty())
        return {};
    // A UTF-8 byte never yields more than one UTF-16 code unit.
    std::u16string out(text.size(), u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
        static_cast<int32_t>(text.size()), replacement_character, nullptr, &status);
    if (U_FAILURE(status))
        return {};
    out.resize(static_cast<size_t>(length));
    return out;
}

namespace {

template<typename Mapping>
std::u16string map_each_character(std::u16string_view text, Mapping mapping)
{
    std::u16string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        UChar32 character;
        U16_NEXT(text.data(), at, text.size(), character);
        UChar32 mapped = mapping(character);
        // A mapping that would change the length in UTF-16 keeps the character as it is.
        if (U16_LENGTH(mapped) != U16_LENGTH(character))
            mapped = character;
        out.append(U16_LENGTH(mapped) == 1 ? std::u16string(1, static_cast<char16_t>(mapped))
                                            : std::u16string { static_cast<char16_t>(U16_LEAD(mapped)), static_cast<char16_t>(U16_TRAIL(mapped)) });
    }
    return out;
}

}

std::u16string lower_case(std::u16string_view text)
{
    return map_each_character(text, [](UChar32 c) { return u_tolower(c); });
}

// Each character folded and stripped of its accents on its own: a precomposed letter becomes the
// first character of its canonical decomposition ("Ё" "ё", "Ά" "α", "É" "e").
std::u16string search_fold(std::u16string_view text)
{
    UErrorCode status = U_ZERO_ERROR;
    icu::Normalizer2 const* decomposition = icu::Normalizer2::getNFDInstance(status);
    return map_each_character(text, [&](UChar32 c) {
        UChar32 folded = u_foldCase(c, U_FOLD_CASE_DEFAULT);
        icu::UnicodeString parts;
        if (U_SUCCESS(status) && decomposition->getDecomposition(folded, parts) && parts.length() > 0)
            folded = parts.char32At(0);
        return folded;
    });
}

std::vector<std::pair<size_t, size_t>> word_ranges(std::u16string_view text)
{
    std::vector<std::pair<size_t, size_t>> words;
    size_t begin = std::u16string_view::npos;
    for (size_t at = 0; at < text.size();) {
        size_t here = at;
        UChar32 c;
        U16_NEXT(text.data(), at, text.size(), c);
        bool in_word = u_isalnum(c) || u_charType(c) == U_NON_SPACING_MARK;
        if (in_word && begin == std::u16string_view::npos)
            begin = here;
        if (!in_word && begin != std::u16string_view::npos) {
            words.emplace_back(begin, here);
            begin = std::u16string_view::npos;
        }
    }
    if (begin != std::u16string_view::npos)
        words.emplace_back(begin, text.size());
    return words;
}

std::u16string upper_case(std::u16string_view text)
{
    return map_each_character(text, [](UChar32 c) { return u_toupper(c); });
}

std::u16string fold_case(std::u16string_view text)
{
    if (text.empty())
        return {};
    // Folding can grow a text (ß becomes ss), so ask for the size when the first guess is short.
    std::u16string out(text.size() + 8, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t length = u_strFoldCase(out.data(), static_cast<int32_t>(out.size()), text.data(),
            static_cast<int32_t>(text.size()), U_FOLD_CASE_DEFAULT, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.assign(static_cast<size_t>(length), u'\0');
            continue;
        }
        if (U_FAILURE(status))
            return std::u16string(text);
        out.resize(static_cast<size_t>(length));
        return out;
    }
    return std::u16string(text);
}

std::u16string to_u16_decimal(long long number)
{
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, number);
    return std::u16string(digits, result.ptr);
}

std::u16string to_u16_decimal_unsigned(unsigned long long number)
{
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, number);
    return std::u16string(digits, result.ptr);
}

std::u16string to_u16_hex(unsigned long long number, int digits)
{
    char text[24];
    auto result = std::to_chars(text, text + sizeof text, number, 16);
    std::u16string out;
    for (int pad = digits - static_cast<int>(result.ptr - text); pad > 0; --pad)
        out.push_back(u'0');
    for (char const* c = text; c != result.ptr; ++c)
        out.push_back(static_cast<char16_t>(*c >= 'a' ? *c - 'a' + 'A' : *c));
    return out;
}

bool reorders_line(char32_t c)
{
    return c == 0x061C || (c >= 0x200E && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

std::string terminal_text(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    char escape[16];
    for (size_t at = 0; at < text.size(); ++at) {
        char16_t c = text[at];
        // Marks that reorder a line, separators that end one for line readers, and invisible
        // characters that hide in a text (zero width space, word joiner, byte order mark); the
        // joiners that build emoji and Persian words stay.
        bool reorders = reorders_line(c);
        bool hidden = c == 0x200B || c == 0x2028 || c == 0x2029 || c == 0x2060 || c == 0xFEFF || c == 0x180E;
        bool lone = (c & 0xF800) == 0xD800
            && !((c & 0xFC00) == 0xD800 && at + 1 < text.size() && (text[at + 1] & 0xFC00) == 0xDC00);
        if (c == u'\n') {
            out += "\\n";
        } else if (c == u'\r') {
            out += "\\r";
        } else if (c == u'\t') {
            out += "\\t";
        } else if (c == u'\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(c));
            out += escape;
        } else if ((c >= 0x80 && c <= 0x9F) || reorders || hidden || lone) {
            std::snprintf(escape, sizeof escape, "\\u{%04x}", static_cast<unsigned>(c));
            out += escape;
        } else {
            size_t length = (c & 0xFC00) == 0xD800 && at + 1 < text.size() && (text[at + 1] & 0xFC00) == 0xDC00 ? 2 : 1;
            out += to_utf8(text.substr(at, length));
            at += length - 1;
        }
    }
    return out;
}

int hex_digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}
