#pragma once

#include "platform/MessageTypes.h"
#include "platform/SharedCounter.h"
#include "platform/SqliteDatabase.h"

#include <memory>
#include <string>

namespace velloq::platform {

// The message store's tables as its parts share them: one connection, the store's entry ids,
// and the few writes every part makes (a message filed, its properties set, a message taken
// out), each statement prepared once. Writers count their commits in a small shared file, so
// every process sees that the store changed without asking the database.
class MessageTables {
public:
    // For a database whose schema is up to date; an error when its identity or statements are
    // not usable.
    static StoreResult<std::unique_ptr<MessageTables>> open(SqliteDatabase&, std::string const& changes_path);
    ~MessageTables();

    SqliteDatabase& database() { return m_database; }
    // The database's last failure, to return as the result of the call that met it.
    StoreError failure() const;

    // Entry ids are "VQMS", the store's own random tag and the message's row number: an id kept
    // from another store, or an earlier store of the same name, never matches a message here.
    static Bytes entry_id(Bytes const& store_tag, int64_t row);
    Bytes entry_id(int64_t row) const { return entry_id(m_tag, row); }
    // The row number an entry id was made from; -1 for an id this store did not make.
    int64_t row_of_entry(Bytes const& entry) const;
    bool owns_entry(uint8_t const* entry, size_t size) const;
    static constexpr size_t store_tag_size = 8;

    StoreResult<int64_t> folder_row(Bytes const& folder);
    // The folder of a kind: Tag::InboxEntryId, Tag::SentEntryId, Tag::OutboxEntryId ...
    StoreResult<int64_t> folder_of_kind(uint32_t kind);
    StoreResult<int64_t> message_row(Bytes const& entry);
    // The entry ids of a statement's first column, read to its end.
    StoreResult<std::vector<Bytes>> entry_ids(SqliteStatement&);
    // One message with its properties and recipients, read in one statement.
    StoreResult<StoredMessage> read_message(Bytes const& entry);
    // The tag of the folder that holds the message (Tag::InboxEntryId ...).
    StoreResult<uint32_t> folder_tag_of(Bytes const& entry);

    // Inside the caller's transaction: a new message at the end of the folder, its entry id made
    // from a row number AUTOINCREMENT never hands out again.
    StoreResult<Bytes> insert_message(int64_t folder, StoredMessage const& message, bool submitted);
    // Inside the caller's transaction: the message's own properties, or those of a recipient row.
    StoreResult<void> upsert_properties(int64_t message, std::optional<int64_t> recipient_row, PropertySet const& properties);
    // Inside the caller's transaction: the message with its properties, recipients and the record
    // of whom it went to.
    StoreResult<void> remove_message(int64_t message);

    // Tells every process (this one too) that the store changed.
    void changed();
    std::optional<uint64_t> change_count() const;

private:
    MessageTables(SqliteDatabase&, Bytes tag, StatementSet, std::string const& changes_path);
    StoreResult<void> insert_values(int64_t row, StoredMessage const& message);
    StoreResult<void> file_again(int64_t message);

    SqliteDatabase& m_database;
    Bytes m_tag;
    StatementSet m_statements;
    SharedCounter m_changes;
    // The rows of the inbox and of drafts: how a message is filed in its chats depends on them.
    int64_t m_inbox { -1 };
    int64_t m_drafts { -1 };
};

}
