#include "platform/ChatIndex.h"

#include "platform/ChatKeys.h"
#include "platform/MessagePass.h"
#include "platform/MessageTables.h"
#include "platform/Utf.h"

namespace velloq::platform {

char const* const chat_place_insert_sql = "INSERT OR IGNORE INTO chat_index(key, time, message, kind, unread) VALUES(?1, ?2, ?3, ?4, ?5)";

bool file_in_chats(SqliteStatement& insert, int64_t message, ChatFolder folder, StoredMessage const& stored)
{
    for (auto const& place : chat_places_of(stored, folder)) {
        insert.reset();
        insert.bind(1, to_utf8(place.key)).bind(2, place.time).bind(3, message).bind(4, static_cast<int64_t>(place.kind)).bind(5, place.unread ? 1 : 0);
        if (!insert.execute())
            return false;
    }
    return true;
}

ChatFolder chat_folder(int64_t folder, int64_t inbox, int64_t drafts)
{
    return folder == inbox ? ChatFolder::Inbox : folder == drafts ? ChatFolder::Drafts : ChatFolder::Other;
}

bool file_every_message_in_chats(SqliteDatabase& database)
{
    auto folders = database.prepare("SELECT id, tag FROM folders");
    auto insert = database.prepare(chat_place_insert_sql);
    if (!folders || !insert)
        return false;
    int64_t inbox = -1;
    int64_t drafts = -1;
    while (folders->step()) {
        auto tag = static_cast<uint32_t>(folders->column_int(1));
        if (tag == Tag::InboxEntryId)
            inbox = folders->column_int(0);
        else if (tag == Tag::DraftsEntryId)
            drafts = folders->column_int(0);
    }
    bool filed = true;
    bool whole = pass_over_messages(database, [](int64_t) { return true; }, [&](int64_t message, int64_t folder, std::string_view, StoredMessage&& stored) {
        filed = filed && file_in_chats(*insert, message, chat_folder(folder, inbox, drafts), stored);
    });
    return whole && filed;
}

namespace {

enum Statement : size_t {
    ChatKeys,
    NewestOfChat,
    UnreadOfChat,
    MessagesOfChat,
    MessagesBefore,
    MessagesFrom,
    PositionOfMessage,
    CountOfChat,
    UnreadEntries,
    NewestUnread,
    UnreadCounts,
    UnreadReports,
    NewestDraft,
};

// A message's columns: row, folder tag, time, whether it waits to be read.
#define MESSAGE_COLUMNS "c.message, f.tag, c.time, c.kind = 1 AND c.unread = 1 FROM chat_index c "
#define MESSAGE_FOLDER "JOIN messages m ON m.id = c.message JOIN folders f ON f.id = m.folder "
// The words that wait to be read, as the partial index names them. Its queries name the partial
// index they use: the planner would walk the chat's whole range of the table instead.
#define AWAITS_READING "kind = 1 AND unread = 1"
#define AWAITING "INDEXED BY chat_index_awaiting "

char const* const statement_sql[] = {
    // The keys one by one, each found by a seek in the index: as many steps as there are chats.
    "WITH RECURSIVE keys(key) AS (SELECT MIN(key) FROM chat_index "
    "UNION ALL SELECT (SELECT MIN(key) FROM chat_index WHERE key > keys.key) FROM keys WHERE keys.key IS NOT NULL) "
    "SELECT key FROM keys WHERE key IS NOT NULL",
    "SELECT " MESSAGE_COLUMNS MESSAGE_FOLDER "WHERE c.key = ?1 ORDER BY c.time DESC, c.message DESC LIMIT 1",
    "SELECT COUNT(*) FROM chat_index " AWAITING "WHERE key = ?1 AND " AWAITS_READING,
    "SELECT " MESSAGE_COLUMNS MESSAGE_FOLDER "WHERE c.key = ?1 ORDER BY c.time DESC, c.message DESC LIMIT ?2",
    "SELECT " MESSAGE_COLUMNS MESSAGE_FOLDER "WHERE c.key = ?1 AND (c.time, c.message) < (?2, ?3) ORDER BY c.time DESC, c.message DESC LIMIT ?4",
    "SELECT " MESSAGE_COLUMNS MESSAGE_FOLDER "WHERE c.key = ?1 AND (c.time, c.message) >= (?2, ?3) ORDER BY c.time, c.message",
    "SELECT time FROM chat_index WHERE message = ?1 LIMIT 1",
    "SELECT COUNT(*) FROM chat_index WHERE key = ?1",
    "SELECT message FROM chat_index " AWAITING "WHERE key = ?1 AND " AWAITS_READING,
    "SELECT key, message FROM chat_index " AWAITING "WHERE " AWAITS_READING " ORDER BY time DESC, message DESC LIMIT 1",
    "SELECT key, COUNT(*) FROM chat_index " AWAITING "WHERE " AWAITS_READING " GROUP BY key",
    "SELECT DISTINCT message FROM chat_index INDEXED BY chat_index_unread_reports WHERE kind = 2 AND unread = 1",
    "SELECT " MESSAGE_COLUMNS "INDEXED BY chat_index_drafts " MESSAGE_FOLDER "WHERE c.key = ?1 AND c.kind = 3 ORDER BY c.time DESC, c.message DESC LIMIT 1",
};

#undef MESSAGE_COLUMNS
#undef MESSAGE_FOLDER
#undef AWAITS_READING
#undef AWAITING

}

StoreResult<std::unique_ptr<ChatIndex>> ChatIndex::open(MessageTables& tables)
{
    return open_store_part<ChatIndex>(tables.database(), statement_sql, tables);
}

ChatIndex::ChatIndex(MessageTables& tables, StatementSet statements)
    : StorePart(tables, std::move(statements))
{
}

IndexedMessage ChatIndex::indexed_message(SqliteStatement const& row, int first) const
{
    int64_t message = row.column_int(first);
    return { m_tables.entry_id(message), static_cast<uint32_t>(row.column_int(first + 1)), { row.column_int(first + 2), message }, row.column_int(first + 3) != 0 };
}

StoreResult<std::vector<IndexedMessage>> ChatIndex::take_messages(SqliteStatement& statement)
{
    std::vector<IndexedMessage> messages;
    while (statement.step())
        messages.push_back(indexed_message(statement, 0));
    if (statement.failed())
        return m_tables.failure();
    return messages;
}

StoreResult<std::vector<IndexedChat>> ChatIndex::chats()
{
    std::vector<std::string> keys;
    {
        StatementUse use(m_statements[ChatKeys]);
        while (use->step())
            keys.push_back(use->column_text(0));
        if (use->failed())
            return m_tables.failure();
    }
    std::vector<IndexedChat> chats;
    chats.reserve(keys.size());
    for (auto const& key : keys) {
        auto chat = this->chat(to_utf16(key));
        if (!chat)
            return chat.error();
        if (*chat)
            chats.push_back(std::move(**chat));
    }
    return chats;
}

StoreResult<std::optional<IndexedChat>> ChatIndex::chat(std::u16string const& key)
{
    std::string text = to_utf8(key);
    IndexedChat chat { key, {}, 0 };
    {
        StatementUse newest(m_statements[NewestOfChat]);
        if (!newest->bind(1, text).step())
            return newest->failed() ? StoreResult<std::optional<IndexedChat>>(m_tables.failure()) : std::optional<IndexedChat>();
        chat.newest = indexed_message(*newest, 0);
    }
    StatementUse unread(m_statements[UnreadOfChat]);
    if (!unread->bind(1, text).step())
        return m_tables.failure();
    chat.unread = unread->column_int(0);
    return std::optional<IndexedChat>(std::move(chat));
}

StoreResult<std::vector<IndexedMessage>> ChatIndex::messages(std::u16string const& key, std::optional<ChatPosition> before, int64_t limit)
{
    if (!before) {
        StatementUse use(m_statements[MessagesOfChat]);
        use->bind(1, to_utf8(key)).bind(2, limit);
        return take_messages(*use);
    }
    StatementUse use(m_statements[MessagesBefore]);
    use->bind(1, to_utf8(key)).bind(2, before->time).bind(3, before->message).bind(4, limit);
    return take_messages(*use);
}

StoreResult<std::vector<IndexedMessage>> ChatIndex::messages_from(std::u16string const& key, ChatPosition from)
{
    StatementUse use(m_statements[MessagesFrom]);
    use->bind(1, to_utf8(key)).bind(2, from.time).bind(3, from.message);
    return take_messages(*use);
}

StoreResult<std::optional<ChatPosition>> ChatIndex::position_of(Bytes const& entry)
{
    int64_t message = m_tables.row_of_entry(entry);
    if (message < 0)
        return std::optional<ChatPosition>();
    StatementUse use(m_statements[PositionOfMessage]);
    if (!use->bind(1, message).step())
        return use->failed() ? StoreResult<std::optional<ChatPosition>>(m_tables.failure()) : std::optional<ChatPosition>();
    return std::optional<ChatPosition>(ChatPosition { use->column_int(0), message });
}

StoreResult<int64_t> ChatIndex::count(std::u16string const& key)
{
    StatementUse use(m_statements[CountOfChat]);
    if (!use->bind(1, to_utf8(key)).step())
        return m_tables.failure();
    return use->column_int(0);
}

StoreResult<std::vector<Bytes>> ChatIndex::take_entries(SqliteStatement& statement)
{
    std::vector<Bytes> entries;
    while (statement.step())
        entries.push_back(m_tables.entry_id(statement.column_int(0)));
    if (statement.failed())
        return m_tables.failure();
    return entries;
}

StoreResult<std::vector<Bytes>> ChatIndex::unread(std::u16string const& key)
{
    StatementUse use(m_statements[UnreadEntries]);
    use->bind(1, to_utf8(key));
    return take_entries(*use);
}

StoreResult<std::optional<std::pair<std::u16string, Bytes>>> ChatIndex::newest_unread()
{
    using Newest = std::optional<std::pair<std::u16string, Bytes>>;
    StatementUse use(m_statements[NewestUnread]);
    if (!use->step())
        return use->failed() ? StoreResult<Newest>(m_tables.failure()) : Newest();
    return Newest(std::pair { to_utf16(use->column_text(0)), m_tables.entry_id(use->column_int(1)) });
}

StoreResult<std::vector<std::pair<std::u16string, int64_t>>> ChatIndex::unread_counts()
{
    StatementUse use(m_statements[UnreadCounts]);
    std::vector<std::pair<std::u16string, int64_t>> counts;
    while (use->step())
        counts.emplace_back(to_utf16(use->column_text(0)), use->column_int(1));
    if (use->failed())
        return m_tables.failure();
    return counts;
}

StoreResult<std::vector<Bytes>> ChatIndex::unread_reports()
{
    StatementUse use(m_statements[UnreadReports]);
    return take_entries(*use);
}

StoreResult<std::optional<IndexedMessage>> ChatIndex::newest_draft(std::u16string const& key)
{
    StatementUse use(m_statements[NewestDraft]);
    if (!use->bind(1, to_utf8(key)).step())
        return use->failed() ? StoreResult<std::optional<IndexedMessage>>(m_tables.failure()) : std::optional<IndexedMessage>();
    return std::optional<IndexedMessage>(indexed_message(*use, 0));
}

}
