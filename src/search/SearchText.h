#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velloq {

// A phone number written in a text: where it stands and its digits in two spellings.
struct NumberInText {
    size_t begin { 0 };
    size_t end { 0 };
    std::string digits;   // every digit as written, without "+" or separators
    std::string national; // without the country code ("+49", "0049") or the trunk "0"
};

// The phone numbers of a text: runs of at least five digits that may start with "+" and hold
// single spaces, dashes, dots, slashes and brackets between digits.
std::vector<NumberInText> numbers_in_text(std::u16string_view text);

// The digits a number is found by whichever way it was spelled: "+49 151 2345", "0049 151 2345"
// and "0151 2345" all give "1512345".
std::string national_digits(std::string_view digits, bool international);

// What the index keeps beside a message's text: both spellings of each of its numbers.
std::string number_terms(std::u16string_view text);

// What was typed into the search field, made safe for the full-text index: each word is quoted
// and matched at word beginnings; a query that is a phone number matches numbers however they
// were spelled. `match` is empty when nothing searchable was typed.
// `typed` is folded for search (`search_fold`) first.
struct SearchQuery {
    std::string match;
    std::string number;               // the national digits when the query is a number
    std::vector<std::u16string> words; // the words matched at word beginnings
};
SearchQuery make_search_query(std::u16string_view typed);

// The words of a folded text that begin with one of the query's words.
std::vector<std::pair<size_t, size_t>> word_marks(std::u16string_view folded, std::vector<std::u16string> const& words);

// The ranges of the numbers in a text that begin with the query's number.
std::vector<std::pair<size_t, size_t>> number_marks(std::u16string_view text, std::string const& number);

}
