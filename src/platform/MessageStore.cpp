#include "platform/MessageStore.h"
#include "platform/StoreValues.h"

#include "platform/Folders.h"
#include "platform/Process.h"
#include "platform/RegistryStore.h"
#include "platform/Utf.h"

#include <algorithm>
#include <array>
#include <unistd.h>

namespace velloq::platform {

Bytes const ps_mapi { 0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 };

namespace {

// Several processes write the store, each for a few milliseconds; two seconds outlast a writer
// descheduled on a busy phone.
constexpr int busy_timeout_ms = 2000;
// Each attempt at the registry waits up to the registry's own busy timeout.
constexpr int count_attempts = 5;
constexpr int schema_version = 6;
constexpr uint32_t first_named_property = 0x8000;

char const* const schema_sql = R"(
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
PRAGMA user_version = 1;
)";

// Version 2 counts each folder's messages, so a folder's length costs one row, not a scan.
char const* const schema_2_sql = R"(
CREATE TABLE IF NOT EXISTS folder_counts(folder INTEGER PRIMARY KEY, count INTEGER NOT NULL);
INSERT OR REPLACE INTO folder_counts(folder, count) SELECT f.id, (SELECT COUNT(*) FROM messages m WHERE m.folder = f.id) FROM folders f;
CREATE TRIGGER IF NOT EXISTS messages_counted_in AFTER INSERT ON messages BEGIN
    UPDATE folder_counts SET count = count + 1 WHERE folder = NEW.folder;
END;
CREATE TRIGGER IF NOT EXISTS messages_counted_out AFTER DELETE ON messages BEGIN
    UPDATE folder_counts SET count = count - 1 WHERE folder = OLD.folder;
END;
PRAGMA user_version = 2;
)";

// Version 3 gives the store a random tag of its own that every entry id carries, so an id kept
// from another store, or from an earlier store of the same name, never matches a message here.
// It also remembers which process claimed an outgoing message for sending, so that the claim of
// a process that died is given back, and to which of its recipients it went already, so that a
// message that failed part-way is not sent twice to anyone.
char const* const schema_3_sql = R"(
CREATE TABLE IF NOT EXISTS store_identity(tag BLOB NOT NULL);
INSERT INTO store_identity(tag) SELECT randomblob(8) WHERE NOT EXISTS (SELECT 1 FROM store_identity);
CREATE TABLE IF NOT EXISTS transmitted(message INTEGER NOT NULL, row INTEGER NOT NULL, PRIMARY KEY(message, row)) WITHOUT ROWID;
)";

// Version 4 remembers what the modem service filed from the modem, and finds a sent message by
// the reference the modem gave it.
char const* const schema_4_sql = R"(
CREATE TABLE IF NOT EXISTS modem_filed(key TEXT PRIMARY KEY, source TEXT NOT NULL, message INTEGER NOT NULL, filed INTEGER NOT NULL) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS modem_filed_time ON modem_filed(filed);
CREATE INDEX IF NOT EXISTS recipients_by_value ON recipients(tag, value);
PRAGMA user_version = 4;
)";

// Version 5 notes each message whose text is new, changed or gone, for the search index. Only
// plain SQL runs in a writer's transaction, so no writer (another program's too) ever depends on
// the full-text index, which the reading program builds from these notes. The triggers test for
// a note instead of INSERT OR IGNORE: inside an upsert SQLite applies the upsert's conflict rule
// to the trigger's insert, and a note already there would fail the writer's statement.
char const* const search_notes_sql = R"(
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
char const* const schema_5_sql = "PRAGMA user_version = 5;";
// The notes' table and its four triggers.
constexpr int search_note_parts = 5;

// Version 6 remembers, for the modem service, when it first saw each message still arriving in
// parts (the network's time stamp of such a message can be days old), and which sent messages
// the modem has not yet said were sent or not.
char const* const schema_6_sql = R"(
CREATE TABLE IF NOT EXISTS modem_incomplete(key TEXT PRIMARY KEY, first_seen INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS modem_sending(instance TEXT NOT NULL, path TEXT NOT NULL, message INTEGER NOT NULL, row INTEGER NOT NULL,
    since INTEGER NOT NULL, PRIMARY KEY(instance, path)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS modem_sending_message ON modem_sending(message);
PRAGMA user_version = 6;
)";

static_assert(Tag::Subject == 3604511, "the search triggers name the text's tag by number");

constexpr size_t entry_prefix_size = 4;
constexpr size_t store_tag_size = 8;
constexpr size_t entry_size = entry_prefix_size + store_tag_size + 8;

}

MessageStore::MessageStore(std::unique_ptr<SqliteDatabase> database)
    : m_database(std::move(database))
{
}

MessageStore::~MessageStore() = default;

