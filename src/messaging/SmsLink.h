#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velloq {

// An "sms:" or "smsto:" link (as a desktop hands it to its handler): the number to write to and
// the text to start with. "sms:+4915112345678?body=Hello%20there", "sms://+49151…",
// "smsto:+49151…:Hello" and a list of numbers ("sms:+49151…,+49170…", the first is taken).
struct SmsLink {
    std::u16string number;
    std::u16string body;
};

// Whether a command line is meant as such a link (whether or not it is a good one).
bool looks_like_sms_link(std::u16string_view command_line);

// The link's number and body, percent-decoded; nullopt for a link that is not one (no number, a
// number with letters, a broken escape, a text that is not UTF-8). `why` says what was wrong.
std::optional<SmsLink> parse_sms_link(std::u16string_view link, std::string& why);

}
