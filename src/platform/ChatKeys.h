#pragma once

#include "platform/MessageTypes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velloq::platform {

// How messages are gathered into chats: by a key made from the other party's number. The store
// keeps its index of chats with these keys, and the chat model makes the same keys from what it
// reads, so both must come from here.

// The last seven decimal digits of a text, in their order (the chat key of a number).
std::u16string last_seven_digits(std::u16string_view text);
// At least three of its last seven digits, and not just the current year.
bool is_phone_number(std::u16string_view candidate);
// The chat key of an address: its last 7 digits; an address without digits is its own key; an
// empty address gives the name. A group's address is its members' addresses joined by
// `group_separator`; its key is the sorted set of their keys, joined the same way.
constexpr char16_t group_separator = u';';
std::u16string chat_key(std::u16string_view address, std::u16string_view name);
// Whether a chat key is a group's.
bool is_group_key(std::u16string_view key);
// The members' addresses joined into a group's address; one member gives its own address.
std::u16string group_address(std::vector<std::u16string> const& addresses);
// The addresses of a group's address (one for anyone else's).
std::vector<std::u16string> group_members(std::u16string_view address);
// The lines of a multi-line property (an MMS's members), empty lines left out.
std::vector<std::u16string> property_lines(std::u16string_view text);
// The longest phone number in a delivery report's text, or empty.
std::u16string report_number(std::u16string_view text);

// One chat a stored message belongs in.
struct ChatPlace {
    std::u16string key;
    // The message's time (FILETIME), by which a chat's messages are ordered.
    int64_t time { 0 };
    // What the message is to its chat: an incoming message waits to be read while its read flag
    // is clear; an unread incoming report is marked read when the chats take it.
    enum Kind : int64_t { FromUser = 0, Incoming = 1, IncomingReport = 2, Draft = 3 };
    Kind kind { FromUser };
    bool unread { false };
};

// The chats a message belongs in, as the chat model files it: a report by the number in its
// text, a message from the user in the chat of each recipient (only the first when it lies in the
// inbox), any other by its sender. None for a message the model cannot read (no flags, text or
// time, an incoming one without sender) or one without anyone to talk to.
enum class ChatFolder { Inbox, Drafts, Other };
std::vector<ChatPlace> chat_places_of(StoredMessage const&, ChatFolder);

}