// The row number an entry id was made from; -1 for an id this store did not make.
int64_t MessageStore::row_of_entry(Bytes const& entry) const
{
    if (entry.size() != entry_size || entry[0] != 'V' || entry[1] != 'Q' || entry[2] != 'M' || entry[3] != 'S')
        return -1;
    if (!std::equal(m_tag.begin(), m_tag.end(), entry.begin() + entry_prefix_size))
        return -1;
    uint64_t row = 0;
    for (size_t i = entry_prefix_size + store_tag_size; i < entry_size; ++i)
        row = row << 8 | entry[i];
    return static_cast<int64_t>(row & 0x7FFFFFFFFFFFFFFF);
}

Bytes MessageStore::message_entry_id(int64_t row) const
{
    Bytes entry { 'V', 'Q', 'M', 'S' };
    entry.insert(entry.end(), m_tag.begin(), m_tag.end());
    for (int shift = 56; shift >= 0; shift -= 8)
        entry.push_back(static_cast<uint8_t>(static_cast<uint64_t>(row) >> shift));
    return entry;
}

bool MessageStore::owns_entry(Bytes const& entry) const
{
    return owns_entry(entry.data(), entry.size());
}

// Checked without a copy: a cache of a hundred thousand ids is checked at every start.
bool MessageStore::owns_entry(uint8_t const* entry, size_t size) const
{
    return size == entry_size && std::equal(entry, entry + entry_prefix_size, "VQMS") && std::equal(m_tag.begin(), m_tag.end(), entry + entry_prefix_size);
}

bool MessageStore::read_tag()
{
    auto statement = m_database->prepare("SELECT tag FROM store_identity LIMIT 1");
    if (!statement)
        return fail();
    if (!statement->step()) {
        m_error = statement->failed() ? m_database->error() : "the store has no identity";
        return false;
    }
    std::string tag = statement->column_text(0);
    if (tag.size() != store_tag_size) {
        m_error = "the store's identity is damaged";
        return false;
    }
    m_tag.assign(tag.begin(), tag.end());
    return true;
}

bool MessageStore::add_claim_columns()
{
    auto columns = m_database->prepare("SELECT COUNT(*) FROM pragma_table_info('messages') WHERE name = 'claimed_pid'");
    if (!columns || !columns->step())
        return fail();
    if (columns->column_int(0) > 0)
        return true;
    return m_database->execute("ALTER TABLE messages ADD COLUMN claimed_pid INTEGER NOT NULL DEFAULT 0;"
                               "ALTER TABLE messages ADD COLUMN claimed_started INTEGER NOT NULL DEFAULT 0;");
}

// Gives every message of a store written before version 3 an id that carries the new tag.
bool MessageStore::retag_messages()
{
    if (!read_tag())
        return false;
    auto rows = m_database->prepare("SELECT id FROM messages ORDER BY id");
    auto rename = m_database->prepare("UPDATE messages SET entry_id = ?1 WHERE id = ?2");
    if (!rows || !rename)
        return fail();
    std::vector<int64_t> ids;
    while (rows->step())
        ids.push_back(rows->column_int(0));
    if (rows->failed())
        return fail();
    for (int64_t row : ids) {
        Bytes entry = message_entry_id(row);
        rename->reset();
        rename->bind_blob(1, entry.data(), entry.size()).bind(2, row);
        if (!rename->execute())
            return fail();
    }
    return true;
}

std::unique_ptr<MessageStore> MessageStore::open_device(std::string& error)
{
    return open(device_folder() + "/messages.db", error);
}

std::unique_ptr<MessageStore> MessageStore::open(std::string const& path, std::string& error)
{
    auto database = SqliteDatabase::open(path, busy_timeout_ms, error);
    if (!database)
        return nullptr;
    std::unique_ptr<MessageStore> store(new MessageStore(std::move(database)));
    if (!store->prepare_schema()) {
        error = store->m_error;
        return nullptr;
    }
    store->m_changes = std::make_unique<SharedCounter>(path + ".changes");
    return store;
}

