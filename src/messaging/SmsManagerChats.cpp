// The store's index of chats, as records the chat model holds.
#include "messaging/SmsManager.h"

#include "platform/Utf.h"
#include "shell/Log.h"

namespace velloq {

namespace {

using platform::IndexedMessage;
namespace Tag = platform::Tag;

FolderKind folder_kind(uint32_t tag)
{
    switch (tag) {
    case Tag::SentEntryId:
        return FolderKind::Sent;
    case Tag::DraftsEntryId:
        return FolderKind::Drafts;
    case Tag::OutboxEntryId:
        return FolderKind::Outbox;
    default:
        return FolderKind::Incoming;
    }
}

// What a record holds before it is read: enough to order it, count it and find it again.
MessageRecord slim_record(IndexedMessage const& message)
{
    MessageRecord record;
    record.id = EntryId(message.entry);
    record.folder = folder_kind(message.folder);
    record.time = MessageTime::from_filetime(message.position.time);
    record.flags = message.awaits_reading ? 0 : message_flag_read;
    return record;
}

// Oldest first, from an answer that comes newest first.
std::vector<MessageRecord> oldest_first(std::vector<IndexedMessage> const& messages)
{
    std::vector<MessageRecord> records;
    records.reserve(messages.size());
    for (auto message = messages.rbegin(); message != messages.rend(); ++message)
        records.push_back(slim_record(*message));
    return records;
}

std::vector<EntryId> ids_of(std::vector<platform::Bytes>&& entries)
{
    std::vector<EntryId> ids;
    ids.reserve(entries.size());
    for (auto& entry : entries)
        ids.emplace_back(std::move(entry));
    return ids;
}

template<typename T>
std::optional<T> answer(platform::StoreResult<T>&& result)
{
    if (!result) {
        log() << u"chat index: " << to_utf16(result.error().text) << u"\n";
        return std::nullopt;
    }
    return std::move(result).value();
}

}

std::optional<std::vector<SmsManager::IndexedChat>> SmsManager::indexed_chats()
{
    if (!m_session)
        return std::nullopt;
    auto chats = answer(m_session->chat_index().chats());
    if (!chats)
        return std::nullopt;
    std::vector<IndexedChat> records;
    records.reserve(chats->size());
    for (auto const& chat : *chats)
        records.push_back({ chat.key, slim_record(chat.newest), static_cast<int32_t>(chat.unread) });
    return records;
}

std::optional<SmsManager::IndexedChat> SmsManager::indexed_chat(std::u16string const& key)
{
    if (!m_session)
        return std::nullopt;
    auto chat = answer(m_session->chat_index().chat(key));
    if (!chat || !*chat)
        return std::nullopt;
    return IndexedChat { key, slim_record((*chat)->newest), static_cast<int32_t>((*chat)->unread) };
}

std::optional<std::vector<MessageRecord>> SmsManager::chat_messages(std::u16string const& key, EntryId const& before, size_t limit)
{
    if (!m_session)
        return std::nullopt;
    std::optional<platform::ChatPosition> position;
    if (!before.is_empty()) {
        auto found = answer(m_session->chat_index().position_of(before.bytes()));
        if (!found)
            return std::nullopt;
        // A message gone from the store leaves no place to read before.
        if (!*found)
            return std::vector<MessageRecord>();
        position = *found;
    }
    auto messages = answer(m_session->chat_index().messages(key, position, static_cast<int64_t>(limit)));
    if (!messages)
        return std::nullopt;
    return oldest_first(*messages);
}

std::optional<std::vector<MessageRecord>> SmsManager::chat_messages_from(std::u16string const& key, EntryId const& from)
{
    if (!m_session)
        return std::nullopt;
    auto position = answer(m_session->chat_index().position_of(from.bytes()));
    if (!position)
        return std::nullopt;
    if (!*position)
        return std::vector<MessageRecord>();
    auto messages = answer(m_session->chat_index().messages_from(key, **position));
    if (!messages)
        return std::nullopt;
    std::vector<MessageRecord> records;
    records.reserve(messages->size());
    for (auto const& message : *messages)
        records.push_back(slim_record(message));
    return records;
}

std::optional<int64_t> SmsManager::chat_message_count(std::u16string const& key)
{
    return m_session ? answer(m_session->chat_index().count(key)) : std::nullopt;
}

std::optional<std::vector<EntryId>> SmsManager::chat_unread_ids(std::u16string const& key)
{
    auto entries = m_session ? answer(m_session->chat_index().unread(key)) : std::nullopt;
    return entries ? std::optional(ids_of(std::move(*entries))) : std::nullopt;
}

std::optional<std::vector<EntryId>> SmsManager::unread_report_ids()
{
    auto entries = m_session ? answer(m_session->chat_index().unread_reports()) : std::nullopt;
    return entries ? std::optional(ids_of(std::move(*entries))) : std::nullopt;
}

std::optional<std::vector<std::pair<std::u16string, int32_t>>> SmsManager::chat_unread_counts()
{
    auto counts = m_session ? answer(m_session->chat_index().unread_counts()) : std::nullopt;
    if (!counts)
        return std::nullopt;
    std::vector<std::pair<std::u16string, int32_t>> result;
    result.reserve(counts->size());
    for (auto& [key, count] : *counts)
        result.emplace_back(std::move(key), static_cast<int32_t>(count));
    return result;
}

std::optional<std::pair<std::u16string, EntryId>> SmsManager::newest_unread()
{
    auto newest = m_session ? answer(m_session->chat_index().newest_unread()) : std::nullopt;
    if (!newest || !*newest)
        return std::nullopt;
    return std::pair { std::move((*newest)->first), EntryId(std::move((*newest)->second)) };
}

std::optional<bool> SmsManager::holds(EntryId const& id)
{
    if (!m_session || id.is_empty())
        return std::nullopt;
    return m_session->holds_message(id.bytes()).as_optional();
}

std::optional<FolderKind> SmsManager::folder_of(EntryId const& id)
{
    auto tag = m_session && !id.is_empty() ? m_session->folder_of(id.bytes()).as_optional() : std::nullopt;
    return tag ? std::optional(folder_kind(*tag)) : std::nullopt;
}

std::optional<MessageRecord> SmsManager::newest_draft(std::u16string const& key)
{
    auto draft = m_session ? answer(m_session->chat_index().newest_draft(key)) : std::nullopt;
    return draft && *draft ? std::optional(slim_record(**draft)) : std::nullopt;
}

}
