#pragma once

#include "messaging/MessageRecord.h"
#include "platform/ChatKeys.h"

#include <memory>
#include <string>
#include <vector>

namespace velloq {

// One conversation: the messages exchanged with one phone number, oldest first. A chat holds its
// newest messages; the older ones stay in the store until they are shown (`ChatModel::load_older`).
struct Chat {
    std::vector<MessageRecord> messages;
    // Whether no message of the store is older than those the chat holds.
    bool holds_oldest { false };
    std::u16string name;
    std::u16string address;
    std::u16string phone_label;
    std::u16string key;
    int32_t contact_id { -1 };
    // Whether `name` is a contact's (kept by the cache from an earlier start), not the sender's own.
    bool named_by_contact { false };
    int32_t unread { 0 };

    // The name when there is one, else the address.
    std::u16string const& title() const { return name.empty() ? address : name; }
    // A chat of several others (an MMS group): its address joins theirs.
    bool is_group() const { return platform::is_group_key(key); }
};

// The chat key of an address: its last 7 digits; an address without digits is its own key; an
// empty address gives the name.
std::u16string chat_key(std::u16string const& address, std::u16string const& name);

// The chat a message belongs to (without the message): a delivery report by the longest phone
// number in its text, any other message by its peer.
std::unique_ptr<Chat> chat_for_message(MessageRecord const&);
// The key of the chat a message belongs in (that of `chat_for_message`), without making the chat.
std::u16string chat_key_of(MessageRecord const&);

// A chat without messages for a phone-book entry (a new conversation).
struct PhoneEntry;
std::unique_ptr<Chat> chat_for_entry(PhoneEntry const&);

// A message from the user to several recipients, read whole, narrowed to the recipient of the
// chat with `key`, as each recipient's chat holds it (its own recipient and how far it got).
void keep_recipient_of_chat(MessageRecord&, std::u16string const& key);

// The longest phone number in a report's text, or empty.
std::u16string report_number(std::u16string_view text);

// Message order: by time, then by entry id.
bool message_before(MessageRecord const&, MessageRecord const&);
// Chat order: the chat with the newer last message first; equal last messages by key, descending.
bool chat_before(Chat const&, Chat const&);

}
