#pragma once

#include "platform/ChatIndex.h"
#include "platform/MessageTypes.h"
#include "platform/MmsFiling.h"
#include "platform/ModemFilingLog.h"
#include "platform/OutboxQueue.h"
#include "platform/SearchIndex.h"
#include "platform/SendState.h"
#include "platform/SqliteDatabase.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velloq::platform {

class MessageTables;
class UnreadCount;

// The device's message store as a SQLite database (messages.db in the device folder), shaped
// like the phone's: stores with display names, folders, contents tables in insertion order,
// messages as property sets keyed by MAPI property tags, a recipient table per message, named
// properties, and opaque entry ids that are never reused. Several processes share it; every
// change of the inbox's unread count is written to the registry value
// HKEY_CURRENT_USER\System\State\Messages\SMS\Unread\Count, which the notification broker watches.
//
// This class reads and writes messages; the transmitter's queue, the modem service's filing and
// the search index are parts of their own, reached through it.
class MessageStore {
public:
    // Opens (and on first use creates) the store file; null with `error` set when it cannot.
    static std::unique_ptr<MessageStore> open(std::string const& path, std::string& error);
    // The store of the current device folder's messages.db.
    static std::unique_ptr<MessageStore> open_device(std::string& error);
    ~MessageStore();

    OutboxQueue& outbox() { return *m_outbox; }
    ModemFilingLog& modem_filing() { return *m_modem_filing; }
    MmsFiling& mms_filing() { return *m_mms_filing; }
    SearchIndex& search_index() { return *m_search_index; }
    ChatIndex& chat_index() { return *m_chat_index; }

    StoreResult<std::vector<StoreRow>> stores();
    // A store property: the entry id of one of its folders (Tag::InboxEntryId ...).
    StoreResult<Bytes> store_property(Bytes const& store, uint32_t tag);
    // The entry id of the SMS store's folder of a kind (Tag::InboxEntryId ...).
    StoreResult<Bytes> folder(uint32_t kind);
    // The number of rows of a folder's contents table.
    StoreResult<int64_t> row_count(Bytes const& folder);
    // The entry ids of up to `limit` rows from `offset`, in the table's order.
    StoreResult<std::vector<Bytes>> rows(Bytes const& folder, int64_t offset, int64_t limit);
    // Whether the store holds the message (a cheap look, without reading it).
    StoreResult<bool> holds_message(Bytes const& entry);
    // The tag of the folder that holds the message (Tag::InboxEntryId ...); NotFound without it.
    StoreResult<uint32_t> folder_of(Bytes const& entry);
    // A message with its properties and recipients; NotFound when it is not in the store.
    StoreResult<StoredMessage> open_message(Bytes const& entry);
    // Every message of the folders named, in row order, with its properties and recipients: one
    // ordered pass over each table instead of a lookup per message. `folder_index` is the
    // position of its folder in `folders`. An error when the store could not be read to its end.
    using MessageVisitor = std::function<void(size_t folder_index, Bytes const& entry, StoredMessage&&)>;
    StoreResult<void> read_folders(std::vector<Bytes> const& folders, MessageVisitor const& visit);
    StoreResult<void> set_properties(Bytes const& entry, PropertySet const& properties);
    // Sets properties of one recipient row of a message (RecipientState and its companions).
    StoreResult<void> set_recipient_properties(Bytes const& entry, int64_t row, PropertySet const& properties);
    // NotFound when the message is not in that folder.
    StoreResult<void> delete_message(Bytes const& folder, Bytes const& entry);
    // Sets the read flag of every message named, in one transaction, and publishes the unread
    // count once: the number of messages that were unread (on failure nothing changed).
    StoreResult<size_t> mark_read(std::vector<Bytes> const& entries);
    // A new message at the end of the folder's contents; `submitted` hands it to the transmitter.
    StoreResult<Bytes> create_message(Bytes const& folder, StoredMessage const& message, bool submitted);
    // Many messages in one transaction (a synthetic store); an error when any of them fails.
    StoreResult<void> create_messages(std::vector<std::pair<Bytes, StoredMessage>> const& messages);
    // NotFound when the name has no number and `create` is false.
    StoreResult<uint32_t> named_property(Bytes const& guid, std::u16string const& name, bool create);

    StoreResult<int64_t> unread_inbox_count();
    StoreResult<std::vector<Bytes>> unread_inbox_entries();
    // Whether the last change of the inbox also reached the registry's unread count, and why not.
    bool unread_count_published() const;
    std::string unread_count_error() const;

    // Many reads in a row share one read transaction: one consistent picture of the store and
    // no file locking per statement. Writes must wait for `end_reading`.
    void begin_reading();
    void end_reading();
    // Moves whenever any process writes the store; nullopt when it cannot be followed (then
    // nothing read earlier can be trusted to be current).
    std::optional<uint64_t> change_count() const;
    // Whether an entry id is one of this store's message ids (whether or not the message is still
    // there): ids carry the store's own random tag.
    bool owns_entry(Bytes const& entry) const;
    bool owns_entry(uint8_t const* entry, size_t size) const;

private:
    MessageStore(std::unique_ptr<SqliteDatabase>, std::unique_ptr<MessageTables>, StatementSet);
    StoreResult<void> open_parts();
    StoreResult<void> write_properties(Bytes const& entry, std::optional<int64_t> recipient_row, PropertySet const& properties);
    StoreResult<void> begin_snapshot(std::optional<SqliteTransaction>&);
    StoreResult<std::vector<int64_t>> folder_rows(std::vector<Bytes> const& folders);
    StoreResult<std::vector<Bytes>> list_rows(int64_t folder, int64_t offset, int64_t limit, int64_t count);
    StoreResult<uint32_t> find_named_property(Bytes const& guid, std::string const& name);
    void publish_unread_count();
    void prefetch(int64_t folder, int64_t first_row, int64_t last_row);
    void read_prefetched_values(int64_t folder, int64_t first_row, int64_t last_row);
    std::optional<StoredMessage> take_prefetched(Bytes const& entry);

    // Declared first, so it closes after everything that uses it.
    std::unique_ptr<SqliteDatabase> m_database;
    std::unique_ptr<MessageTables> m_tables;
    StatementSet m_statements;
    std::unique_ptr<UnreadCount> m_unread;
    std::unique_ptr<OutboxQueue> m_outbox;
    std::unique_ptr<ModemFilingLog> m_modem_filing;
    std::unique_ptr<MmsFiling> m_mms_filing;
    std::unique_ptr<SearchIndex> m_search_index;
    std::unique_ptr<ChatIndex> m_chat_index;

    // The messages of the last window of rows, read in bulk with the window: a scan of a folder
    // then reads each message from memory, as long as no process has written since.
    std::map<int64_t, StoredMessage> m_prefetched;
    uint64_t m_prefetch_version { 0 };
    // The last window of rows handed out; its messages are read in bulk at the first read of one
    // of them, so listing ids alone (the outbox check) costs no message reads.
    struct Window {
        int64_t folder { -1 };
        int64_t first { -1 };
        int64_t last { -1 };
        bool loaded { false };
        // The offset just past the window, and the store's change count when it was listed.
        int64_t end_offset { -1 };
        uint64_t version { 0 };
    } m_window;
    // Declared last, so it ends before the database closes.
    std::unique_ptr<SqliteTransaction> m_reading;
};

}