bool MessageStore::prepare_schema()
{
    int version = m_database->user_version();
    if (version < 0)
        return fail();
    if (version > schema_version) {
        m_error = "written by a newer program (schema " + std::to_string(version) + ")";
        return false;
    }
    if (version == schema_version) {
        // In write-ahead mode NORMAL keeps the store consistent on a crash and spares an fsync per commit.
        m_database->execute("PRAGMA synchronous=NORMAL");
        // The store is not mapped: its pages would count as the program's own memory.
        m_database->execute("PRAGMA mmap_size=0");
        return read_tag() && repair_search_notes();
    }
    // Several processes read and write the store; the write-ahead log lets readers go on while
    // one of them writes.
    m_database->execute("PRAGMA journal_mode=WAL");
    m_database->execute("PRAGMA synchronous=NORMAL");
    m_database->execute("PRAGMA mmap_size=0");
    SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
    if (!transaction.begun())
        return fail();
    // Another process may have brought the schema up while this one waited for the lock.
    version = m_database->user_version();
    if (version < 1 && !m_database->execute(schema_sql))
        return fail();
    if (version < 2 && !m_database->execute(schema_2_sql))
        return fail();
    if (version < 3 && (!m_database->execute(schema_3_sql) || !add_claim_columns() || !retag_messages() || !m_database->execute("PRAGMA user_version = 3")))
        return fail();
    if (version >= 3 && !read_tag())
        return false;
    if (version < 4 && !m_database->execute(schema_4_sql))
        return fail();
    if (version < 5 && (!m_database->execute(search_notes_sql) || !m_database->execute(schema_5_sql)))
        return fail();
    if (version < 6 && !m_database->execute(schema_6_sql))
        return fail();
    return transaction.commit() || fail();
}

// Every writer's statements run the search triggers: a store that lost the notes' table (or a
// trigger) would refuse every delivery, or let the index fall behind for good. Made again, with
// every message noted, since what changed meanwhile is not known.
bool MessageStore::repair_search_notes()
{
    auto parts = m_database->prepare("SELECT COUNT(*) FROM sqlite_master WHERE name IN "
                                     "('search_pending', 'search_text_in', 'search_text_changed', 'search_text_out', 'search_message_out')");
    if (!parts || !parts->step())
        return fail();
    if (parts->column_int(0) == search_note_parts)
        return true;
    parts.reset();
    SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
    if (!transaction.begun() || !m_database->execute(search_notes_sql) || !transaction.commit())
        return fail();
    return true;
}

bool MessageStore::fail()
{
    m_error = m_database->error();
    return false;
}

std::optional<std::vector<StoreRow>> MessageStore::stores()
{
    auto statement = m_database->prepare("SELECT entry_id, display_name FROM stores ORDER BY id");
    if (!statement)
        return fail(), std::nullopt;
    std::vector<StoreRow> rows;
    while (statement->step()) {
        std::string entry = statement->column_text(0);
        rows.push_back({ Bytes(entry.begin(), entry.end()), to_utf16(statement->column_text(1)) });
    }
    if (statement->failed())
        return fail(), std::nullopt;
    return rows;
}

std::optional<Bytes> MessageStore::store_property(Bytes const& store, uint32_t tag)
{
    auto statement = m_database->prepare("SELECT f.entry_id FROM folders f JOIN stores s ON s.id = f.store WHERE s.entry_id = ?1 AND f.tag = ?2");
    if (!statement)
        return fail(), std::nullopt;
    statement->bind_blob(1, store.data(), store.size()).bind(2, static_cast<int64_t>(tag));
    if (!statement->step())
        return std::nullopt;
    std::string entry = statement->column_text(0);
    return Bytes(entry.begin(), entry.end());
}

std::optional<int64_t> MessageStore::folder_row(Bytes const& folder)
{
    auto statement = m_database->reuse("SELECT id FROM folders WHERE entry_id = ?1");
    if (!statement)
        return fail(), std::nullopt;
    statement->bind_blob(1, folder.data(), folder.size());
    if (!statement->step())
        return std::nullopt;
    return statement->column_int(0);
}

std::optional<int64_t> MessageStore::message_row(Bytes const& entry)
{
    auto statement = m_database->prepare("SELECT id FROM messages WHERE entry_id = ?1");
    if (!statement)
        return fail(), std::nullopt;
    statement->bind_blob(1, entry.data(), entry.size());
    if (!statement->step())
        return std::nullopt;
    return statement->column_int(0);
}

std::optional<int64_t> MessageStore::row_count(Bytes const& folder)
{
    auto statement = m_database->reuse("SELECT c.count FROM folder_counts c JOIN folders f ON f.id = c.folder WHERE f.entry_id = ?1");
    if (!statement)
        return fail(), std::nullopt;
    statement->bind_blob(1, folder.data(), folder.size());
    if (!statement->step())
        return fail(), std::nullopt;
    return statement->column_int(0);
}

