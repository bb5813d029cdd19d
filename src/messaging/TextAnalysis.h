#pragma once

#include "messaging/MessageRecord.h"

#include <string>
#include <string_view>

namespace velloq {

// Links and phone numbers in message texts, and SMS parts.

// "http://…", "https://…", "www.…", or a word that ends in one of the known top-level domains (case matters).
bool is_link(std::u16string_view word);
// At least three of its last seven digits, and not just the current year.
bool is_phone_number(std::u16string_view candidate);
// The last seven decimal digits of a text, in their order (the chat key of a number).
std::u16string last_seven_digits(std::u16string_view text);
// All decimal digits of a text, in their order: a number however it is written.
std::u16string all_digits(std::u16string_view text);
// Replaces the record's found items with the links and numbers of its text, in the order in
// which they end.
void find_items(MessageRecord& record);
std::vector<std::u16string> find_items(std::u16string_view text);

struct SmsParts {
    int32_t parts { 1 };
    int32_t left { 160 };
    bool operator==(SmsParts const&) const = default;
};
// Parts of 160 (153 when split) plain GSM characters, or of 70 (67) when any other character is
// in the text.
SmsParts count_sms_parts(std::u16string_view text);
bool is_gsm_character(char16_t);

}
