#include "messaging/SmsManager.h"

#include "platform/ChatKeys.h"
#include "platform/Utf.h"
#include "shell/Log.h"
#include "shell/Registry.h"

namespace velloq {

namespace {

using platform::Bytes;
using platform::PropertySet;
using platform::PropertyValue;
namespace Tag = platform::Tag;

// The store's answer when a property is missing (MAPI_E_NOT_FOUND).
constexpr int32_t not_found = static_cast<int32_t>(0x8004010F);
constexpr uint32_t sms_record_status = 0x00040000;
constexpr uint32_t unsent_from_me = 0x28;
constexpr uint32_t recipient_to = 1;

using platform::number_of;
using platform::text_of;

std::optional<MessageTime> time_of(PropertySet const& properties)
{
    for (uint32_t tag : { Tag::DeliveryTime, Tag::LastModificationTime }) {
        if (auto filetime = number_of(properties, tag))
            return MessageTime::from_filetime(*filetime);
        log() << u"error in get_time_tag " << static_cast<int32_t>(tag) << u"\n";
    }
    return std::nullopt;
}

}

SmsManager::SmsManager()
{
    std::string error;
    m_session = platform::MessageStore::open_device(error);
    if (!m_session) {
        log() << u"MAPILogonEx failed";
        log() << u"\n";
        log() << u"messages.db: " << to_utf16(error) << u"\n";
        m_open_error = error;
        return;
    }
    auto stores = m_session->stores();
    if (!stores) {
        log() << u"GetMsgStoresTable failed\n";
        m_open_error = stores.error().text;
        return;
    }
    for (auto const& store : *stores) {
        if (store.display_name.find(u"SMS") != std::u16string::npos) {
            m_store_entry = store.entry_id;
            break;
        }
    }
    if (!m_store_entry) {
        m_open_error = "the store holds no SMS store";
        log() << u"SMS store not found\n";
        return;
    }
    uint32_t const folder_tags[] = { Tag::InboxEntryId, Tag::SentEntryId, Tag::DraftsEntryId, Tag::OutboxEntryId, Tag::RootEntryId };
    for (size_t i = 0; i < m_folders.size(); ++i) {
        m_folders[i].entry = m_session->store_property(*m_store_entry, folder_tags[i]).as_optional();
        if (!m_folders[i].entry)
            log() << u"Unable to GetProps\n";
    }
}

SmsManager::~SmsManager() = default;

bool SmsManager::owns_id(EntryId const& id) const
{
    return m_session && !id.is_empty() && m_session->owns_entry(id.data(), id.length());
}

SmsManager::StoreFolder* SmsManager::folder(FolderKind kind)
{
    auto index = static_cast<size_t>(kind);
    if (index >= 4 || !m_folders[index].entry || !m_session)
        return nullptr;
    return &m_folders[index];
}

int32_t SmsManager::get_length(FolderKind kind)
{
    StoreFolder* store_folder = folder(kind);
    if (!store_folder) {
        log() << u"GetContentsTable in get_length failed\n";
        return 0;
    }
    auto count = m_session->row_count(*store_folder->entry);
    if (!count) {
        log() << u"GetRowCount failed\n";
        return 0;
    }
    return static_cast<int32_t>(*count);
}

std::optional<int32_t> SmsManager::length_of(FolderKind kind)
{
    StoreFolder* store_folder = folder(kind);
    auto count = store_folder ? m_session->row_count(*store_folder->entry).as_optional() : std::nullopt;
    if (!count)
        return std::nullopt;
    return static_cast<int32_t>(*count);
}

bool SmsManager::store_answers()
{
    return length_of(FolderKind::Incoming).has_value();
}

std::optional<std::vector<EntryId>> SmsManager::unread_ids()
{
    auto entries = m_session ? m_session->unread_inbox_entries().as_optional() : std::nullopt;
    if (!entries)
        return std::nullopt;
    std::vector<EntryId> ids;
    ids.reserve(entries->size());
    for (auto& entry : *entries)
        ids.emplace_back(std::move(entry));
    return ids;
}

EntryId SmsManager::get_id(FolderKind kind, int32_t index)
{
    StoreFolder* store_folder = folder(kind);
    if (!store_folder) {
        log() << u"GetContentsTable in get_id failed\n";
        return {};
    }
    auto version = m_session->change_count();
    bool cached = store_folder->first >= 0 && index >= store_folder->first && index < store_folder->first + static_cast<int32_t>(store_folder->rows.size())
        && version && store_folder->version == version;
    if (!cached) {
        if (index < 0) {
            log() << u"SeekRow failed\n";
            return {};
        }
        store_folder->first = index;
        store_folder->rows.clear();
        store_folder->version = version;
        ++m_window_queries;
        auto rows = m_session->rows(*store_folder->entry, index, window_rows);
        if (!rows || rows->empty()) {
            log() << u"QueryRows failed\n";
            return {};
        }
        store_folder->rows = std::move(*rows);
    }
    return EntryId(store_folder->rows[static_cast<size_t>(index - store_folder->first)]);
}

bool SmsManager::read_sender_or_recipients(platform::StoredMessage const& message, MessageRecord& record)
{
    if (record.flags & message_flag_from_me) {
        for (auto const& row : message.recipients) {
            Correspondent correspondent { text_of(row, Tag::DisplayName).value_or(u""), text_of(row, Tag::EmailAddress).value_or(u"") };
            if (correspondent.name.empty() && correspondent.address.empty())
                break;
            record.recipients.push_back(std::move(correspondent));
            auto state = number_of(row, Tag::RecipientState);
            record.recipient_states.push_back(state ? static_cast<platform::SendState>(*state)
                                                    : record.folder == FolderKind::Outbox ? platform::SendState::Sending : platform::SendState::Sent);
        }
        return true;
    }
    auto name = text_of(message.properties, Tag::SenderName);
    auto address = text_of(message.properties, Tag::SenderAddress);
    if (!name || !address)
        return false;
    record.sender = { *name, *address };
    return true;
}

bool SmsManager::read_sms(EntryId const& id, MessageRecord& record)
{
    auto message = m_session && !id.is_empty() ? m_session->open_message(id.bytes()).as_optional() : std::nullopt;
    if (!message) {
        log() << u"Unable to open the message\n";
        log() << u"No message in read_sms\n";
        return false;
    }
    record.id = id;
    return take_message(std::move(*message), record);
}

bool SmsManager::read_folders(std::vector<FolderKind> const& kinds, std::function<void(MessageRecord&&)> const& take)
{
    std::vector<platform::Bytes> entries;
    for (FolderKind kind : kinds) {
        StoreFolder* store_folder = folder(kind);
        if (!store_folder)
            return false;
        entries.push_back(*store_folder->entry);
    }
    return m_session->read_folders(entries, [&](size_t index, platform::Bytes const& entry, platform::StoredMessage&& message) {
        MessageRecord record;
        record.id = EntryId(entry);
        record.folder = kinds[index];
        if (take_message(std::move(message), record))
            take(std::move(record));
    }).ok();
}

// The record's fields from the message's properties; `record.folder` is set.
bool SmsManager::take_message(platform::StoredMessage&& message, MessageRecord& record)
{
    auto flags = number_of(message.properties, Tag::MessageFlags);
    if (!flags) {
        log() << u"error PR_MESSAGE_FLAGS, code" << not_found << u"\n";
        return false;
    }
    record.flags = static_cast<uint32_t>(*flags);
    auto text = message.properties.find(Tag::Subject);
    if (text == message.properties.end() || !std::holds_alternative<std::u16string>(text->second)) {
        log() << u"error in get_text_tag " << static_cast<int32_t>(Tag::Subject) << u"\n";
        return false;
    }
    record.text = std::move(std::get<std::u16string>(text->second));
    auto time = time_of(message.properties);
    if (!time)
        return false;
    record.time = *time;
    record.recipients.clear();
    record.recipient_states.clear();
    record.sender = {};
    if (!read_sender_or_recipients(message, record))
        return false;
    record.parts = parse_message_parts(to_utf8(text_of(message.properties, Tag::MmsParts).value_or(u"")));
    auto message_class = text_of(message.properties, Tag::MessageClass);
    record.is_mms = message_class == u"IPM.MMS";
    record.members = platform::property_lines(text_of(message.properties, Tag::MmsMembers).value_or(u""));
    record.report_kind = ReportKind::Message;
    if (message_class == u"REPORT.IPM.SMStext.DR")
        record.report_kind = ReportKind::Delivered;
    else if (message_class == u"REPORT.IPM.SMStext.NDR")
        record.report_kind = ReportKind::NotDelivered;
    return true;
}

bool SmsManager::set_sms_read(EntryId const& id, bool read)
{
    auto message = m_session && !id.is_empty() ? m_session->open_message(id.bytes()).as_optional() : std::nullopt;
    if (!message) {
        log() << u"No message in set_sms_read\n";
        return false;
    }
    auto flags = number_of(message->properties, Tag::MessageFlags);
    if (!flags)
        return false;
    if (((*flags & message_flag_read) != 0) == read)
        return true;
    if (!m_session->set_properties(id.bytes(), { { Tag::MessageFlags, *flags ^ message_flag_read } })) {
        log() << u"Unable to set read, code:" << static_cast<int32_t>(0x80004005) << u"\n";
        return false;
    }
    return true;
}

bool SmsManager::mark_read(std::vector<EntryId> const& ids)
{
    if (!m_session)
        return false;
    std::vector<Bytes> entries;
    entries.reserve(ids.size());
    for (auto const& id : ids)
        entries.push_back(id.bytes());
    if (!m_session->mark_read(entries)) {
        log() << u"Unable to set read, code:" << static_cast<int32_t>(0x80004005) << u"\n";
        return false;
    }
    return true;
}

bool SmsManager::delete_message(FolderKind kind, MessageRecord const& record)
{
    StoreFolder* store_folder = folder(kind);
    if (!store_folder || record.id.is_empty() || !m_session->delete_message(*store_folder->entry, record.id.bytes())) {
        log() << u"DeleteMessages failed\n";
        return false;
    }
    return true;
}

bool SmsManager::send(std::vector<Correspondent> const& recipients, std::u16string const& text)
{
    if (!folder(FolderKind::Outbox)) {
        log() << u"CreateMessage failed\n";
        return false;
    }
    platform::StoredMessage message;
    // Every message the program sends is marked as Unicode; a store without the name still sends.
    if (auto unicode = m_session->named_property(platform::ps_mapi, u"SMS:Unicode", true))
        message.properties[(*unicode << 16) | 0x000B] = int64_t(1);
    int32_t notify = 0;
    reg_get_int(u"HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Inbox\\Settings", u"SMSDeliveryNotify", notify);
    log() << u"delivery_notification:" << notify << u"\n";
    message.properties[Tag::DeliveryReportRequested] = int64_t(notify != 0 ? 1 : 0);
    return submit(recipients, text, std::move(message));
}

bool SmsManager::send_mms(std::vector<Correspondent> const& recipients, std::u16string const& text, std::vector<MessagePart> const& parts)
{
    platform::StoredMessage message;
    message.properties[Tag::MessageClass] = std::u16string(u"IPM.MMS");
    message.properties[Tag::MmsParts] = to_utf16(format_message_parts(parts));
    return submit(recipients, text, std::move(message));
}

bool SmsManager::submit(std::vector<Correspondent> const& recipients, std::u16string const& text, platform::StoredMessage message)
{
    StoreFolder* outbox = folder(FolderKind::Outbox);
    if (!outbox) {
        log() << u"CreateMessage failed\n";
        return false;
    }
    for (auto const& recipient : recipients) {
        message.recipients.push_back({ { Tag::RecipientType, int64_t(recipient_to) }, { Tag::AddressType, std::u16string(u"SMS") },
            { Tag::DisplayName, recipient.name }, { Tag::EmailAddress, recipient.address } });
    }
    message.properties[Tag::Subject] = text;
    message.properties[Tag::MessageStatus] = int64_t(sms_record_status);
    message.properties[Tag::MessageFlags] = int64_t(unsent_from_me);
    message.properties[Tag::LastModificationTime] = MessageTime::now().filetime();
    if (!m_session->create_message(*outbox->entry, message, true)) {
        log() << u"SubmitMessage failed\n";
        return false;
    }
    return true;
}

bool SmsManager::retry(MessageRecord& record)
{
    if (record.folder != FolderKind::Outbox || record.id.is_empty() || !m_session)
        return false;
    for (size_t row = 0; row < record.recipient_states.size(); ++row) {
        if (record.recipient_states[row] != platform::SendState::NotSent)
            continue;
        platform::PropertySet again { { Tag::RecipientState, static_cast<int64_t>(platform::SendState::Sending) }, { Tag::SendError, std::u16string() } };
        if (!m_session->set_recipient_properties(record.id.bytes(), static_cast<int64_t>(row), again))
            return false;
        record.recipient_states[row] = platform::SendState::Sending;
    }
    return true;
}

bool SmsManager::save_draft(Correspondent const& recipient, std::u16string const& text)
{
    StoreFolder* drafts = folder(FolderKind::Drafts);
    if (!drafts) {
        log() << u"CreateMessage failed\n";
        return false;
    }
    platform::StoredMessage message;
    message.recipients.push_back({ { Tag::RecipientType, int64_t(recipient_to) }, { Tag::AddressType, std::u16string(u"SMS") },
        { Tag::DisplayName, recipient.name }, { Tag::EmailAddress, recipient.address } });
    message.properties[Tag::Subject] = text;
    message.properties[Tag::MessageStatus] = int64_t(sms_record_status);
    // A draft is the user's own, unsent, and needs no reading.
    message.properties[Tag::MessageFlags] = int64_t(unsent_from_me | message_flag_read);
    message.properties[Tag::LastModificationTime] = MessageTime::now().filetime();
    if (!m_session->create_message(*drafts->entry, message, false)) {
        log() << u"SaveChanges failed\n";
        return false;
    }
    return true;
}

void SmsManager::begin_reading()
{
    if (m_session)
        m_session->begin_reading();
}

void SmsManager::end_reading()
{
    if (m_session)
        m_session->end_reading();
}

}