std::optional<std::vector<Bytes>> MessageStore::rows(Bytes const& folder, int64_t offset, int64_t limit)
{
    auto folder_id = folder_row(folder);
    if (!folder_id)
        return std::nullopt;
    // A window near the end is counted from the end, so a poll of the newest rows skips nothing.
    auto count = row_count(folder);
    bool from_end = count && offset > *count / 2;
    int64_t rows_wanted = count ? std::max<int64_t>(0, std::min(limit, *count - offset)) : limit;
    // A scan asking for the window right after the last one goes on from that window's last row
    // instead of counting past every earlier row again, as long as nobody wrote in between.
    bool continues = m_window.folder == *folder_id && m_window.end_offset == offset && m_window.last >= 0 && m_changes && m_changes->is_mapped()
        && m_changes->load() == m_window.version;
    std::optional<SqliteStatement> statement;
    if (continues) {
        statement = m_database->prepare("SELECT entry_id FROM messages WHERE folder = ?1 AND id > ?3 ORDER BY id LIMIT ?2");
        if (statement)
            statement->bind(1, *folder_id).bind(2, limit).bind(3, m_window.last);
        from_end = false;
    } else {
        statement = m_database->prepare(from_end ? "SELECT entry_id FROM messages WHERE folder = ?1 ORDER BY id DESC LIMIT ?2 OFFSET ?3"
                                                 : "SELECT entry_id FROM messages WHERE folder = ?1 ORDER BY id LIMIT ?2 OFFSET ?3");
        if (statement)
            statement->bind(1, *folder_id).bind(2, from_end ? rows_wanted : limit).bind(3, from_end ? *count - offset - rows_wanted : offset);
    }
    auto listed = statement ? entry_ids(*statement) : std::nullopt;
    if (!listed)
        return fail(), std::nullopt;
    std::vector<Bytes> entries = std::move(*listed);
    if (from_end)
        std::reverse(entries.begin(), entries.end());
    m_prefetched.clear();
    m_window = entries.empty() ? Window {}
                               : Window { *folder_id, row_of_entry(entries.front()), row_of_entry(entries.back()), false,
                                     offset + static_cast<int64_t>(entries.size()), m_changes && m_changes->is_mapped() ? m_changes->load() : 0 };
    return entries;
}

void MessageStore::changed()
{
    m_prefetched.clear();
    m_window.loaded = true;
    if (m_changes)
        m_changes->increment();
}

void MessageStore::prefetch(int64_t folder, int64_t first_row, int64_t last_row)
{
    m_prefetched.clear();
    if (first_row < 0 || last_row < first_row || !m_changes || !m_changes->is_mapped())
        return;
    m_prefetch_version = m_changes->load();
    std::optional<SqliteTransaction> transaction;
    if (!begin_snapshot(transaction))
        return;
    // Only the window's own messages: the folder's rows between the first and the last.
    auto messages = m_database->prepare("SELECT id FROM messages WHERE folder = ?3 AND id BETWEEN ?1 AND ?2");
    auto properties = m_database->prepare("SELECT p.message, p.tag, p.value FROM messages m JOIN properties p ON p.message = m.id "
                                          "WHERE m.folder = ?3 AND m.id BETWEEN ?1 AND ?2");
    auto recipients = m_database->prepare("SELECT r.message, r.row, r.tag, r.value FROM messages m JOIN recipients r ON r.message = m.id "
                                          "WHERE m.folder = ?3 AND m.id BETWEEN ?1 AND ?2");
    if (!messages || !properties || !recipients)
        return;
    messages->bind(1, first_row).bind(2, last_row).bind(3, folder);
    while (messages->step())
        m_prefetched[messages->column_int(0)];
    properties->bind(1, first_row).bind(2, last_row).bind(3, folder);
    while (properties->step()) {
        auto tag = static_cast<uint32_t>(properties->column_int(1));
        auto found = m_prefetched.find(properties->column_int(0));
        if (found != m_prefetched.end())
            found->second.properties[tag] = read_value(*properties, 2, tag);
    }
    recipients->bind(1, first_row).bind(2, last_row).bind(3, folder);
    while (recipients->step()) {
        auto found = m_prefetched.find(recipients->column_int(0));
        if (found == m_prefetched.end())
            continue;
        auto row = static_cast<size_t>(recipients->column_int(1));
        if (row >= found->second.recipients.size())
            found->second.recipients.resize(row + 1);
        auto tag = static_cast<uint32_t>(recipients->column_int(2));
        found->second.recipients[row][tag] = read_value(*recipients, 3, tag);
    }
    if (messages->failed() || properties->failed() || recipients->failed())
        m_prefetched.clear();
}

