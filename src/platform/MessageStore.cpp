#include "platform/MessageStore.h"

#include "platform/Folders.h"
#include "platform/MessageSchema.h"
#include "platform/MessageTables.h"
#include "platform/StoreValues.h"
#include "platform/UnreadCount.h"
#include "platform/Utf.h"

#include <algorithm>

namespace velloq::platform {

Bytes const ps_mapi { 0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 };

namespace {

// Several processes write the store, each for a few milliseconds; two seconds outlast a writer
// descheduled on a busy phone.
constexpr int busy_timeout_ms = 2000;
constexpr uint32_t first_named_property = 0x8000;

enum Statement : size_t {
    Stores,
    StoreProperty,
    RowCount,
    RowsAfter,
    RowsFromStart,
    RowsFromEnd,
    PrefetchMessages,
    PrefetchProperties,
    PrefetchRecipients,
    DeleteInFolder,
    ForgetSending,
    MarkRead,
    FindNamed,
    InsertNamed,
};

char const* const statement_sql[] = {
    "SELECT entry_id, display_name FROM stores ORDER BY id",
    "SELECT f.entry_id FROM folders f JOIN stores s ON s.id = f.store WHERE s.entry_id = ?1 AND f.tag = ?2",
    "SELECT c.count FROM folder_counts c JOIN folders f ON f.id = c.folder WHERE f.entry_id = ?1",
    "SELECT entry_id FROM messages WHERE folder = ?1 AND id > ?3 ORDER BY id LIMIT ?2",
    "SELECT entry_id FROM messages WHERE folder = ?1 ORDER BY id LIMIT ?2 OFFSET ?3",
    "SELECT entry_id FROM messages WHERE folder = ?1 ORDER BY id DESC LIMIT ?2 OFFSET ?3",
    // Only the window's own messages: the folder's rows between the first and the last.
    "SELECT id FROM messages WHERE folder = ?3 AND id BETWEEN ?1 AND ?2",
    "SELECT p.message, p.tag, p.value FROM messages m JOIN properties p ON p.message = m.id WHERE m.folder = ?3 AND m.id BETWEEN ?1 AND ?2",
    "SELECT r.message, r.row, r.tag, r.value FROM messages m JOIN recipients r ON r.message = m.id WHERE m.folder = ?3 AND m.id BETWEEN ?1 AND ?2",
    "SELECT 1 FROM messages WHERE id = ?1 AND folder = ?2",
    "DELETE FROM modem_sending WHERE message = ?1",
    "UPDATE properties SET value = value | 1 WHERE tag = ?2 AND (value & 1) = 0 AND message = (SELECT id FROM messages WHERE entry_id = ?1)",
    "SELECT id FROM named_properties WHERE guid = ?1 AND name = ?2",
    "INSERT OR IGNORE INTO named_properties(guid, name) VALUES(?1, ?2)",
};

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
    auto schema = prepare_message_schema(*database);
    auto tables = schema ? MessageTables::open(*database, path + ".changes") : StoreResult<std::unique_ptr<MessageTables>>(schema.error());
    auto statements = tables ? StatementSet::prepare(*database, statement_sql) : std::nullopt;
    if (!statements) {
        error = tables ? database->error() : tables.error().text;
        return nullptr;
    }
    std::unique_ptr<MessageStore> store(new MessageStore(std::move(database), std::move(*tables), std::move(*statements)));
    if (auto parts = store->open_parts(); !parts) {
        error = parts.error().text;
        return nullptr;
    }
    return store;
}

MessageStore::MessageStore(std::unique_ptr<SqliteDatabase> database, std::unique_ptr<MessageTables> tables, StatementSet statements)
    : m_database(std::move(database))
    , m_tables(std::move(tables))
    , m_statements(std::move(statements))
{
}

MessageStore::~MessageStore() = default;

StoreResult<void> MessageStore::open_parts()
{
    auto unread = UnreadCount::open(*m_tables);
    auto outbox = OutboxQueue::open(*m_tables);
    auto modem_filing = ModemFilingLog::open(*m_tables, [this] { publish_unread_count(); });
    auto mms_filing = MmsFiling::open(*m_tables, [this] { publish_unread_count(); });
    auto search_index = SearchIndex::open(*m_tables);
    auto chat_index = ChatIndex::open(*m_tables);
    for (StoreError const* error : { unread ? nullptr : &unread.error(), outbox ? nullptr : &outbox.error(),
             modem_filing ? nullptr : &modem_filing.error(), mms_filing ? nullptr : &mms_filing.error(), search_index ? nullptr : &search_index.error(), chat_index ? nullptr : &chat_index.error() }) {
        if (error)
            return *error;
    }
    m_unread = std::move(*unread);
    m_outbox = std::move(*outbox);
    m_modem_filing = std::move(*modem_filing);
    m_mms_filing = std::move(*mms_filing);
    m_search_index = std::move(*search_index);
    m_chat_index = std::move(*chat_index);
    return {};
}

StoreResult<bool> MessageStore::holds_message(Bytes const& entry)
{
    auto row = m_tables->message_row(entry);
    if (!row)
        return row.error().kind == StoreError::Kind::NotFound ? StoreResult<bool>(false) : StoreResult<bool>(row.error());
    return true;
}

StoreResult<uint32_t> MessageStore::folder_of(Bytes const& entry)
{
    return m_tables->folder_tag_of(entry);
}

bool MessageStore::owns_entry(Bytes const& entry) const
{
    return m_tables->owns_entry(entry.data(), entry.size());
}

bool MessageStore::owns_entry(uint8_t const* entry, size_t size) const
{
    return m_tables->owns_entry(entry, size);
}

std::optional<uint64_t> MessageStore::change_count() const
{
    return m_tables->change_count();
}

StoreResult<std::vector<StoreRow>> MessageStore::stores()
{
    StatementUse use(m_statements[Stores]);
    std::vector<StoreRow> rows;
    while (use->step()) {
        std::string entry = use->column_text(0);
        rows.push_back({ Bytes(entry.begin(), entry.end()), to_utf16(use->column_text(1)) });
    }
    if (use->failed())
        return m_tables->failure();
    return rows;
}

StoreResult<Bytes> MessageStore::store_property(Bytes const& store, uint32_t tag)
{
    StatementUse use(m_statements[StoreProperty]);
    use->bind_blob(1, store.data(), store.size()).bind(2, static_cast<int64_t>(tag));
    if (!use->step())
        return use->failed() ? m_tables->failure() : StoreError::not_found("the store has no such property");
    std::string entry = use->column_text(0);
    return Bytes(entry.begin(), entry.end());
}

StoreResult<Bytes> MessageStore::folder(uint32_t kind)
{
    auto stores = this->stores();
    if (!stores)
        return stores.error();
    if (stores->empty())
        return StoreError::not_found("the message store holds no SMS store");
    return store_property(stores->front().entry_id, kind);
}

StoreResult<int64_t> MessageStore::row_count(Bytes const& folder)
{
    StatementUse use(m_statements[RowCount]);
    use->bind_blob(1, folder.data(), folder.size());
    if (!use->step())
        return use->failed() ? m_tables->failure() : StoreError::not_found("no such folder");
    return use->column_int(0);
}

StoreResult<std::vector<Bytes>> MessageStore::rows(Bytes const& folder, int64_t offset, int64_t limit)
{
    auto folder_id = m_tables->folder_row(folder);
    if (!folder_id)
        return folder_id.error();
    auto count = row_count(folder);
    auto version = change_count();
    auto listed = list_rows(*folder_id, offset, limit, count.value_or(-1));
    if (!listed)
        return listed.error();
    m_prefetched.clear();
    auto& entries = *listed;
    m_window = entries.empty() ? Window {}
                               : Window { *folder_id, m_tables->row_of_entry(entries.front()), m_tables->row_of_entry(entries.back()), false,
                                     offset + static_cast<int64_t>(entries.size()), version.value_or(0) };
    return listed;
}

// `count` is the folder's length, or -1 when it is not known.
StoreResult<std::vector<Bytes>> MessageStore::list_rows(int64_t folder, int64_t offset, int64_t limit, int64_t count)
{
    // A scan asking for the window right after the last one goes on from that window's last row
    // instead of counting past every earlier row again, as long as nobody wrote in between.
    auto version = change_count();
    if (m_window.folder == folder && m_window.end_offset == offset && m_window.last >= 0 && version && *version == m_window.version) {
        StatementUse use(m_statements[RowsAfter]);
        use->bind(1, folder).bind(2, limit).bind(3, m_window.last);
        return m_tables->entry_ids(*use);
    }
    // A window near the end is counted from the end, so a poll of the newest rows skips nothing.
    if (count >= 0 && offset > count / 2) {
        int64_t rows_wanted = std::max<int64_t>(0, std::min(limit, count - offset));
        StatementUse use(m_statements[RowsFromEnd]);
        use->bind(1, folder).bind(2, rows_wanted).bind(3, count - offset - rows_wanted);
        auto entries = m_tables->entry_ids(*use);
        if (entries)
            std::reverse(entries->begin(), entries->end());
        return entries;
    }
    StatementUse use(m_statements[RowsFromStart]);
    use->bind(1, folder).bind(2, limit).bind(3, offset);
    return m_tables->entry_ids(*use);
}

void MessageStore::prefetch(int64_t folder, int64_t first_row, int64_t last_row)
{
    m_prefetched.clear();
    auto version = change_count();
    if (first_row < 0 || last_row < first_row || !version)
        return;
    m_prefetch_version = *version;
    std::optional<SqliteTransaction> transaction;
    if (begin_snapshot(transaction))
        read_prefetched_values(folder, first_row, last_row);
}

void MessageStore::read_prefetched_values(int64_t folder, int64_t first_row, int64_t last_row)
{
    StatementUse messages(m_statements[PrefetchMessages]);
    messages->bind(1, first_row).bind(2, last_row).bind(3, folder);
    while (messages->step())
        m_prefetched[messages->column_int(0)];
    StatementUse properties(m_statements[PrefetchProperties]);
    properties->bind(1, first_row).bind(2, last_row).bind(3, folder);
    while (properties->step()) {
        auto tag = static_cast<uint32_t>(properties->column_int(1));
        auto found = m_prefetched.find(properties->column_int(0));
        if (found != m_prefetched.end())
            found->second.properties[tag] = read_value(*properties, 2, tag);
    }
    StatementUse recipients(m_statements[PrefetchRecipients]);
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

// A message of the last window, read in bulk at the first read of one of them, as long as no
// process wrote the store since.
std::optional<StoredMessage> MessageStore::take_prefetched(Bytes const& entry)
{
    int64_t wanted = m_tables->row_of_entry(entry);
    if (!m_window.loaded && m_window.folder >= 0 && wanted >= m_window.first && wanted <= m_window.last) {
        m_window.loaded = true;
        prefetch(m_window.folder, m_window.first, m_window.last);
    }
    if (m_prefetched.empty())
        return std::nullopt;
    auto found = m_prefetched.find(wanted);
    if (found == m_prefetched.end())
        return std::nullopt;
    // A scan reads each message once: hand the prefetched one over rather than copy it.
    if (change_count() == m_prefetch_version)
        return std::move(m_prefetched.extract(found).mapped());
    m_prefetched.clear();
    return std::nullopt;
}

StoreResult<StoredMessage> MessageStore::open_message(Bytes const& entry)
{
    if (auto prefetched = take_prefetched(entry))
        return std::move(*prefetched);
    return m_tables->read_message(entry);
}

StoreResult<void> MessageStore::set_properties(Bytes const& entry, PropertySet const& properties)
{
    auto written = write_properties(entry, std::nullopt, properties);
    if (written)
        publish_unread_count();
    return written;
}

StoreResult<void> MessageStore::set_recipient_properties(Bytes const& entry, int64_t row, PropertySet const& properties)
{
    auto written = write_properties(entry, row, properties);
    if (written)
        m_tables->changed();
    return written;
}

// The message's own properties, or those of one of its recipient rows, in one transaction.
StoreResult<void> MessageStore::write_properties(Bytes const& entry, std::optional<int64_t> recipient_row, PropertySet const& properties)
{
    m_prefetched.clear();
    SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
    if (!transaction.begun())
        return m_tables->failure();
    auto message = m_tables->message_row(entry);
    if (!message)
        return message.error();
    if (auto written = m_tables->upsert_properties(*message, recipient_row, properties); !written)
        return written;
    if (!transaction.commit())
        return m_tables->failure();
    return {};
}

StoreResult<size_t> MessageStore::mark_read(std::vector<Bytes> const& entries)
{
    m_prefetched.clear();
    size_t marked = 0;
    {
        SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
        if (!transaction.begun())
            return m_tables->failure();
        StatementUse update(m_statements[MarkRead]);
        for (auto const& entry : entries) {
            update->reset();
            update->bind_blob(1, entry.data(), entry.size()).bind(2, static_cast<int64_t>(Tag::MessageFlags));
            if (!update->execute())
                return m_tables->failure();
            marked += static_cast<size_t>(m_database->changes());
        }
        if (!transaction.commit())
            return m_tables->failure();
    }
    // One change of the unread count for the whole batch: the broker sees one change, not one a message.
    if (marked > 0)
        publish_unread_count();
    return marked;
}

StoreResult<void> MessageStore::delete_message(Bytes const& folder, Bytes const& entry)
{
    m_prefetched.clear();
    {
        SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
        if (!transaction.begun())
            return m_tables->failure();
        auto folder_id = m_tables->folder_row(folder);
        auto row = folder_id ? m_tables->message_row(entry) : folder_id;
        if (!row)
            return row.error();
        {
            StatementUse in_folder(m_statements[DeleteInFolder]);
            in_folder->bind(1, *row).bind(2, *folder_id);
            if (!in_folder->step())
                return in_folder->failed() ? m_tables->failure() : StoreError::not_found("the message is not in that folder");
        }
        StatementUse forget_sending(m_statements[ForgetSending]);
        if (auto removed = m_tables->remove_message(*row); !removed)
            return removed;
        if (!forget_sending->bind(1, *row).execute() || !transaction.commit())
            return m_tables->failure();
    }
    publish_unread_count();
    return {};
}

StoreResult<Bytes> MessageStore::create_message(Bytes const& folder, StoredMessage const& message, bool submitted)
{
    m_prefetched.clear();
    StoreResult<Bytes> entry = StoreError::failed("not written");
    {
        SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
        if (!transaction.begun())
            return m_tables->failure();
        auto folder_id = m_tables->folder_row(folder);
        if (!folder_id)
            return folder_id.error();
        entry = m_tables->insert_message(*folder_id, message, submitted);
        if (!entry)
            return entry;
        if (!transaction.commit())
            return m_tables->failure();
    }
    publish_unread_count();
    return entry;
}

StoreResult<std::vector<int64_t>> MessageStore::folder_rows(std::vector<Bytes> const& folders)
{
    std::vector<int64_t> rows;
    for (auto const& folder : folders) {
        auto row = m_tables->folder_row(folder);
        if (!row)
            return row.error();
        rows.push_back(*row);
    }
    return rows;
}

StoreResult<void> MessageStore::create_messages(std::vector<std::pair<Bytes, StoredMessage>> const& messages)
{
    m_prefetched.clear();
    {
        SqliteTransaction transaction(*m_database, SqliteTransaction::Kind::Immediate);
        if (!transaction.begun())
            return m_tables->failure();
        std::map<Bytes, int64_t> folders;
        for (auto const& [folder, message] : messages) {
            auto known = folders.find(folder);
            if (known == folders.end()) {
                auto row = m_tables->folder_row(folder);
                if (!row)
                    return row.error();
                known = folders.emplace(folder, *row).first;
            }
            if (auto entry = m_tables->insert_message(known->second, message, false); !entry)
                return entry.error();
        }
        if (!transaction.commit())
            return m_tables->failure();
    }
    publish_unread_count();
    return {};
}

StoreResult<uint32_t> MessageStore::find_named_property(Bytes const& guid, std::string const& name)
{
    StatementUse find(m_statements[FindNamed]);
    find->bind_blob(1, guid.data(), guid.size()).bind(2, name);
    if (find->step())
        return first_named_property + static_cast<uint32_t>(find->column_int(0));
    return find->failed() ? m_tables->failure() : StoreError::not_found("no such named property");
}

StoreResult<uint32_t> MessageStore::named_property(Bytes const& guid, std::u16string const& name, bool create)
{
    std::string text = to_utf8(name);
    auto found = find_named_property(guid, text);
    if (found || !create || found.error().kind != StoreError::Kind::NotFound)
        return found;
    StatementUse insert(m_statements[InsertNamed]);
    insert->bind_blob(1, guid.data(), guid.size()).bind(2, text);
    if (!insert->execute())
        return m_tables->failure();
    return find_named_property(guid, text);
}

StoreResult<int64_t> MessageStore::unread_inbox_count()
{
    return m_unread->count();
}

StoreResult<std::vector<Bytes>> MessageStore::unread_inbox_entries()
{
    return m_unread->unread_entries();
}

bool MessageStore::unread_count_published() const
{
    return m_unread->published();
}

std::string MessageStore::unread_count_error() const
{
    return m_unread->error();
}

void MessageStore::publish_unread_count()
{
    m_prefetched.clear();
    m_window.loaded = true;
    m_unread->publish();
}

// The reads that follow see one picture of the store: inside `begin_reading` they already do
// (SQLite has no nested transactions); otherwise a transaction of their own.
StoreResult<void> MessageStore::begin_snapshot(std::optional<SqliteTransaction>& transaction)
{
    if (m_reading && m_reading->begun())
        return {};
    transaction.emplace(*m_database, SqliteTransaction::Kind::Deferred);
    if (!transaction->begun())
        return m_tables->failure();
    return {};
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
