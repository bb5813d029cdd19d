#include "platform/MessageSchema.h"
#include "platform/ChatIndex.h"
#include "platform/MessageTables.h"

#include <string>

namespace velloq::platform {

namespace {

constexpr char const* schema_sql = R"(
CREATE TABLE IF NOT EXISTS stores(id INTEGER PRIMARY KEY, entry_id BLOB UNIQUE NOT NULL, display_name TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS folders(id INTEGER PRIMARY KEY, store INTEGER NOT NULL REFERENCES stores(id), tag INTEGER NOT NULL,
    entry_id BLOB UNIQUE NOT NULL, name TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS messages(id INTEGER PRIMARY KEY AUTOINCREMENT, entry_id BLOB UNIQUE NOT NULL,
    folder INTEGER NOT NULL REFERENCES folders(id), submitted INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS messages_folder ON messages(folder, id);
CREATE TABLE IF NOT EXISTS properties(message INTEGER NOT NULL, tag INTEGER NOT NULL, value, PRIMARY KEY(message, tag)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS recipients(message INTEGER NOT NULL, row INTEGER NOT NULL, tag INTEGER NOT NULL, value,
    PRIMARY KEY(message, row, tag)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS named_properties(id INTEGER PRIMARY KEY, guid BLOB NOT NULL, name TEXT NOT NULL, UNIQUE(guid, name));
INSERT INTO stores(id, entry_id, display_name) VALUES(1, X'5354000000000001', 'SMS');
INSERT INTO folders(store, tag, entry_id, name) VALUES
    (1, 0x35E00102, X'464F000000000001', 'root'),
    (1, 0x81060102, X'464F000000000002', 'inbox'),
    (1, 0x35E40102, X'464F000000000003', 'sent'),
    (1, 0x81040102, X'464F000000000004', 'drafts'),
    (1, 0x35E20102, X'464F000000000005', 'outbox');
)";

// Version 2 counts each folder's messages, so a folder's length costs one row, not a scan.
constexpr char const* schema_2_sql = R"(
CREATE TABLE IF NOT EXISTS folder_counts(folder INTEGER PRIMARY KEY, count INTEGER NOT NULL);
INSERT OR REPLACE INTO folder_counts(folder, count) SELECT f.id, (SELECT COUNT(*) FROM messages m WHERE m.folder = f.id) FROM folders f;
CREATE TRIGGER IF NOT EXISTS messages_counted_in AFTER INSERT ON messages BEGIN
    UPDATE folder_counts SET count = count + 1 WHERE folder = NEW.folder;
END;
CREATE TRIGGER IF NOT EXISTS messages_counted_out AFTER DELETE ON messages BEGIN
    UPDATE folder_counts SET count = count - 1 WHERE folder = OLD.folder;
END;
)";

// Version 3 gives the store a random tag of its own that every entry id carries, so an id kept
// from another store, or from an earlier store of the same name, never matches a message here.
// It also remembers which process claimed an outgoing message for sending, so that the claim of
// a process that died is given back, and to which of its recipients it went already, so that a
// message that failed part-way is not sent twice to anyone.
constexpr char const* schema_3_sql = R"(
CREATE TABLE IF NOT EXISTS store_identity(tag BLOB NOT NULL);
INSERT INTO store_identity(tag) SELECT randomblob(8) WHERE NOT EXISTS (SELECT 1 FROM store_identity);
CREATE TABLE IF NOT EXISTS transmitted(message INTEGER NOT NULL, row INTEGER NOT NULL, PRIMARY KEY(message, row)) WITHOUT ROWID;
)";

// Version 4 remembers what the modem service filed from the modem, and finds a sent message by
// the reference the modem gave it.
constexpr char const* schema_4_sql = R"(
CREATE TABLE IF NOT EXISTS modem_filed(key TEXT PRIMARY KEY, source TEXT NOT NULL, message INTEGER NOT NULL, filed INTEGER NOT NULL) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS modem_filed_time ON modem_filed(filed);
CREATE INDEX IF NOT EXISTS recipients_by_value ON recipients(tag, value);
)";

// Version 5 notes each message whose text is new, changed or gone, for the search index. Only
// plain SQL runs in a writer's transaction, so no writer (another program's too) ever depends on
// the full-text index, which the reading program builds from these notes. The triggers test for
// a note instead of INSERT OR IGNORE: inside an upsert SQLite applies the upsert's conflict rule
// to the trigger's insert, and a note already there would fail the writer's statement.
constexpr char const* search_notes_sql = R"(
CREATE TABLE IF NOT EXISTS search_pending(message INTEGER PRIMARY KEY);
INSERT OR IGNORE INTO search_pending(message) SELECT id FROM messages;
CREATE TRIGGER IF NOT EXISTS search_text_in AFTER INSERT ON properties WHEN NEW.tag = 3604511 BEGIN
    INSERT INTO search_pending(message) SELECT NEW.message WHERE NOT EXISTS (SELECT 1 FROM search_pending WHERE message = NEW.message);
END;
CREATE TRIGGER IF NOT EXISTS search_text_changed AFTER UPDATE ON properties WHEN NEW.tag = 3604511 BEGIN
    INSERT INTO search_pending(message) SELECT NEW.message WHERE NOT EXISTS (SELECT 1 FROM search_pending WHERE message = NEW.message);
END;
CREATE TRIGGER IF NOT EXISTS search_text_out AFTER DELETE ON properties WHEN OLD.tag = 3604511 BEGIN
    INSERT INTO search_pending(message) SELECT OLD.message WHERE NOT EXISTS (SELECT 1 FROM search_pending WHERE message = OLD.message);
END;
CREATE TRIGGER IF NOT EXISTS search_message_out AFTER DELETE ON messages BEGIN
    INSERT INTO search_pending(message) SELECT OLD.id WHERE NOT EXISTS (SELECT 1 FROM search_pending WHERE message = OLD.id);
END;
)";

// Version 6 remembers, for the modem service, when it first saw each message still arriving in
// parts (the network's time stamp of such a message can be days old), and which sent messages
// the modem has not yet said were sent or not.
constexpr char const* schema_6_sql = R"(
CREATE TABLE IF NOT EXISTS modem_incomplete(key TEXT PRIMARY KEY, first_seen INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS modem_sending(instance TEXT NOT NULL, path TEXT NOT NULL, message INTEGER NOT NULL, row INTEGER NOT NULL,
    since INTEGER NOT NULL, PRIMARY KEY(instance, path)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS modem_sending_message ON modem_sending(message);
)";

// Version 7 files every message under the keys of its chats, so a chat's messages, its newest
// and its unread ones are found without reading the store. Keyed by chat, then time and row: a
// chat's messages in order are one range of it; the partial index holds the unread ones alone.
// Every writer files the messages it writes; a deleted message leaves, and a change of the read
// flag by any writer (another program's too) arrives, by trigger.
constexpr char const* schema_7_sql = R"(
CREATE TABLE IF NOT EXISTS chat_index(key TEXT NOT NULL, time INTEGER NOT NULL, message INTEGER NOT NULL, kind INTEGER NOT NULL,
    unread INTEGER NOT NULL, PRIMARY KEY(key, time, message)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS chat_index_message ON chat_index(message);
CREATE INDEX IF NOT EXISTS chat_index_awaiting ON chat_index(key, time, message) WHERE kind = 1 AND unread = 1;
CREATE INDEX IF NOT EXISTS chat_index_unread_reports ON chat_index(message) WHERE kind = 2 AND unread = 1;
CREATE INDEX IF NOT EXISTS chat_index_drafts ON chat_index(key, time, message) WHERE kind = 3;
CREATE TRIGGER IF NOT EXISTS chat_index_out AFTER DELETE ON messages BEGIN
    DELETE FROM chat_index WHERE message = OLD.id;
END;
CREATE TRIGGER IF NOT EXISTS chat_index_read_in AFTER INSERT ON properties WHEN NEW.tag = 235339779 BEGIN
    UPDATE chat_index SET unread = ((NEW.value & 1) = 0) WHERE message = NEW.message;
END;
CREATE TRIGGER IF NOT EXISTS chat_index_read_changed AFTER UPDATE ON properties WHEN NEW.tag = 235339779 BEGIN
    UPDATE chat_index SET unread = ((NEW.value & 1) = 0) WHERE message = NEW.message;
END;
)";;

// Version 8 remembers which message of the phone's MMS service (its object path there) each
// filed MMS is, for as long as the message stays in the store: the MMS service keeps its messages
// for years, and a message listed again at every start must never be filed twice. It also notes
// whether the MMS service knows the message was read.
constexpr char const* schema_8_sql = R"(
CREATE TABLE IF NOT EXISTS mms_filed(path TEXT PRIMARY KEY, service TEXT NOT NULL, message INTEGER NOT NULL,
    read_told INTEGER NOT NULL DEFAULT 0) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS mms_filed_service ON mms_filed(service);
)";

// Version 9 files an MMS that went to several people in the chat of all of them, no longer in its
// sender's: the index is made again with the keys of this version. An MMS's members now leave the
// user out; one filed before with a single recipient went to the user alone.
constexpr char const* schema_9_sql = R"(
UPDATE properties SET value = '' WHERE tag = 1711734815 AND instr(value, char(10)) = length(value);
DELETE FROM chat_index;
)";

static_assert(Tag::MessageFlags == 235339779, "the read triggers name the flags' tag by number");

// The index's table, its four indexes (the primary key's aside) and three triggers.
constexpr int chat_index_parts = 8;

bool chat_index(SqliteDatabase& database)
{
    return file_every_message_in_chats(database);
}

static_assert(Tag::MmsMembers == 1711734815, "version 9 names the members' tag by number");

static_assert(Tag::Subject == 3604511, "the search triggers name the text's tag by number");

// The notes' table and its four triggers.
constexpr int search_note_parts = 5;

bool add_claim_columns(SqliteDatabase& database)
{
    auto columns = database.prepare("SELECT COUNT(*) FROM pragma_table_info('messages') WHERE name = 'claimed_pid'");
    if (!columns || !columns->step())
        return false;
    if (columns->column_int(0) > 0)
        return true;
    return database.execute("ALTER TABLE messages ADD COLUMN claimed_pid INTEGER NOT NULL DEFAULT 0;"
                            "ALTER TABLE messages ADD COLUMN claimed_started INTEGER NOT NULL DEFAULT 0;");
}

// Gives every message of a store written before version 3 an id that carries the new tag.
bool retag_messages(SqliteDatabase& database)
{
    auto tag = database.prepare("SELECT tag FROM store_identity LIMIT 1");
    auto rows = database.prepare("SELECT id FROM messages ORDER BY id");
    auto rename = database.prepare("UPDATE messages SET entry_id = ?1 WHERE id = ?2");
    if (!tag || !rows || !rename || !tag->step())
        return false;
    std::string text = tag->column_text(0);
    Bytes store_tag(text.begin(), text.end());
    std::vector<int64_t> ids;
    while (rows->step())
        ids.push_back(rows->column_int(0));
    if (rows->failed())
        return false;
    for (int64_t row : ids) {
        Bytes entry = MessageTables::entry_id(store_tag, row);
        rename->reset();
        rename->bind_blob(1, entry.data(), entry.size()).bind(2, row);
        if (!rename->execute())
            return false;
    }
    return true;
}

bool claims_and_ids(SqliteDatabase& database)
{
    return add_claim_columns(database) && retag_messages(database);
}

// The schema's versions, each the step from the one before; a store is brought up step by step.
struct SchemaStep {
    int version;
    char const* sql;
    // What SQL alone cannot do, run after `sql` in the same transaction.
    bool (*then)(SqliteDatabase&);
};

constexpr SchemaStep schema_steps[] = {
    { 1, schema_sql, nullptr },
    { 2, schema_2_sql, nullptr },
    { 3, schema_3_sql, claims_and_ids },
    { 4, schema_4_sql, nullptr },
    { 5, search_notes_sql, nullptr },
    { 6, schema_6_sql, nullptr },
    { 7, schema_7_sql, chat_index },
    { 8, schema_8_sql, nullptr },
    { 9, schema_9_sql, chat_index },
};
constexpr int schema_version = schema_steps[std::size(schema_steps) - 1].version;

void set_connection_options(SqliteDatabase& database)
{
    // In write-ahead mode NORMAL keeps the store consistent on a crash and spares an fsync per commit.
    database.execute("PRAGMA synchronous=NORMAL");
    // The store is not mapped: its pages would count as the program's own memory.
    database.execute("PRAGMA mmap_size=0");
}

StoreResult<void> run_steps(SqliteDatabase& database)
{
    // Several processes read and write the store; the write-ahead log lets readers go on while
    // one of them writes.
    database.execute("PRAGMA journal_mode=WAL");
    SqliteTransaction transaction(database, SqliteTransaction::Kind::Immediate);
    if (!transaction.begun())
        return StoreError::failed(database.error());
    // Another process may have brought the schema up while this one waited for the lock.
    int version = database.user_version();
    for (auto const& step : schema_steps) {
        if (version >= step.version)
            continue;
        std::string set_version = "PRAGMA user_version = " + std::to_string(step.version);
        if (!database.execute(step.sql) || (step.then && !step.then(database)) || !database.execute(set_version.c_str()))
            return StoreError::failed(database.error());
    }
    if (!transaction.commit())
        return StoreError::failed(database.error());
    return {};
}

// Every writer's statements run the search triggers: a store that lost the notes' table (or a
// trigger) would refuse every delivery, or let the index fall behind for good. Made again, with
// every message noted, since what changed meanwhile is not known.
StoreResult<void> repair_search_notes(SqliteDatabase& database)
{
    {
        auto parts = database.prepare("SELECT COUNT(*) FROM sqlite_master WHERE name IN "
                                      "('search_pending', 'search_text_in', 'search_text_changed', 'search_text_out', 'search_message_out')");
        if (!parts || !parts->step())
            return StoreError::failed(database.error());
        if (parts->column_int(0) == search_note_parts)
            return {};
    }
    SqliteTransaction transaction(database, SqliteTransaction::Kind::Immediate);
    if (!transaction.begun() || !database.execute(search_notes_sql) || !transaction.commit())
        return StoreError::failed(database.error());
    return {};
}


// The chat index's queries name its indexes, and its triggers keep it true: a store that lost any
// of them (a hand-edited file) gets the whole index made again rather than refusing to open.
StoreResult<void> repair_chat_index(SqliteDatabase& database)
{
    {
        auto parts = database.prepare("SELECT COUNT(*) FROM sqlite_master WHERE name IN ('chat_index', 'chat_index_message', 'chat_index_awaiting', "
                                      "'chat_index_unread_reports', 'chat_index_drafts', 'chat_index_out', 'chat_index_read_in', 'chat_index_read_changed')");
        if (!parts || !parts->step())
            return StoreError::failed(database.error());
        if (parts->column_int(0) == chat_index_parts)
            return {};
    }
    SqliteTransaction transaction(database, SqliteTransaction::Kind::Immediate);
    if (!transaction.begun() || !database.execute("DROP TABLE IF EXISTS chat_index;") || !database.execute(schema_7_sql) || !chat_index(database)
        || !transaction.commit())
        return StoreError::failed(database.error());
    return {};
}

}

StoreResult<void> prepare_message_schema(SqliteDatabase& database)
{
    int version = database.user_version();
    if (version < 0)
        return StoreError::failed(database.error());
    if (version > schema_version)
        return StoreError::failed("written by a newer program (schema " + std::to_string(version) + ")");
    set_connection_options(database);
    if (version == schema_version) {
        auto notes = repair_search_notes(database);
        return notes ? repair_chat_index(database) : notes;
    }
    return run_steps(database);
}

}
