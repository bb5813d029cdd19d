#include "messaging/MessageRecord.h"

#include "platform/ChatKeys.h"

#include <algorithm>
#include <cstring>

namespace velloq {

EntryId::EntryId(std::vector<uint8_t> bytes)
    : m_buffer(std::make_shared<std::vector<uint8_t> const>(std::move(bytes)))
    , m_offset(0)
    , m_length(m_buffer->size())
{
}

EntryId::EntryId(std::shared_ptr<std::vector<uint8_t> const> buffer, size_t offset, size_t length)
    : m_buffer(std::move(buffer))
    , m_offset(offset)
    , m_length(length)
{
    if (!m_buffer || m_offset > m_buffer->size() || m_buffer->size() - m_offset < m_length) {
        m_buffer.reset();
        m_offset = 0;
        m_length = 0;
    }
}

std::string EntryId::hex() const
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < m_length; ++i) {
        text.push_back(digits[data()[i] >> 4]);
        text.push_back(digits[data()[i] & 0x0F]);
    }
    return text;
}

bool EntryId::operator==(EntryId const& other) const
{
    return m_length == other.m_length && (m_length == 0 || std::memcmp(data(), other.data(), m_length) == 0);
}

bool EntryId::operator<(EntryId const& other) const
{
    if (m_length != other.m_length)
        return m_length < other.m_length;
    return m_length != 0 && std::memcmp(data(), other.data(), m_length) < 0;
}

bool MessageRecord::in_group() const
{
    return is_mms && (incoming() ? !members.empty() && !sender.address.empty() : recipients.size() > 1);
}

Correspondent MessageRecord::peer() const
{
    if (in_group()) {
        std::vector<std::u16string> addresses;
        if (incoming()) {
            addresses.push_back(sender.address);
            addresses.insert(addresses.end(), members.begin(), members.end());
        } else {
            for (auto const& recipient : recipients)
                addresses.push_back(recipient.address);
        }
        return { {}, platform::group_address(addresses) };
    }
    if (incoming())
        return sender;
    return recipients.empty() ? Correspondent {} : recipients.front();
}

namespace {

constexpr size_t key_bytes = 8;

// Whether every id has the first one's length and all but its last eight bytes.
bool share_prefix(std::vector<EntryId> const& ids)
{
    size_t length = ids.front().length();
    if (length < key_bytes)
        return false;
    uint8_t const* prefix = ids.front().data();
    return std::all_of(ids.begin(), ids.end(), [&](EntryId const& id) {
        return id.length() == length && std::memcmp(id.data(), prefix, length - key_bytes) == 0;
    });
}

uint64_t tail_key(EntryId const& id)
{
    uint8_t const* tail = id.data() + id.length() - key_bytes;
    uint64_t key = 0;
    for (size_t index = 0; index < key_bytes; ++index)
        key = key << 8 | tail[index];
    return key;
}

// Keys that lie close together (the rows of one store) go into a slot each, in one pass; false
// when they are too spread out or one comes twice (then a sort keeps the two side by side).
bool place_in_slots(std::vector<EntryId>& ids, std::vector<uint64_t> const& keys)
{
    auto [lowest, highest] = std::minmax_element(keys.begin(), keys.end());
    uint64_t range = *highest - *lowest + 1;
    if (range > 4 * keys.size() + 64)
        return false;
    constexpr uint32_t empty = UINT32_MAX;
    std::vector<uint32_t> slots(range, empty);
    for (size_t index = 0; index < keys.size(); ++index) {
        uint32_t& slot = slots[keys[index] - *lowest];
        if (slot != empty)
            return false;
        slot = static_cast<uint32_t>(index);
    }
    std::vector<EntryId> sorted;
    sorted.reserve(ids.size());
    for (uint32_t slot : slots)
        if (slot != empty)
            sorted.push_back(std::move(ids[slot]));
    ids = std::move(sorted);
    return true;
}

void sort_by_keys(std::vector<EntryId>& ids, std::vector<uint64_t> const& keys)
{
    std::vector<std::pair<uint64_t, uint32_t>> order;
    order.reserve(ids.size());
    for (size_t index = 0; index < ids.size(); ++index)
        order.emplace_back(keys[index], static_cast<uint32_t>(index));
    std::sort(order.begin(), order.end());
    std::vector<EntryId> sorted;
    sorted.reserve(ids.size());
    for (auto const& [key, index] : order)
        sorted.push_back(std::move(ids[index]));
    ids = std::move(sorted);
}

}

void sort_entry_ids(std::vector<EntryId>& ids)
{
    if (ids.size() < 2)
        return;
    if (!share_prefix(ids) || ids.size() >= UINT32_MAX) {
        std::sort(ids.begin(), ids.end());
        return;
    }
    std::vector<uint64_t> keys;
    keys.reserve(ids.size());
    for (auto const& id : ids)
        keys.push_back(tail_key(id));
    if (!place_in_slots(ids, keys))
        sort_by_keys(ids, keys);
}

platform::SendState MessageRecord::send_state() const
{
    if (!recipient_states.empty())
        return recipient_states.front();
    return folder == FolderKind::Outbox ? platform::SendState::Sending : platform::SendState::Sent;
}

bool MessageRecord::not_sent() const
{
    return !incoming() && std::find(recipient_states.begin(), recipient_states.end(), platform::SendState::NotSent) != recipient_states.end();
}

char16_t const* send_state_key(platform::SendState state)
{
    switch (state) {
    case platform::SendState::Sending:
        return u"SendStateSending";
    case platform::SendState::NotSent:
        return u"SendStateNotSent";
    case platform::SendState::Delivered:
        return u"SendStateDelivered";
    case platform::SendState::NotDelivered:
        return u"SendStateNotDelivered";
    case platform::SendState::Sent:
        break;
    }
    return u"SendStateSent";
}

MessagePart const* MessageRecord::picture() const
{
    for (auto const& part : parts)
        if (part.is_picture())
            return &part;
    return nullptr;
}

}
