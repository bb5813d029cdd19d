#include "platform/SearchIndex.h"

#include "platform/MessageTables.h"
#include "platform/Utf.h"

namespace velloq::platform {

namespace {

// Words are folded to lower case without accents in every script (Latin, Cyrillic, Greek...).
// The text is indexed folded (`search_fold`), so the tokenizer's own folding, which knows only
// Latin accents, sees no accent of any script.
char const* const search_table_sql = "CREATE VIRTUAL TABLE IF NOT EXISTS message_search USING fts5(body, numbers, "
                                     "tokenize = 'unicode61 remove_diacritics 2')";

// An index whose own tables are damaged cannot even be dropped (SQLite cannot open it): its entry
// is taken out of the schema by hand and its tables dropped as the plain tables they are.
char const* const forget_damaged_index_sql = "PRAGMA writable_schema=ON;"
                                             "DELETE FROM sqlite_master WHERE type = 'table' AND name = 'message_search';"
                                             "PRAGMA writable_schema=OFF;"
                                             "DROP TABLE IF EXISTS message_search_data; DROP TABLE IF EXISTS message_search_idx;"
                                             "DROP TABLE IF EXISTS message_search_content; DROP TABLE IF EXISTS message_search_docsize;"
                                             "DROP TABLE IF EXISTS message_search_config;";

enum Statement : size_t {
    Pending,
    Text,
    Done,
    Backlog,
};

char const* const statement_sql[] = {
    "SELECT message FROM search_pending ORDER BY message LIMIT ?1",
    "SELECT p.value FROM properties p JOIN messages m ON m.id = p.message WHERE p.message = ?1 AND p.tag = ?2",
    "DELETE FROM search_pending WHERE message = ?1",
    "SELECT COUNT(*) FROM search_pending",
};

enum IndexStatement : size_t {
    Forget,
    Add,
    Newest,
};

char const* const index_statement_sql[] = {
    "DELETE FROM message_search WHERE rowid = ?1",
    "INSERT INTO message_search(rowid, body, numbers) VALUES(?1, ?2, ?3)",
    // The newest first by the time the message arrived (or was last written, for the user's own).
    "SELECT s.rowid FROM message_search s "
    "LEFT JOIN properties d ON d.message = s.rowid AND d.tag = ?2 "
    "LEFT JOIN properties w ON w.message = s.rowid AND w.tag = ?3 "
    "WHERE message_search MATCH ?1 ORDER BY COALESCE(d.value, w.value, 0) DESC, s.rowid DESC LIMIT ?4 OFFSET ?5",
};

}

StoreResult<std::unique_ptr<SearchIndex>> SearchIndex::open(MessageTables& tables)
{
    return open_store_part<SearchIndex>(tables.database(), statement_sql, tables);
}

SearchIndex::SearchIndex(MessageTables& tables, StatementSet statements)
    : StorePart(tables, std::move(statements))
{
}

SearchIndex::~SearchIndex() = default;

StoreResult<void> SearchIndex::make_table()
{
    if (m_index_statements)
        return {};
    SqliteDatabase& database = m_tables.database();
    if (!database.execute(search_table_sql))
        return m_tables.failure();
    m_index_statements = StatementSet::prepare(database, index_statement_sql);
    if (!m_index_statements)
        return m_tables.failure();
    return {};
}

StoreResult<void> SearchIndex::index_one(int64_t message, SearchTerms const& terms_of)
{
    auto& index = *m_index_statements;
    StatementUse forget(index[Forget]);
    if (!forget->bind(1, message).execute())
        return m_tables.failure();
    StatementUse text(m_statements[Text]);
    text->bind(1, message).bind(2, static_cast<int64_t>(Tag::Subject));
    if (text->step()) {
        std::u16string body = to_utf16(text->column_text(0));
        std::string terms = terms_of ? terms_of(body) : std::string();
        StatementUse add(index[Add]);
        if (!add->bind(1, message).bind(2, to_utf8(search_fold(body))).bind(3, terms).execute())
            return m_tables.failure();
    } else if (text->failed()) {
        return m_tables.failure();
    }
    StatementUse done(m_statements[Done]);
    if (!done->bind(1, message).execute())
        return m_tables.failure();
    return {};
}

StoreResult<std::vector<int64_t>> SearchIndex::pending(size_t limit)
{
    StatementUse pending(m_statements[Pending]);
    pending->bind(1, static_cast<int64_t>(limit));
    std::vector<int64_t> messages;
    while (pending->step())
        messages.push_back(pending->column_int(0));
    if (pending->failed())
        return m_tables.failure();
    return messages;
}

StoreResult<size_t> SearchIndex::index_for_search(size_t limit, SearchTerms const& terms_of)
{
    if (auto made = make_table(); !made)
        return made.error();
    // The notes are read first, without the write lock: with nothing noted (the common case at a
    // start and at each search) no writer is kept waiting even for a moment.
    auto messages = pending(limit);
    if (!messages || messages->empty())
        return messages ? StoreResult<size_t>(size_t(0)) : StoreResult<size_t>(messages.error());
    // Indexing a message twice (another connection took the same note meanwhile) does no harm.
    SqliteTransaction transaction(m_tables.database(), SqliteTransaction::Kind::Immediate);
    if (!transaction.begun())
        return m_tables.failure();
    for (int64_t message : *messages) {
        if (auto indexed = index_one(message, terms_of); !indexed)
            return indexed.error();
    }
    // No change count: the messages themselves did not change, and readers need not look again.
    if (!transaction.commit())
        return m_tables.failure();
    return messages->size();
}

StoreResult<bool> SearchIndex::rebuild_if_needed()
{
    // The index holds a row for each message with a text.
    auto has_table = count_of("SELECT COUNT(*) FROM sqlite_master WHERE name = 'message_search'");
    auto texts = count_of("SELECT COUNT(*) FROM properties WHERE tag = 3604511");
    auto noted = backlog();
    if (!has_table || !texts || !noted)
        return m_tables.failure();
    // Without the table nothing is indexed: the notes must cover every message. A count that
    // cannot be had is a damaged index.
    std::optional<int64_t> indexed = *has_table ? count_of("SELECT COUNT(*) FROM message_search") : 0;
    if (indexed && *indexed <= *texts && *indexed + *noted >= *texts)
        return false;
    if (auto rebuilt = rebuild(); !rebuilt)
        return rebuilt.error();
    return true;
}

// The first column of a query's one row; its statement is done with before this returns, so
// nothing holds the schema while the index is dropped.
std::optional<int64_t> SearchIndex::count_of(char const* sql)
{
    auto statement = m_tables.database().prepare(sql);
    if (!statement || !statement->step())
        return std::nullopt;
    return statement->column_int(0);
}

StoreResult<void> SearchIndex::rebuild()
{
    // The index's statements hold its tables; they end before the tables are dropped.
    m_index_statements.reset();
    SqliteDatabase& database = m_tables.database();
    SqliteTransaction transaction(database, SqliteTransaction::Kind::Immediate);
    if (!transaction.begun())
        return m_tables.failure();
    if (!database.execute("DROP TABLE IF EXISTS message_search") && !database.execute(forget_damaged_index_sql))
        return m_tables.failure();
    if (!database.execute(search_table_sql) || !database.execute("INSERT OR IGNORE INTO search_pending(message) SELECT id FROM messages")
        || !transaction.commit())
        return m_tables.failure();
    // Its statements are prepared at its next use.
    return {};
}

StoreResult<int64_t> SearchIndex::backlog()
{
    StatementUse count(m_statements[Backlog]);
    if (!count->step())
        return m_tables.failure();
    return count->column_int(0);
}

StoreResult<std::vector<Bytes>> SearchIndex::search(std::string const& match, size_t offset, size_t limit)
{
    if (auto made = make_table(); !made)
        return made.error();
    StatementUse newest((*m_index_statements)[Newest]);
    newest->bind(1, match).bind(2, static_cast<int64_t>(Tag::DeliveryTime)).bind(3, static_cast<int64_t>(Tag::LastModificationTime));
    newest->bind(4, static_cast<int64_t>(limit)).bind(5, static_cast<int64_t>(offset));
    std::vector<Bytes> entries;
    while (newest->step())
        entries.push_back(m_tables.entry_id(newest->column_int(0)));
    if (newest->failed())
        return m_tables.failure();
    return entries;
}

}