std::optional<StoredMessage> MessageStore::open_message(Bytes const& entry)
{
    int64_t wanted = row_of_entry(entry);
    if (!m_window.loaded && m_window.folder >= 0 && wanted >= m_window.first && wanted <= m_window.last) {
        m_window.loaded = true;
        prefetch(m_window.folder, m_window.first, m_window.last);
    }
    if (!m_prefetched.empty()) {
        auto found = m_prefetched.find(row_of_entry(entry));
        // A scan reads each message once: hand the prefetched one over rather than copy it.
        if (found != m_prefetched.end() && m_changes->load() == m_prefetch_version)
            return std::move(m_prefetched.extract(found).mapped());
        if (found != m_prefetched.end())
            m_prefetched.clear();
    }
    // One statement is one read transaction: a message another process is writing is seen whole
    // or not at all. Row -2 says the message exists, -1 carries its properties, 0 and up its
    // recipients.
    if (!m_read_message) {
        // The entry id carries the row number; the first arm checks that the whole id matches. The
        // tables' own key order gives the properties and then the recipients row by row.
        m_read_message = m_database->prepare(
            "SELECT -2, 0, NULL FROM messages WHERE id = ?2 AND entry_id = ?1 "
            "UNION ALL SELECT -1, tag, value FROM properties WHERE message = ?2 "
            "UNION ALL SELECT row, tag, value FROM recipients WHERE message = ?2");
        if (!m_read_message)
            return fail(), std::nullopt;
    }
    SqliteStatement& statement = *m_read_message;
    statement.reset();
    statement.bind_blob(1, entry.data(), entry.size()).bind(2, row_of_entry(entry));
    StoredMessage message;
    bool exists = false;
    int64_t current = -1;
    while (statement.step()) {
        int64_t row = statement.column_int(0);
        auto tag = static_cast<uint32_t>(statement.column_int(1));
        if (row == -2) {
            exists = true;
        } else if (row == -1) {
            message.properties[tag] = read_value(statement, 2, tag);
        } else {
            if (row != current) {
                current = row;
                message.recipients.emplace_back();
            }
            message.recipients.back()[tag] = read_value(statement, 2, tag);
        }
    }
    bool failed = statement.failed();
    statement.reset();
    if (failed)
        return fail(), std::nullopt;
    if (!exists)
        return std::nullopt;
    return message;
}

bool MessageStore::set_properties(Bytes const& entry, PropertySet const& properties)
{
    if (!write_properties(entry, std::nullopt, properties))
        return false;
    publish_unread_count();
    return true;
}

// The message's own properties, or those of one of its recipient rows, in one transaction.
bool MessageStore::write_properties(Bytes const& entry, std::optional<int64_t> recipient_row, PropertySet const& properties)
{
    m_prefetched.clear();
    SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
    auto message = transaction.begun() ? message_row(entry) : std::nullopt;
    if (!message)
        return fail();
    return (upsert_properties(*message, recipient_row, properties) && transaction.commit()) || fail();
}

// Inside the caller's transaction.
bool MessageStore::upsert_properties(int64_t message, std::optional<int64_t> recipient_row, PropertySet const& properties)
{
    auto upsert = recipient_row ? m_database->prepare("INSERT INTO recipients(message, row, tag, value) VALUES(?1, ?2, ?3, ?4) "
                                                      "ON CONFLICT(message, row, tag) DO UPDATE SET value = excluded.value")
                                : m_database->prepare("INSERT INTO properties(message, tag, value) VALUES(?1, ?3, ?4) "
                                                      "ON CONFLICT(message, tag) DO UPDATE SET value = excluded.value");
    if (!upsert)
        return fail();
    for (auto const& [tag, value] : properties) {
        upsert->reset();
        upsert->bind(1, message).bind(3, static_cast<int64_t>(tag));
        if (recipient_row)
            upsert->bind(2, *recipient_row);
        bind_value(*upsert, 4, value);
        if (!upsert->execute())
            return fail();
    }
    return true;
}

std::optional<size_t> MessageStore::mark_read(std::vector<Bytes> const& entries)
{
    m_prefetched.clear();
    size_t marked = 0;
    {
        SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
        auto update = m_database->prepare("UPDATE properties SET value = value | 1 WHERE tag = 0x0E070003 AND (value & 1) = 0 "
                                          "AND message = (SELECT id FROM messages WHERE entry_id = ?1)");
        if (!transaction.begun() || !update)
            return fail(), std::nullopt;
        for (auto const& entry : entries) {
            update->reset();
            update->bind_blob(1, entry.data(), entry.size());
            if (!update->execute())
                return fail(), std::nullopt;
            marked += static_cast<size_t>(m_database->changes());
        }
        if (!transaction.commit())
            return fail(), std::nullopt;
    }
    // One change of the unread count for the whole batch: the broker sees one change, not one a message.
    if (marked > 0)
        publish_unread_count();
    return marked;
}

bool MessageStore::delete_message(Bytes const& folder, Bytes const& entry)
{
    m_prefetched.clear();
    {
        SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
        auto folder_id = transaction.begun() ? folder_row(folder) : std::nullopt;
        auto row = folder_id ? message_row(entry) : std::nullopt;
        if (!row)
            return false;
        auto remove = m_database->prepare("DELETE FROM messages WHERE id = ?1 AND folder = ?2");
        auto remove_properties = m_database->prepare("DELETE FROM properties WHERE message = ?1");
        auto remove_recipients = m_database->prepare("DELETE FROM recipients WHERE message = ?1");
        auto remove_transmitted = m_database->prepare("DELETE FROM transmitted WHERE message = ?1");
        auto remove_sending = m_database->prepare("DELETE FROM modem_sending WHERE message = ?1");
        if (!remove || !remove_properties || !remove_recipients || !remove_transmitted || !remove_sending)
            return fail();
        remove->bind(1, *row).bind(2, *folder_id);
        if (!remove->execute() || m_database->changes() == 0)
            return false;
        remove_properties->bind(1, *row);
        remove_recipients->bind(1, *row);
        remove_transmitted->bind(1, *row);
        remove_sending->bind(1, *row);
        if (!remove_properties->execute() || !remove_recipients->execute() || !remove_transmitted->execute() || !remove_sending->execute()
            || !transaction.commit())
            return fail();
    }
    publish_unread_count();
    return true;
}

