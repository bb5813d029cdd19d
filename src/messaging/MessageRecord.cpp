#include "messaging/MessageRecord.h"

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

Correspondent MessageRecord::peer() const
{
    if (incoming())
        return sender;
    return recipients.empty() ? Correspondent {} : recipients.front();
}

platform::SendState MessageRecord::send_state() const
{
    if (!recipient_states.empty())
        return recipient_states.front();
    return folder == FolderKind::Outbox ? platform::SendState::Sending : platform::SendState::Sent;
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

}
