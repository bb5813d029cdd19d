// The modem service's part of the message store: messages filed from the modem exactly once, and
// the per-recipient state of outgoing messages.
#include "platform/MessageStore.h"
#include "platform/StoreValues.h"

#include <ctime>

namespace velloq::platform {

MessageStore::Filing MessageStore::file_from_modem(std::string const& key, std::string const& source, StoredMessage const& message)
{
    m_prefetched.clear();
    {
        SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
        if (!transaction.begun())
            return fail(), Filing::Failed;
        auto known = m_database->prepare("SELECT 1 FROM modem_filed WHERE key = ?1");
        auto inbox = m_database->prepare("SELECT id FROM folders WHERE tag = 0x81060102");
        auto remember = m_database->prepare("INSERT INTO modem_filed(key, source, message, filed) VALUES(?1, ?2, ?3, ?4)");
        if (!known || !inbox || !remember)
            return fail(), Filing::Failed;
        known->bind(1, key);
        if (known->step())
            return Filing::AlreadyFiled;
        if (known->failed() || !inbox->step())
            return fail(), Filing::Failed;
        auto entry = insert_message(inbox->column_int(0), message, false);
        if (!entry)
            return Filing::Failed;
        remember->bind(1, key).bind(2, source).bind(3, row_of_entry(*entry)).bind(4, static_cast<int64_t>(std::time(nullptr)));
        if (!remember->execute() || !transaction.commit())
            return fail(), Filing::Failed;
    }
    publish_unread_count();
    return Filing::Filed;
}

bool MessageStore::filed_from_modem(std::string const& key)
{
    auto known = m_database->prepare("SELECT 1 FROM modem_filed WHERE key = ?1");
    if (!known)
        return fail();
    known->bind(1, key);
    return known->step();
}

bool MessageStore::forget_filed_before(int64_t unix_seconds)
{
    auto forget = m_database->prepare("DELETE FROM modem_filed WHERE filed < ?1");
    auto forget_incomplete = m_database->prepare("DELETE FROM modem_incomplete WHERE first_seen < ?1");
    if (!forget || !forget_incomplete)
        return fail();
    forget->bind(1, unix_seconds);
    forget_incomplete->bind(1, unix_seconds);
    return (forget->execute() && forget_incomplete->execute()) || fail();
}

std::optional<int64_t> MessageStore::first_seen_incomplete(std::string const& key, int64_t now_unix)
{
    auto note = m_database->prepare("INSERT OR IGNORE INTO modem_incomplete(key, first_seen) VALUES(?1, ?2)");
    auto seen = m_database->prepare("SELECT first_seen FROM modem_incomplete WHERE key = ?1");
    if (!note || !seen)
        return fail(), std::nullopt;
    note->bind(1, key).bind(2, now_unix);
    seen->bind(1, key);
    if (!note->execute() || !seen->step())
        return fail(), std::nullopt;
    return seen->column_int(0);
}

bool MessageStore::forget_incomplete(std::string const& key)
{
    auto forget = m_database->prepare("DELETE FROM modem_incomplete WHERE key = ?1");
    if (!forget)
        return fail();
    forget->bind(1, key);
    return forget->execute() || fail();
}

bool MessageStore::note_unsettled_send(Bytes const& entry, int64_t row, std::string const& instance, std::string const& path, PropertySet const& properties)
{
    m_prefetched.clear();
    SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
    auto message = transaction.begun() ? message_row(entry) : std::nullopt;
    if (!message)
        return fail();
    auto remember = m_database->prepare("INSERT OR REPLACE INTO modem_sending(instance, path, message, row, since) VALUES(?1, ?2, ?3, ?4, ?5)");
    if (!remember)
        return fail();
    remember->bind(1, instance).bind(2, path).bind(3, *message).bind(4, row).bind(5, static_cast<int64_t>(std::time(nullptr)));
    auto transmitted = m_database->prepare("INSERT OR IGNORE INTO transmitted(message, row) VALUES(?1, ?2)");
    if (!transmitted)
        return fail();
    transmitted->bind(1, *message).bind(2, row);
    if (!remember->execute() || !transmitted->execute() || !upsert_properties(*message, row, properties) || !transaction.commit())
        return fail();
    changed();
    return true;
}

std::vector<MessageStore::UnsettledSend> MessageStore::unsettled_sends()
{
    std::vector<UnsettledSend> sends;
    auto rows = m_database->prepare("SELECT instance, path, since FROM modem_sending ORDER BY since");
    if (!rows)
        return fail(), sends;
    while (rows->step())
        sends.push_back({ rows->column_text(0), rows->column_text(1), rows->column_int(2) });
    return sends;
}

bool MessageStore::settle_send(std::string const& instance, std::string const& path, PropertySet const& outcome)
{
    m_prefetched.clear();
    SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
    auto find = m_database->prepare("SELECT message, row FROM modem_sending WHERE instance = ?1 AND path = ?2");
    auto forget = m_database->prepare("DELETE FROM modem_sending WHERE instance = ?1 AND path = ?2");
    if (!transaction.begun() || !find || !forget)
        return fail();
    find->bind(1, instance).bind(2, path);
    if (!find->step())
        return find->failed() ? fail() : false;
    int64_t message = find->column_int(0);
    int64_t row = find->column_int(1);
    find->reset();
    forget->bind(1, instance).bind(2, path);
    if (!upsert_properties(message, row, outcome) || !forget->execute() || !transaction.commit())
        return fail();
    changed();
    return true;
}

bool MessageStore::set_recipient_properties(Bytes const& entry, int64_t row, PropertySet const& properties)
{
    if (!write_properties(entry, row, properties))
        return false;
    changed();
    return true;
}

std::vector<MessageStore::SentRecipient> MessageStore::sent_with_reference(int64_t reference)
{
    std::vector<SentRecipient> found;
    auto rows = m_database->prepare("SELECT m.entry_id, r.message, r.row FROM recipients r JOIN messages m ON m.id = r.message "
                                    "JOIN folders f ON f.id = m.folder WHERE r.tag = ?1 AND r.value = ?2 AND f.tag IN (0x35E40102, 0x35E20102) "
                                    "ORDER BY r.message DESC");
    auto properties = m_database->prepare("SELECT tag, value FROM recipients WHERE message = ?1 AND row = ?2");
    if (!rows || !properties)
        return fail(), found;
    rows->bind(1, static_cast<int64_t>(Tag::MessageReference)).bind(2, reference);
    while (rows->step()) {
        SentRecipient recipient;
        std::string entry = rows->column_text(0);
        recipient.entry.assign(entry.begin(), entry.end());
        recipient.row = rows->column_int(2);
        properties->reset();
        properties->bind(1, rows->column_int(1)).bind(2, recipient.row);
        while (properties->step()) {
            auto tag = static_cast<uint32_t>(properties->column_int(0));
            recipient.properties[tag] = read_value(*properties, 1, tag);
        }
        found.push_back(std::move(recipient));
    }
    return found;
}

}