std::optional<Bytes> MessageStore::insert_message(int64_t folder, StoredMessage const& message, bool submitted)
{
    // Filing and seeding insert message after message: the statements are prepared once.
    auto insert = m_database->reuse("INSERT INTO messages(entry_id, folder, submitted) VALUES(randomblob(20), ?1, ?2)");
    auto name = m_database->reuse("UPDATE messages SET entry_id = ?1 WHERE id = ?2");
    auto property = m_database->reuse("INSERT OR REPLACE INTO properties(message, tag, value) VALUES(?1, ?2, ?3)");
    auto recipient = m_database->reuse("INSERT OR REPLACE INTO recipients(message, row, tag, value) VALUES(?1, ?2, ?3, ?4)");
    if (!insert || !name || !property || !recipient)
        return fail(), std::nullopt;
    insert->bind(1, folder).bind(2, submitted ? 1 : 0);
    if (!insert->execute())
        return fail(), std::nullopt;
    auto id_query = m_database->reuse("SELECT last_insert_rowid()");
    if (!id_query || !id_query->step())
        return fail(), std::nullopt;
    int64_t row = id_query->column_int(0);
    // AUTOINCREMENT never hands out a row number twice, so an entry id made from it is never reused.
    Bytes entry = message_entry_id(row);
    name->bind_blob(1, entry.data(), entry.size()).bind(2, row);
    if (!name->execute())
        return fail(), std::nullopt;
    for (auto const& [tag, value] : message.properties) {
        property->reset();
        property->bind(1, row).bind(2, static_cast<int64_t>(tag));
        bind_value(*property, 3, value);
        if (!property->execute())
            return fail(), std::nullopt;
    }
    for (size_t index = 0; index < message.recipients.size(); ++index) {
        for (auto const& [tag, value] : message.recipients[index]) {
            recipient->reset();
            recipient->bind(1, row).bind(2, static_cast<int64_t>(index)).bind(3, static_cast<int64_t>(tag));
            bind_value(*recipient, 4, value);
            if (!recipient->execute())
                return fail(), std::nullopt;
        }
    }
    return entry;
}

std::optional<Bytes> MessageStore::create_message(Bytes const& folder, StoredMessage const& message, bool submitted)
{
    m_prefetched.clear();
    std::optional<Bytes> entry;
    {
        SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
        auto folder_id = transaction.begun() ? folder_row(folder) : std::nullopt;
        if (!folder_id)
            return fail(), std::nullopt;
        entry = insert_message(*folder_id, message, submitted);
        if (!entry || !transaction.commit())
            return fail(), std::nullopt;
    }
    publish_unread_count();
    return entry;
}

bool MessageStore::create_messages(std::vector<std::pair<Bytes, StoredMessage>> const& messages)
{
    m_prefetched.clear();
    {
        SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
        if (!transaction.begun())
            return fail();
        std::map<Bytes, int64_t> folders;
        for (auto const& [folder, message] : messages) {
            auto known = folders.find(folder);
            if (known == folders.end()) {
                auto row = folder_row(folder);
                if (!row)
                    return fail();
                known = folders.emplace(folder, *row).first;
            }
            if (!insert_message(known->second, message, false))
                return false;
        }
        if (!transaction.commit())
            return fail();
    }
    publish_unread_count();
    return true;
}

std::optional<uint32_t> MessageStore::named_property(Bytes const& guid, std::u16string const& name, bool create)
{
    auto find = m_database->prepare("SELECT id FROM named_properties WHERE guid = ?1 AND name = ?2");
    if (!find)
        return fail(), std::nullopt;
    find->bind_blob(1, guid.data(), guid.size()).bind(2, to_utf8(name));
    if (find->step())
        return first_named_property + static_cast<uint32_t>(find->column_int(0));
    if (!create)
        return std::nullopt;
    auto insert = m_database->prepare("INSERT OR IGNORE INTO named_properties(guid, name) VALUES(?1, ?2)");
    if (!insert)
        return fail(), std::nullopt;
    insert->bind_blob(1, guid.data(), guid.size()).bind(2, to_utf8(name));
    if (!insert->execute())
        return fail(), std::nullopt;
    return named_property(guid, name, false);
}

