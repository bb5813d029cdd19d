#include "messaging/TextAnalysis.h"

#include "platform/ChatKeys.h"
#include "platform/Utf.h"

#include <algorithm>
#include <array>

namespace velloq {

namespace {

constexpr std::u16string_view delimiters = u" ,;()<>[]{}\"'\\\n\t";
constexpr std::u16string_view punctuation = u" ,;()<>[]{}\"'\\\n\t.?!:-+";

constexpr std::array<std::u16string_view, 43> top_level_domains { u".com", u".net", u".org", u".edu", u".gov", u".biz", u".cn", u".de",
    u".fr", u".gb", u".it", u".jp", u".ru", u".uk", u".us", u".ae", u".at", u".au", u".be", u".br", u".ca", u".cc", u".ch", u".cz", u".es",
    u".eu", u".fl", u".gr", u".hk", u".il", u".in", u".kr", u".nl", u".no", u".pl", u".pt", u".sa", u".se", u".tr", u".tw", u".ua",
    u".info", u".mobi" };

// The characters beyond printable ASCII that the GSM default alphabet and its extension hold,
// in ascending order.
constexpr std::array<char16_t, 40> gsm_extra { u'¡', u'£', u'¤', u'¥', u'§', u'¿', u'Ä', u'Å', u'Æ', u'Ç', u'É', u'Ñ', u'Ö', u'Ø', u'Ü',
    u'ß', u'à', u'ä', u'å', u'æ', u'è', u'é', u'ì', u'ñ', u'ò', u'ö', u'ø', u'ù', u'ü', u'Γ', u'Δ', u'Θ', u'Λ', u'Ξ', u'Π', u'Σ', u'Φ',
    u'Ψ', u'Ω', u'€' };

bool is_delimiter(char16_t c)
{
    return delimiters.find(c) != std::u16string_view::npos;
}

bool is_punctuation(char16_t c)
{
    return punctuation.find(c) != std::u16string_view::npos;
}

bool is_digit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

}

bool is_gsm_character(char16_t c)
{
    if (c == u'\n' || c == u'\f' || c == u'\r')
        return true;
    if (c >= u' ' && c <= u'~')
        return c != u'`';
    return std::binary_search(gsm_extra.begin(), gsm_extra.end(), c);
}

bool is_link(std::u16string_view word)
{
    size_t n = word.size();
    if ((n > 6 && word.starts_with(u"http://")) || (n > 7 && word.starts_with(u"https://")) || (n > 3 && word.starts_with(u"www.")))
        return true;
    for (size_t i = 3; i <= 5 && i < n; ++i) {
        for (auto domain : top_level_domains) {
            if (domain.size() == i && word.substr(n - i) == domain)
                return true;
        }
    }
    return false;
}

std::u16string last_seven_digits(std::u16string_view text)
{
    return platform::last_seven_digits(text);
}

std::u16string all_digits(std::u16string_view text)
{
    std::u16string digits;
    std::copy_if(text.begin(), text.end(), std::back_inserter(digits), is_digit);
    return digits;
}

bool is_phone_number(std::u16string_view candidate)
{
    return platform::is_phone_number(candidate);
}

std::vector<std::u16string> find_items(std::u16string_view text)
{
    std::vector<std::u16string> found;
    size_t word_start = 0;
    size_t number_start = 0;
    bool number_open = true;
    size_t n = text.size();
    auto at = [&](size_t i) { return i < n ? text[i] : u'\n'; };
    for (size_t i = 0; i <= n; ++i) {
        char16_t ch = at(i);
        bool ends_word = is_delimiter(ch) || ch < 0x20 || ch >= 0x7B;
        if (ends_word) {
            std::u16string_view word = text.substr(word_start, i > word_start ? i - word_start : 0);
            if (is_link(word))
                found.emplace_back(word);
            word_start = i + 1;
        } else if (is_punctuation(ch) && i == word_start) {
            word_start = i + 1;
        }
        char16_t next = i + 1 < n ? text[i + 1] : u'\0';
        bool in_number = is_digit(ch) || ch == u'(' || (ch == u')' && number_start < i) || (i + 1 < n && ch == u'+' && is_digit(next))
            || ((ch == u' ' || ch == u'-') && number_start < i && (is_digit(next) || next == u'(' || next == u')'));
        if (!number_open) {
            number_start = i + 1;
            if (is_punctuation(ch)) {
                number_open = true;
                if (in_number)
                    number_start = i;
            }
        } else if (!in_number) {
            if (is_punctuation(ch)) {
                std::u16string_view number = text.substr(number_start, i > number_start ? i - number_start : 0);
                if (is_phone_number(number)) {
                    found.emplace_back(number);
                    word_start = i + 1;
                }
            }
            number_open = false;
            number_start = i + 1;
        }
    }
    return found;
}

void find_items(MessageRecord& record)
{
    record.found_items = find_items(record.text);
}

SmsParts count_sms_parts(std::u16string_view text)
{
    auto n = static_cast<int32_t>(text.size());
    bool plain = std::all_of(text.begin(), text.end(), is_gsm_character);
    int32_t single = plain ? 160 : 70;
    int32_t split = plain ? 153 : 67;
    if (n <= single)
        return { 1, single - n };
    int32_t parts = (n + split - 1) / split;
    return { parts, parts * split - n };
}

}
