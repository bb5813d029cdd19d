#include "platform/ModemFilingLog.h"

#include "platform/MessageTables.h"
#include "platform/StoreValues.h"

#include <ctime>

namespace velloq::platform {

namespace {

enum Statement : size_t {
    Known,
    Remember,
    ForgetFiled,
    ForgetIncompleteBefore,
    NoteIncomplete,
    FirstSeen,
    ForgetIncomplete,
    SentWithReference,
    RecipientProperties,
};

char const* const statement_sql[] = {
    "SELECT 1 FROM modem_filed WHERE key = ?1",
    "INSERT INTO modem_filed(key, source, message, filed) VALUES(?1, ?2, ?3, ?4)",
    "DELETE FROM modem_filed WHERE filed < ?1",
    "DELETE FROM modem_incomplete WHERE first_seen < ?1",
    "INSERT OR IGNORE INTO modem_incomplete(key, first_seen) VALUES(?1, ?2)",
    "SELECT first_seen FROM modem_incomplete WHERE key = ?1",
    "DELETE FROM modem_incomplete WHERE key = ?1",
    "SELECT m.entry_id, r.message, r.row FROM recipients r JOIN messages m ON m.id = r.message "
    "JOIN folders f ON f.id = m.folder WHERE r.tag = ?1 AND r.value = ?2 AND f.tag IN (?3, ?4) ORDER BY r.message DESC",
    "SELECT tag, value FROM recipients WHERE message = ?1 AND row = ?2",
};

}

StoreResult<std::unique_ptr<ModemFilingLog>> ModemFilingLog::open(MessageTables& tables, std::function<void()> inbox_changed)
{
    return open_store_part<ModemFilingLog>(tables.database(), statement_sql, tables, std::move(inbox_changed));
}

ModemFilingLog::ModemFilingLog(MessageTables& tables, StatementSet statements, std::function<void()> inbox_changed)
    : StorePart(tables, std::move(statements))
    , m_inbox_changed(std::move(inbox_changed))
{
}

ModemFilingLog::~ModemFilingLog() = default;

StoreResult<ModemFilingLog::Filing> ModemFilingLog::file_from_modem(std::string const& key, std::string const& source, StoredMessage const& message)
{
    auto filed = insert_filed(key, source, message);
    if (!filed)
        return filed.error();
    if (!*filed)
        return Filing::AlreadyFiled;
    if (m_inbox_changed)
        m_inbox_changed();
    return Filing::Filed;
}

// True when the message was filed now, false when its key was filed before.
StoreResult<bool> ModemFilingLog::insert_filed(std::string const& key, std::string const& source, StoredMessage const& message)
{
    SqliteTransaction transaction(m_tables.database(), SqliteTransaction::Kind::Immediate);
    if (!transaction.begun())
        return m_tables.failure();
    auto known = filed_from_modem(key);
    if (!known)
        return known.error();
    if (*known)
        return false;
    auto inbox = m_tables.folder_of_kind(Tag::InboxEntryId);
    if (!inbox)
        return inbox.error();
    auto entry = m_tables.insert_message(*inbox, message, false);
    if (!entry)
        return entry.error();
    StatementUse remember(m_statements[Remember]);
    remember->bind(1, key).bind(2, source).bind(3, m_tables.row_of_entry(*entry)).bind(4, static_cast<int64_t>(std::time(nullptr)));
    if (!remember->execute() || !transaction.commit())
        return m_tables.failure();
    return true;
}

StoreResult<bool> ModemFilingLog::filed_from_modem(std::string const& key)
{
    StatementUse known(m_statements[Known]);
    known->bind(1, key);
    bool found = known->step();
    if (known->failed())
        return m_tables.failure();
    return found;
}

StoreResult<void> ModemFilingLog::forget_filed_before(int64_t unix_seconds)
{
    for (auto statement : { ForgetFiled, ForgetIncompleteBefore }) {
        StatementUse forget(m_statements[statement]);
        if (!forget->bind(1, unix_seconds).execute())
            return m_tables.failure();
    }
    return {};
}

StoreResult<int64_t> ModemFilingLog::first_seen_incomplete(std::string const& key, int64_t now_unix)
{
    StatementUse note(m_statements[NoteIncomplete]);
    StatementUse seen(m_statements[FirstSeen]);
    note->bind(1, key).bind(2, now_unix);
    seen->bind(1, key);
    if (!note->execute() || !seen->step())
        return m_tables.failure();
    return seen->column_int(0);
}

StoreResult<void> ModemFilingLog::forget_incomplete(std::string const& key)
{
    StatementUse forget(m_statements[ForgetIncomplete]);
    if (!forget->bind(1, key).execute())
        return m_tables.failure();
    return {};
}

StoreResult<std::vector<ModemFilingLog::SentRecipient>> ModemFilingLog::sent_with_reference(int64_t reference)
{
    StatementUse rows(m_statements[SentWithReference]);
    rows->bind(1, static_cast<int64_t>(Tag::MessageReference)).bind(2, reference);
    rows->bind(3, static_cast<int64_t>(Tag::SentEntryId)).bind(4, static_cast<int64_t>(Tag::OutboxEntryId));
    std::vector<SentRecipient> found;
    while (rows->step()) {
        SentRecipient recipient;
        std::string_view entry = rows->column_view(0);
        recipient.entry.assign(entry.begin(), entry.end());
        recipient.row = rows->column_int(2);
        if (auto read = read_recipient(rows->column_int(1), recipient); !read)
            return read.error();
        found.push_back(std::move(recipient));
    }
    if (rows->failed())
        return m_tables.failure();
    return found;
}

StoreResult<void> ModemFilingLog::read_recipient(int64_t message, SentRecipient& recipient)
{
    StatementUse properties(m_statements[RecipientProperties]);
    properties->bind(1, message).bind(2, recipient.row);
    while (properties->step()) {
        auto tag = static_cast<uint32_t>(properties->column_int(0));
        recipient.properties[tag] = read_value(*properties, 1, tag);
    }
    if (properties->failed())
        return m_tables.failure();
    return {};
}

}