std::vector<Bytes> MessageStore::submitted_messages()
{
    std::vector<Bytes> entries;
    auto statement = m_database->prepare("SELECT m.entry_id FROM messages m JOIN folders f ON f.id = m.folder "
                                         "WHERE f.tag = 0x35E20102 AND m.submitted = 1 ORDER BY m.id");
    if (!statement)
        return entries;
    while (statement->step()) {
        std::string entry = statement->column_text(0);
        entries.emplace_back(entry.begin(), entry.end());
    }
    return entries;
}

namespace {

// A submitted message waits with 1, and is being sent with 2.
constexpr int64_t waiting = 1;
constexpr int64_t sending = 2;

}

bool MessageStore::claim_for_sending(Bytes const& entry)
{
    m_prefetched.clear();
    auto own_start = process_start_time(::getpid());
    auto claim = m_database->prepare("UPDATE messages SET submitted = ?2, claimed_pid = ?4, claimed_started = ?5 WHERE entry_id = ?1 AND submitted = ?3");
    if (!claim)
        return fail();
    claim->bind_blob(1, entry.data(), entry.size()).bind(2, sending).bind(3, waiting);
    claim->bind(4, static_cast<int64_t>(::getpid())).bind(5, static_cast<int64_t>(own_start.value_or(0)));
    bool claimed = claim->execute() && m_database->changes() == 1;
    changed();
    return claimed;
}

bool MessageStore::release_claim(Bytes const& entry)
{
    m_prefetched.clear();
    auto release = m_database->prepare("UPDATE messages SET submitted = ?2, claimed_pid = 0, claimed_started = 0 WHERE entry_id = ?1 AND submitted = ?3");
    if (!release)
        return fail();
    release->bind_blob(1, entry.data(), entry.size()).bind(2, waiting).bind(3, sending);
    bool released = release->execute() && m_database->changes() == 1;
    changed();
    return released;
}

size_t MessageStore::release_abandoned_claims()
{
    m_prefetched.clear();
    auto claims = m_database->prepare("SELECT id, claimed_pid, claimed_started FROM messages WHERE submitted = 2");
    auto release = m_database->prepare("UPDATE messages SET submitted = 1, claimed_pid = 0, claimed_started = 0 "
                                       "WHERE id = ?1 AND submitted = 2 AND claimed_pid = ?2 AND claimed_started = ?3");
    if (!claims || !release)
        return fail(), 0;
    std::vector<std::array<int64_t, 3>> abandoned;
    while (claims->step()) {
        int64_t pid = claims->column_int(1);
        int64_t started = claims->column_int(2);
        auto running = process_start_time(pid);
        if (!running || static_cast<int64_t>(*running) != started)
            abandoned.push_back({ claims->column_int(0), pid, started });
    }
    claims->reset();
    size_t released = 0;
    for (auto const& [row, pid, started] : abandoned) {
        release->reset();
        release->bind(1, row).bind(2, pid).bind(3, started);
        if (release->execute())
            released += static_cast<size_t>(m_database->changes());
    }
    if (released > 0)
        changed();
    return released;
}

std::set<int64_t> MessageStore::transmitted_recipients(Bytes const& entry)
{
    std::set<int64_t> rows;
    auto statement = m_database->prepare("SELECT t.row FROM transmitted t JOIN messages m ON m.id = t.message WHERE m.entry_id = ?1");
    if (!statement)
        return fail(), rows;
    statement->bind_blob(1, entry.data(), entry.size());
    while (statement->step())
        rows.insert(statement->column_int(0));
    return rows;
}

bool MessageStore::mark_transmitted(Bytes const& entry, int64_t recipient_row)
{
    auto statement = m_database->prepare("INSERT OR IGNORE INTO transmitted(message, row) SELECT id, ?2 FROM messages WHERE entry_id = ?1");
    if (!statement)
        return fail();
    statement->bind_blob(1, entry.data(), entry.size()).bind(2, recipient_row);
    return statement->execute() || fail();
}

