#pragma once

#include "messaging/MessagePart.h"
#include "messaging/MessageTime.h"
#include "platform/SendState.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velloq {

// A message's identity in the store: an opaque byte string, shared between copies. Shorter ids
// sort first; ids of one length compare as unsigned bytes. Length 0 stands for no message.
class EntryId {
public:
    EntryId() = default;
    explicit EntryId(std::vector<uint8_t> bytes);
    EntryId(std::shared_ptr<std::vector<uint8_t> const> buffer, size_t offset, size_t length);
    EntryId(EntryId const&) = default;
    EntryId& operator=(EntryId const&) = default;
    // A moved-from id is empty, never a length without its bytes.
    EntryId(EntryId&& other) noexcept
        : m_buffer(std::move(other.m_buffer))
        , m_offset(std::exchange(other.m_offset, 0))
        , m_length(std::exchange(other.m_length, 0))
    {
    }
    EntryId& operator=(EntryId&& other) noexcept
    {
        m_buffer = std::move(other.m_buffer);
        m_offset = std::exchange(other.m_offset, 0);
        m_length = std::exchange(other.m_length, 0);
        return *this;
    }

    size_t length() const { return m_length; }
    bool is_empty() const { return m_length == 0; }
    uint8_t const* data() const { return m_buffer ? m_buffer->data() + m_offset : nullptr; }
    std::vector<uint8_t> bytes() const { return is_empty() ? std::vector<uint8_t>() : std::vector<uint8_t>(data(), data() + m_length); }
    std::string hex() const;

    bool operator==(EntryId const&) const;
    bool operator<(EntryId const&) const;

private:
    std::shared_ptr<std::vector<uint8_t> const> m_buffer;
    size_t m_offset { 0 };
    size_t m_length { 0 };
};

// Sorts ids into their order. Ids of one length that share all but their last eight bytes (the
// ids of one store) are ordered by those eight bytes alone, which is the same order, found with
// integer compares instead of byte compares.
void sort_entry_ids(std::vector<EntryId>& ids);

struct Correspondent {
    std::u16string name;
    std::u16string address;
    bool operator==(Correspondent const&) const = default;
};

enum class FolderKind : int32_t {
    Incoming = 0,
    Sent = 1,
    Drafts = 2,
    Outbox = 3,
};

enum class ReportKind : int32_t {
    Message = 0,
    Delivered = 1,
    NotDelivered = 2,
};

constexpr uint32_t message_flag_read = 0x01;
constexpr uint32_t message_flag_from_me = 0x20;

// One SMS as the program holds it.
struct MessageRecord {
    EntryId id;
    Correspondent sender;
    std::vector<Correspondent> recipients;
    std::u16string text;
    MessageTime time;
    uint32_t flags { 0 };
    ReportKind report_kind { ReportKind::Message };
    FolderKind folder { FolderKind::Incoming };
    std::u16string time_text;
    std::u16string date_text;
    std::vector<std::u16string> found_items;
    // How far the message got to each of `recipients` (same order); filled by a read.
    std::vector<platform::SendState> recipient_states;
    // An MMS's parts other than its text.
    std::vector<MessagePart> parts;
    bool is_mms { false };
    // Everyone else an incoming MMS went to, the user left out: with them it is a group's message.
    std::vector<std::u16string> members;

    bool incoming() const { return (flags & message_flag_from_me) == 0; }
    bool unread() const { return (flags & message_flag_read) == 0; }
    // An incoming message the user has not read; a delivery report is never one, whatever its
    // flags say: it is news about the user's own message, not a word from the other party.
    bool awaits_reading() const { return folder == FolderKind::Incoming && unread() && report_kind == ReportKind::Message; }
    bool is_report() const { return report_kind != ReportKind::Message; }
    // The first picture among its parts; null without one.
    MessagePart const* picture() const;
    // The other party: the first recipient of a message from the user, else the sender. For a
    // group's MMS, the group: its members' addresses joined, without a name.
    Correspondent peer() const;
    // An MMS of a chat with several others.
    bool in_group() const;
    // How far a message from the user got to its peer.
    platform::SendState send_state() const;
    // An outgoing message that did not reach one of its recipients and can be sent again.
    bool not_sent() const;
};

// The language key that names a state to the user.
char16_t const* send_state_key(platform::SendState);

}
