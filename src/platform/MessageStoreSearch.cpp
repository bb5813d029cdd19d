#include "platform/MessageStore.h"

#include "platform/Utf.h"

#include <algorithm>

namespace velloq::platform {

namespace {

// Words are folded to lower case without accents in every script (Latin, Cyrillic, Greek...).
// The text is indexed folded (`search_fold`), so the tokenizer's own folding, which knows only
// Latin accents, sees no accent of any script.
char const* const search_table_sql = "CREATE VIRTUAL TABLE IF NOT EXISTS message_search USING fts5(body, numbers, "
                                     "tokenize = 'unicode61 remove_diacritics 2')";


}

bool MessageStore::make_search_table()
{
    if (!m_search_table)
        m_search_table = m_database->execute(search_table_sql);
    if (!m_search_table)
        m_error = m_database->error();
    return m_search_table;
}

bool MessageStore::index_one(int64_t message, SearchTerms const& terms_of)
{
    auto forget = m_database->reuse("DELETE FROM message_search WHERE rowid = ?1");
    auto text = m_database->reuse("SELECT p.value FROM properties p JOIN messages m ON m.id = p.message WHERE p.message = ?1 AND p.tag = ?2");
    auto add = m_database->reuse("INSERT INTO message_search(rowid, body, numbers) VALUES(?1, ?2, ?3)");
    auto done = m_database->reuse("DELETE FROM search_pending WHERE message = ?1");
    if (!forget || !text || !add || !done)
        return false;
    if (!forget->bind(1, message).execute())
        return false;
    text->bind(1, message).bind(2, static_cast<int64_t>(Tag::Subject));
    if (text->step()) {
        std::u16string body = to_utf16(text->column_text(0));
        std::string terms = terms_of ? terms_of(body) : std::string();
        if (!add->bind(1, message).bind(2, to_utf8(search_fold(body))).bind(3, terms).execute())
            return false;
    } else if (text->failed()) {
        return false;
    }
    return done->bind(1, message).execute();
}

std::optional<size_t> MessageStore::index_for_search(size_t limit, SearchTerms const& terms_of)
{
    if (!make_search_table())
        return std::nullopt;
    // The notes are read first, without the write lock: with nothing noted (the common case at a
    // start and at each search) no writer is kept waiting even for a moment.
    auto pending = m_database->prepare("SELECT message FROM search_pending ORDER BY message LIMIT ?1");
    if (!pending)
        return fail(), std::nullopt;
    pending->bind(1, static_cast<int64_t>(limit));
    std::vector<int64_t> messages;
    while (pending->step())
        messages.push_back(pending->column_int(0));
    if (pending->failed())
        return fail(), std::nullopt;
    if (messages.empty())
        return 0;
    // Indexing a message twice (another connection took the same note meanwhile) does no harm.
    SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
    if (!transaction.begun())
        return fail(), std::nullopt;
    for (int64_t message : messages) {
        if (!index_one(message, terms_of))
            return fail(), std::nullopt;
    }
    // No change count: the messages themselves did not change, and readers need not look again.
    if (!transaction.commit())
        return fail(), std::nullopt;
    return messages.size();
}

std::optional<bool> MessageStore::rebuild_search_index_if_needed()
{
    // The index holds a row for each message with a text.
    auto has_table = count_of("SELECT COUNT(*) FROM sqlite_master WHERE name = 'message_search'");
    auto texts = count_of("SELECT COUNT(*) FROM properties WHERE tag = 3604511");
    auto noted = count_of("SELECT COUNT(*) FROM search_pending");
    if (!has_table || !texts || !noted)
        return fail(), std::nullopt;
    // Without the table nothing is indexed: the notes must cover every message. A count that
    // cannot be had is a damaged index.
    std::optional<int64_t> indexed = *has_table ? count_of("SELECT COUNT(*) FROM message_search") : 0;
    if (indexed && *indexed <= *texts && *indexed + *noted >= *texts)
        return false;
    if (!rebuild_search_index())
        return std::nullopt;
    return true;
}

// The first column of a query's one row; its statement is done with before this returns, so
// nothing holds the schema while the index is dropped.
std::optional<int64_t> MessageStore::count_of(char const* sql)
{
    auto statement = m_database->prepare(sql);
    if (!statement || !statement->step())
        return std::nullopt;
    return statement->column_int(0);
}

// An index whose own tables are damaged cannot even be dropped (SQLite cannot open it): its entry
// is taken out of the schema by hand and its tables dropped as the plain tables they are.
char const* const forget_damaged_index_sql = "PRAGMA writable_schema=ON;"
                                             "DELETE FROM sqlite_master WHERE type = 'table' AND name = 'message_search';"
                                             "PRAGMA writable_schema=OFF;"
                                             "DROP TABLE IF EXISTS message_search_data; DROP TABLE IF EXISTS message_search_idx;"
                                             "DROP TABLE IF EXISTS message_search_content; DROP TABLE IF EXISTS message_search_docsize;"
                                             "DROP TABLE IF EXISTS message_search_config;";

bool MessageStore::rebuild_search_index()
{
    m_search_table = false;
    SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
    if (!transaction.begun())
        return fail();
    if (!m_database->execute("DROP TABLE IF EXISTS message_search") && !m_database->execute(forget_damaged_index_sql))
        return fail();
    if (!m_database->execute(search_table_sql) || !m_database->execute("INSERT OR IGNORE INTO search_pending(message) SELECT id FROM messages")
        || !transaction.commit())
        return fail();
    m_search_table = true;
    return true;
}

std::optional<int64_t> MessageStore::search_backlog()
{
    auto statement = m_database->prepare("SELECT COUNT(*) FROM search_pending");
    if (!statement || !statement->step())
        return fail(), std::nullopt;
    return statement->column_int(0);
}

std::optional<std::vector<Bytes>> MessageStore::search(std::string const& match, size_t offset, size_t limit)
{
    if (!make_search_table())
        return std::nullopt;
    // The newest first by the time the message arrived (or was last written, for the user's own).
    auto newest = m_database->prepare(
        "SELECT s.rowid FROM message_search s "
        "LEFT JOIN properties d ON d.message = s.rowid AND d.tag = ?2 "
        "LEFT JOIN properties w ON w.message = s.rowid AND w.tag = ?3 "
        "WHERE message_search MATCH ?1 ORDER BY COALESCE(d.value, w.value, 0) DESC, s.rowid DESC LIMIT ?4 OFFSET ?5");
    if (!newest)
        return fail(), std::nullopt;
    newest->bind(1, match).bind(2, static_cast<int64_t>(Tag::DeliveryTime)).bind(3, static_cast<int64_t>(Tag::LastModificationTime));
    newest->bind(4, static_cast<int64_t>(limit)).bind(5, static_cast<int64_t>(offset));
    std::vector<Bytes> entries;
    while (newest->step())
        entries.push_back(message_entry_id(newest->column_int(0)));
    if (newest->failed())
        return fail(), std::nullopt;
    return entries;
}

}