std::optional<Bytes> MessageStore::move_to_sent(Bytes const& entry)
{
    m_prefetched.clear();
    SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
    if (!transaction.begun())
        return fail(), std::nullopt;
    // Only a message this transmitter claimed is moved.
    auto still_submitted = m_database->prepare("SELECT m.id FROM messages m JOIN folders f ON f.id = m.folder "
                                               "WHERE m.entry_id = ?1 AND f.tag = 0x35E20102 AND m.submitted = 2");
    auto sent = m_database->prepare("SELECT id FROM folders WHERE tag = 0x35E40102");
    if (!still_submitted || !sent)
        return fail(), std::nullopt;
    still_submitted->bind_blob(1, entry.data(), entry.size());
    if (!still_submitted->step() || !sent->step())
        return std::nullopt;
    int64_t old_row = still_submitted->column_int(0);
    int64_t sent_folder = sent->column_int(0);
    auto message = open_message(entry);
    if (!message)
        return std::nullopt;
    int64_t flags = number_of(message->properties, Tag::MessageFlags).value_or(0);
    message->properties[Tag::MessageFlags] = static_cast<int64_t>((flags & ~int64_t(flag_unsent)) | flag_from_me | flag_read);
    auto moved = insert_message(sent_folder, *message, false);
    auto remove = m_database->prepare("DELETE FROM messages WHERE id = ?1");
    auto remove_properties = m_database->prepare("DELETE FROM properties WHERE message = ?1");
    auto remove_recipients = m_database->prepare("DELETE FROM recipients WHERE message = ?1");
    auto remove_transmitted = m_database->prepare("DELETE FROM transmitted WHERE message = ?1");
    // A send the modem has still to confirm follows its message into Sent Items.
    auto follow_sending = m_database->prepare("UPDATE modem_sending SET message = ?2 WHERE message = ?1");
    if (!moved || !remove || !remove_properties || !remove_recipients || !remove_transmitted || !follow_sending)
        return fail(), std::nullopt;
    remove->bind(1, old_row);
    remove_properties->bind(1, old_row);
    remove_recipients->bind(1, old_row);
    remove_transmitted->bind(1, old_row);
    follow_sending->bind(1, old_row).bind(2, row_of_entry(*moved));
    if (!remove->execute() || !remove_properties->execute() || !remove_recipients->execute() || !remove_transmitted->execute()
        || !follow_sending->execute() || !transaction.commit())
        return fail(), std::nullopt;
    changed();
    return moved;
}

std::optional<int64_t> MessageStore::unread_inbox_count()
{
    auto statement = m_database->prepare("SELECT COUNT(*) FROM messages m JOIN folders f ON f.id = m.folder "
                                         "LEFT JOIN properties p ON p.message = m.id AND p.tag = 0x0E070003 "
                                         "WHERE f.tag = 0x81060102 AND (COALESCE(p.value, 0) & 1) = 0");
    if (!statement || !statement->step())
        return fail(), std::nullopt;
    return statement->column_int(0);
}

std::optional<std::vector<Bytes>> MessageStore::unread_inbox_entries()
{
    auto statement = m_database->prepare("SELECT m.entry_id FROM messages m JOIN folders f ON f.id = m.folder "
                                         "LEFT JOIN properties p ON p.message = m.id AND p.tag = 0x0E070003 "
                                         "WHERE f.tag = 0x81060102 AND (COALESCE(p.value, 0) & 1) = 0");
    auto entries = statement ? entry_ids(*statement) : std::nullopt;
    if (!entries)
        return fail(), std::nullopt;
    return entries;
}

// The entry ids of a statement's first column, or nullopt when stepping failed.
std::optional<std::vector<Bytes>> MessageStore::entry_ids(SqliteStatement& statement)
{
    std::vector<Bytes> entries;
    while (statement.step()) {
        std::string_view entry = statement.column_view(0);
        entries.emplace_back(entry.begin(), entry.end());
    }
    if (statement.failed())
        return std::nullopt;
    return entries;
}

// Every writer writes the store's true count, so the next one repairs a count left wrong. A
// registry busy past its timeout is tried again a few times; a count that still cannot be
// written is reported, never taken as written.
void MessageStore::publish_unread_count()
{
    changed();
    m_count_published = false;
    for (int attempt = 0; attempt < count_attempts && !m_count_published; ++attempt) {
        auto count = unread_inbox_count();
        if (!count)
            return;
        m_count_published = RegistryStore::instance().write(Hive::CurrentUser, u"System\\State\\Messages\\SMS\\Unread", u"Count",
                                RegistryValue::dword(static_cast<uint32_t>(*count)))
            == RegistryStatus::Ok;
    }
    if (!m_count_published)
        m_error = "the unread count could not be written to the registry: " + RegistryStore::instance().last_error();
}

// The reads that follow see one picture of the store: inside `begin_reading` they already do
// (SQLite has no nested transactions); otherwise a transaction of their own.
bool MessageStore::begin_snapshot(std::optional<SqliteTransaction>& transaction)
{
    if (m_reading && m_reading->begun())
        return true;
    transaction.emplace(*m_database, SqliteTransaction::Kind::Deferred);
    return transaction->begun();
}

void MessageStore::begin_reading()
{
    if (!m_reading)
        m_reading = std::make_unique<SqliteTransaction>(*m_database, SqliteTransaction::Kind::Deferred);
}

void MessageStore::end_reading()
{
    if (m_reading && m_reading->begun())
        m_reading->commit();
    m_reading.reset();
}

}
