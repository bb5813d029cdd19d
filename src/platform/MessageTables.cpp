#include "platform/MessageTables.h"
#include "platform/ChatIndex.h"
#include "platform/StoreValues.h"

#include <algorithm>

namespace velloq::platform {

namespace {

constexpr size_t entry_prefix_size = 4;
constexpr size_t entry_size = entry_prefix_size + MessageTables::store_tag_size + 8;

}

namespace {

enum Statement : size_t {
    FolderRow,
    FolderOfKind,
    MessageRow,
    ReadMessage,
    InsertMessage,
    NameMessage,
    LastRow,
    InsertProperty,
    InsertRecipient,
    UpsertProperty,
    UpsertRecipient,
    RemoveMessage,
    RemoveProperties,
    RemoveRecipients,
    RemoveTransmitted,
    FileInChats,
    LeaveChats,
    FolderOfMessage,
    FolderTagOfEntry,
};

char const* const statement_sql[] = {
    "SELECT id FROM folders WHERE entry_id = ?1",
    "SELECT id FROM folders WHERE tag = ?1",
    "SELECT id FROM messages WHERE entry_id = ?1",
    // One statement is one read transaction: a message another process is writing is seen whole
    // or not at all. Row -2 says the message exists (the entry id carries the row number; this
    // arm checks that the whole id matches), -1 carries its properties, 0 and up its recipients,
    // in the tables' own key order.
    "SELECT -2, 0, NULL FROM messages WHERE id = ?2 AND entry_id = ?1 "
    "UNION ALL SELECT -1, tag, value FROM properties WHERE message = ?2 "
    "UNION ALL SELECT row, tag, value FROM recipients WHERE message = ?2",
    "INSERT INTO messages(entry_id, folder, submitted) VALUES(randomblob(20), ?1, ?2)",
    "UPDATE messages SET entry_id = ?1 WHERE id = ?2",
    "SELECT last_insert_rowid()",
    "INSERT OR REPLACE INTO properties(message, tag, value) VALUES(?1, ?2, ?3)",
    "INSERT OR REPLACE INTO recipients(message, row, tag, value) VALUES(?1, ?2, ?3, ?4)",
    "INSERT INTO properties(message, tag, value) VALUES(?1, ?3, ?4) ON CONFLICT(message, tag) DO UPDATE SET value = excluded.value",
    "INSERT INTO recipients(message, row, tag, value) VALUES(?1, ?2, ?3, ?4) ON CONFLICT(message, row, tag) DO UPDATE SET value = excluded.value",
    "DELETE FROM messages WHERE id = ?1",
    "DELETE FROM properties WHERE message = ?1",
    "DELETE FROM recipients WHERE message = ?1",
    "DELETE FROM transmitted WHERE message = ?1",
    chat_place_insert_sql,
    "DELETE FROM chat_index WHERE message = ?1",
    "SELECT folder FROM messages WHERE id = ?1",
    "SELECT f.tag FROM messages m JOIN folders f ON f.id = m.folder WHERE m.id = ?2 AND m.entry_id = ?1",
};

}

namespace {

StoreResult<Bytes> read_store_tag(SqliteDatabase& database)
{
    auto statement = database.prepare("SELECT tag FROM store_identity LIMIT 1");
    if (!statement)
        return StoreError::failed(database.error());
    if (!statement->step())
        return StoreError::failed(statement->failed() ? database.error() : "the store has no identity");
    std::string tag = statement->column_text(0);
    if (tag.size() != MessageTables::store_tag_size)
        return StoreError::failed("the store's identity is damaged");
    return Bytes(tag.begin(), tag.end());
}

}

StoreResult<std::unique_ptr<MessageTables>> MessageTables::open(SqliteDatabase& database, std::string const& changes_path)
{
    auto tag = read_store_tag(database);
    if (!tag)
        return tag.error();
    auto statements = StatementSet::prepare(database, statement_sql);
    if (!statements)
        return StoreError::failed(database.error());
    auto tables = std::unique_ptr<MessageTables>(new MessageTables(database, std::move(*tag), std::move(*statements), changes_path));
    auto inbox = tables->folder_of_kind(Tag::InboxEntryId);
    auto drafts = inbox ? tables->folder_of_kind(Tag::DraftsEntryId) : inbox;
    if (!drafts)
        return drafts.error();
    tables->m_inbox = *inbox;
    tables->m_drafts = *drafts;
    return tables;
}

MessageTables::MessageTables(SqliteDatabase& database, Bytes tag, StatementSet statements, std::string const& changes_path)
    : m_database(database)
    , m_tag(std::move(tag))
    , m_statements(std::move(statements))
    , m_changes(changes_path)
{
}

MessageTables::~MessageTables() = default;

StoreError MessageTables::failure() const
{
    return StoreError::failed(m_database.error());
}

Bytes MessageTables::entry_id(Bytes const& store_tag, int64_t row)
{
    Bytes entry { 'V', 'Q', 'M', 'S' };
    entry.insert(entry.end(), store_tag.begin(), store_tag.end());
    for (int shift = 56; shift >= 0; shift -= 8)
        entry.push_back(static_cast<uint8_t>(static_cast<uint64_t>(row) >> shift));
    return entry;
}

int64_t MessageTables::row_of_entry(Bytes const& entry) const
{
    if (!owns_entry(entry.data(), entry.size()))
        return -1;
    uint64_t row = 0;
    for (size_t i = entry_prefix_size + store_tag_size; i < entry_size; ++i)
        row = row << 8 | entry[i];
    return static_cast<int64_t>(row & 0x7FFFFFFFFFFFFFFF);
}

// Checked without a copy: a cache of a hundred thousand ids is checked at every start.
bool MessageTables::owns_entry(uint8_t const* entry, size_t size) const
{
    return size == entry_size && std::equal(entry, entry + entry_prefix_size, "VQMS") && std::equal(m_tag.begin(), m_tag.end(), entry + entry_prefix_size);
}

namespace {

// The first column of the one row a keyed lookup finds.
StoreResult<int64_t> found_row(SqliteDatabase& database, SqliteStatement& statement, char const* what)
{
    if (statement.step())
        return statement.column_int(0);
    if (statement.failed())
        return StoreError::failed(database.error());
    return StoreError::not_found(what);
}

}

StoreResult<int64_t> MessageTables::folder_row(Bytes const& folder)
{
    StatementUse use(m_statements[FolderRow]);
    use->bind_blob(1, folder.data(), folder.size());
    return found_row(m_database, *use, "no such folder");
}

StoreResult<int64_t> MessageTables::folder_of_kind(uint32_t kind)
{
    StatementUse use(m_statements[FolderOfKind]);
    use->bind(1, static_cast<int64_t>(kind));
    return found_row(m_database, *use, "the store lacks one of its folders");
}

StoreResult<std::vector<Bytes>> MessageTables::entry_ids(SqliteStatement& statement)
{
    std::vector<Bytes> entries;
    while (statement.step()) {
        std::string_view entry = statement.column_view(0);
        entries.emplace_back(entry.begin(), entry.end());
    }
    if (statement.failed())
        return failure();
    return entries;
}

StoreResult<int64_t> MessageTables::message_row(Bytes const& entry)
{
    StatementUse use(m_statements[MessageRow]);
    use->bind_blob(1, entry.data(), entry.size());
    return found_row(m_database, *use, "no such message");
}

StoreResult<uint32_t> MessageTables::folder_tag_of(Bytes const& entry)
{
    StatementUse use(m_statements[FolderTagOfEntry]);
    use->bind_blob(1, entry.data(), entry.size()).bind(2, row_of_entry(entry));
    if (!use->step())
        return use->failed() ? failure() : StoreError::not_found("no such message");
    return static_cast<uint32_t>(use->column_int(0));
}

StoreResult<StoredMessage> MessageTables::read_message(Bytes const& entry)
{
    StatementUse use(m_statements[ReadMessage]);
    use->bind_blob(1, entry.data(), entry.size()).bind(2, row_of_entry(entry));
    StoredMessage message;
    bool exists = false;
    int64_t current = -1;
    while (use->step()) {
        int64_t row = use->column_int(0);
        auto tag = static_cast<uint32_t>(use->column_int(1));
        if (row == -2) {
            exists = true;
        } else if (row == -1) {
            message.properties[tag] = read_value(*use, 2, tag);
        } else {
            if (row != current) {
                current = row;
                message.recipients.emplace_back();
            }
            message.recipients.back()[tag] = read_value(*use, 2, tag);
        }
    }
    if (use->failed())
        return failure();
    if (!exists)
        return StoreError::not_found("no such message");
    return message;
}

StoreResult<Bytes> MessageTables::insert_message(int64_t folder, StoredMessage const& message, bool submitted)
{
    {
        StatementUse insert(m_statements[InsertMessage]);
        insert->bind(1, folder).bind(2, submitted ? 1 : 0);
        if (!insert->execute())
            return failure();
    }
    StatementUse last(m_statements[LastRow]);
    if (!last->step())
        return failure();
    int64_t row = last->column_int(0);
    Bytes entry = entry_id(row);
    StatementUse name(m_statements[NameMessage]);
    name->bind_blob(1, entry.data(), entry.size()).bind(2, row);
    if (!name->execute())
        return failure();
    if (auto values = insert_values(row, message); !values)
        return values.error();
    if (!file_in_chats(m_statements[FileInChats], row, chat_folder(folder, m_inbox, m_drafts), message))
        return failure();
    return entry;
}

StoreResult<void> MessageTables::insert_values(int64_t row, StoredMessage const& message)
{
    StatementUse property(m_statements[InsertProperty]);
    for (auto const& [tag, value] : message.properties) {
        property->reset();
        property->bind(1, row).bind(2, static_cast<int64_t>(tag));
        bind_value(*property, 3, value);
        if (!property->execute())
            return failure();
    }
    StatementUse recipient(m_statements[InsertRecipient]);
    for (size_t index = 0; index < message.recipients.size(); ++index) {
        for (auto const& [tag, value] : message.recipients[index]) {
            recipient->reset();
            recipient->bind(1, row).bind(2, static_cast<int64_t>(index)).bind(3, static_cast<int64_t>(tag));
            bind_value(*recipient, 4, value);
            if (!recipient->execute())
                return failure();
        }
    }
    return {};
}

namespace {

// What a message's chats and its place in them are made of; its read flag reaches the index by
// trigger.
bool files_in_chats(uint32_t tag)
{
    switch (tag) {
    case Tag::MessageFlags:
    case Tag::Subject:
    case Tag::DeliveryTime:
    case Tag::LastModificationTime:
    case Tag::SenderName:
    case Tag::SenderAddress:
    case Tag::MessageClass:
    case Tag::DisplayName:
    case Tag::EmailAddress:
        return true;
    default:
        return false;
    }
}

}

// A message whose chats may have changed is filed again.
StoreResult<void> MessageTables::file_again(int64_t message)
{
    int64_t folder = -1;
    {
        StatementUse use(m_statements[FolderOfMessage]);
        if (!use->bind(1, message).step())
            return use->failed() ? failure() : StoreResult<void>();
        folder = use->column_int(0);
    }
    auto stored = read_message(entry_id(message));
    if (!stored)
        return stored.error().kind == StoreError::Kind::NotFound ? StoreResult<void>() : stored.error();
    StatementUse leave(m_statements[LeaveChats]);
    if (!leave->bind(1, message).execute())
        return failure();
    if (!file_in_chats(m_statements[FileInChats], message, chat_folder(folder, m_inbox, m_drafts), *stored))
        return failure();
    return {};
}

StoreResult<void> MessageTables::upsert_properties(int64_t message, std::optional<int64_t> recipient_row, PropertySet const& properties)
{
    StatementUse upsert(m_statements[recipient_row ? UpsertRecipient : UpsertProperty]);
    for (auto const& [tag, value] : properties) {
        upsert->reset();
        upsert->bind(1, message).bind(3, static_cast<int64_t>(tag));
        if (recipient_row)
            upsert->bind(2, *recipient_row);
        bind_value(*upsert, 4, value);
        if (!upsert->execute())
            return failure();
    }
    bool refile = std::any_of(properties.begin(), properties.end(), [](auto const& property) { return files_in_chats(property.first); });
    return refile ? file_again(message) : StoreResult<void>();
}

StoreResult<void> MessageTables::remove_message(int64_t message)
{
    for (SqliteStatement* statement : { &m_statements[RemoveMessage], &m_statements[RemoveProperties], &m_statements[RemoveRecipients],
             &m_statements[RemoveTransmitted] }) {
        StatementUse remove(*statement);
        if (!remove->bind(1, message).execute())
            return failure();
    }
    return {};
}

void MessageTables::changed()
{
    m_changes.increment();
}

std::optional<uint64_t> MessageTables::change_count() const
{
    return m_changes.is_mapped() ? std::optional<uint64_t>(m_changes.load()) : std::nullopt;
}

}
