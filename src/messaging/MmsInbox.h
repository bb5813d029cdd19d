#pragma once

#include "messaging/MessagePart.h"
#include "platform/MessageStore.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velloq {

// An MMS the phone's MMS service received, as the modem service files it: the message stays in
// the MMS service's store, and the message store keeps what places it in a chat.
struct ReceivedMms {
    // The MMS service's object paths of the service (one per modem) and of the message.
    std::string service;
    std::string path;
    std::u16string sender;
    // Whom else it went to, the sender and the user left out: any makes it a group's message.
    std::vector<std::u16string> members;
    std::u16string text;
    int64_t filetime { 0 };
    bool read { false };
    // Its parts other than text and layout.
    std::vector<MessagePart> parts;
};

// Whom else an MMS went to: its recipients without the sender and the user (`own_numbers`, the
// phone's numbers as the MMS service or the modem knows them). Without the user's number, a
// message to one recipient went to the user alone; of several, none can be told to be the user's,
// and all stay.
std::vector<std::u16string> other_members(std::vector<std::u16string> const& recipients, std::u16string const& sender,
    std::vector<std::u16string> const& own_numbers);

// The largest text part read from the MMS service's files.
constexpr size_t largest_mms_text = 64 * 1024;

// Sorts the MMS service's attachments into the message's text (its text/plain parts, read from
// their files and joined by line breaks) and its other parts; the layout (SMIL) is dropped. What
// could not be read or kept is said in `problems`, a line each, and left out.
void take_mms_attachments(std::vector<MessagePart> const& attachments, ReceivedMms& mms, std::vector<std::string>& problems);

// Files a received MMS into the inbox (unread unless the MMS service says it was read), once per
// path, with its members and parts.
platform::StoreResult<platform::MmsFiling::Filing> file_received_mms(platform::MessageStore&, ReceivedMms const&);

}
