#include "search/SearchText.h"

#include "platform/Utf.h"

#include <algorithm>

namespace velloq {

namespace {

constexpr size_t fewest_number_digits = 5;
constexpr size_t fewest_query_digits = 3;

bool is_digit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

bool is_number_separator(char16_t c)
{
    return c == u' ' || c == u'-' || c == u'.' || c == u'/' || c == u'(' || c == u')';
}

// Country calling codes are prefix-free: "1" and "7" are whole codes, these two-digit codes are
// whole, and every other code has three digits.
size_t country_code_length(std::string_view digits)
{
    if (digits.empty())
        return 0;
    if (digits[0] == '1' || digits[0] == '7')
        return 1;
    static constexpr std::string_view two_digit[] = { "20", "27", "30", "31", "32", "33", "34", "36", "39", "40", "41", "43", "44",
        "45", "46", "47", "48", "49", "51", "52", "53", "54", "55", "56", "57", "58", "60", "61", "62", "63", "64", "65", "66", "81",
        "82", "84", "86", "90", "91", "92", "93", "94", "95", "98" };
    std::string_view head = digits.substr(0, 2);
    return std::find(std::begin(two_digit), std::end(two_digit), head) != std::end(two_digit) ? 2 : 3;
}

// A run of a number starting at `at` (a digit or "+"), or a run with no digits.
NumberInText number_at(std::u16string_view text, size_t at)
{
    NumberInText run { at, at, {}, {} };
    bool plus = text[at] == u'+';
    size_t position = plus ? at + 1 : at;
    while (position < text.size()) {
        if (is_digit(text[position])) {
            run.digits += static_cast<char>(text[position]);
            run.end = ++position;
            continue;
        }
        // Up to two separators (") " in "(0151) 234") between digits.
        size_t after = position;
        while (after < text.size() && after - position < 2 && is_number_separator(text[after]))
            ++after;
        if (after == position || after >= text.size() || !is_digit(text[after]))
            break;
        position = after;
    }
    bool international = plus || run.digits.starts_with("00");
    std::string_view spelled = plus ? std::string_view(run.digits) : std::string_view(run.digits).substr(international ? 2 : 0);
    run.national = national_digits(spelled, international);
    return run;
}

void quote_into(std::string& match, std::string_view word)
{
    match += '"';
    for (char c : word) {
        if (c == '"')
            match += '"';
        match += c;
    }
    match += "\"*";
}

bool only_number_characters(std::u16string_view typed)
{
    return std::all_of(typed.begin(), typed.end(), [](char16_t c) { return is_digit(c) || is_number_separator(c) || c == u'+'; });
}

}

std::string national_digits(std::string_view digits, bool international)
{
    if (international)
        return std::string(digits.substr(std::min(digits.size(), country_code_length(digits))));
    size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == '0')
        ++zeros;
    return std::string(digits.substr(zeros));
}

std::vector<NumberInText> numbers_in_text(std::u16string_view text)
{
    std::vector<NumberInText> numbers;
    size_t at = 0;
    while (at < text.size()) {
        bool starts = is_digit(text[at]) || (text[at] == u'+' && at + 1 < text.size() && is_digit(text[at + 1]));
        bool inside_word = at > 0 && (is_digit(text[at - 1]) || (text[at - 1] >= u'A' && text[at - 1] <= u'z'));
        if (!starts || inside_word) {
            ++at;
            continue;
        }
        NumberInText run = number_at(text, at);
        at = std::max(run.end, at + 1);
        if (run.digits.size() >= fewest_number_digits)
            numbers.push_back(std::move(run));
    }
    return numbers;
}

std::string number_terms(std::u16string_view text)
{
    std::string terms;
    for (NumberInText const& number : numbers_in_text(text)) {
        for (std::string const* spelling : { &number.digits, &number.national }) {
            if (spelling->empty())
                continue;
            if (!terms.empty())
                terms += ' ';
            terms += *spelling;
        }
    }
    return terms;
}

SearchQuery make_search_query(std::u16string_view typed)
{
    SearchQuery query;
    size_t digits = static_cast<size_t>(std::count_if(typed.begin(), typed.end(), is_digit));
    if (only_number_characters(typed) && digits >= fewest_query_digits) {
        size_t first = typed.find_first_not_of(u' ');
        NumberInText number = number_at(typed, first);
        query.number = number.national.empty() ? number.digits : number.national;
        query.match = "numbers : (";
        quote_into(query.match, query.number);
        query.match += " OR ";
        quote_into(query.match, number.digits);
        // Digits are also words of the text: a year, a room, a code, a price ("12.50" is the
        // words 12 and 50 in a row).
        query.match += ") OR body : ";
        std::u16string_view trimmed = typed.substr(first, typed.find_last_not_of(u' ') - first + 1);
        quote_into(query.match, to_utf8(std::u16string(trimmed)));
        for (auto const& [begin, end] : word_ranges(trimmed))
            query.words.emplace_back(trimmed.substr(begin, end - begin));
        return query;
    }
    size_t at = 0;
    while (at < typed.size()) {
        size_t end = typed.find_first_of(u" \t\n", at);
        if (end == std::u16string_view::npos)
            end = typed.size();
        std::u16string_view word = typed.substr(at, end - at);
        // A word worth searching for holds a letter or a digit of some script, not only punctuation.
        auto parts = word_ranges(word);
        if (!parts.empty()) {
            query.match += query.match.empty() ? "body : " : " AND body : ";
            quote_into(query.match, to_utf8(std::u16string(word)));
            for (auto const& [begin, end] : parts)
                query.words.emplace_back(word.substr(begin, end - begin));
        }
        at = end + 1;
    }
    return query;
}

std::vector<std::pair<size_t, size_t>> word_marks(std::u16string_view folded, std::vector<std::u16string> const& words)
{
    std::vector<std::pair<size_t, size_t>> marks;
    for (auto const& [begin, end] : word_ranges(folded)) {
        std::u16string_view word = folded.substr(begin, end - begin);
        if (std::any_of(words.begin(), words.end(), [&](std::u16string const& typed) { return word.starts_with(typed); }))
            marks.emplace_back(begin, end);
    }
    return marks;
}

std::vector<std::pair<size_t, size_t>> number_marks(std::u16string_view text, std::string const& number)
{
    std::vector<std::pair<size_t, size_t>> marks;
    if (number.empty())
        return marks;
    for (NumberInText const& found : numbers_in_text(text)) {
        if (found.national.starts_with(number) || found.digits.starts_with(number))
            marks.emplace_back(found.begin, found.end);
    }
    return marks;
}

}
