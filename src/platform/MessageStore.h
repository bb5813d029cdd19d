#pragma once

#include "platform/SendState.h"
#include "platform/SharedCounter.h"
#include "platform/SqliteDatabase.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace velloq::platform {

// The device's message store as a SQLite database (messages.db in the device folder), shaped
// like the phone's: stores with display names, folders, contents tables in insertion order,
// messages as property sets keyed by MAPI property tags, a recipient table per message, named
// properties, and opaque entry ids that are never reused. Several processes share it; every
// change of the inbox's unread count is written to the registry value
// HKEY_CURRENT_USER\System\State\Messages\SMS\Unread\Count, which the notification broker watches.
using Bytes = std::vector<uint8_t>;
using PropertyValue = std::variant<int64_t, std::u16string, Bytes>;
using PropertySet = std::map<uint32_t, PropertyValue>;

namespace Tag {
constexpr uint32_t EntryId = 0x0FFF0102;
constexpr uint32_t DisplayName = 0x3001001F;
constexpr uint32_t InboxEntryId = 0x81060102;
constexpr uint32_t SentEntryId = 0x35E40102;
constexpr uint32_t DraftsEntryId = 0x81040102;
constexpr uint32_t OutboxEntryId = 0x35E20102;
constexpr uint32_t RootEntryId = 0x35E00102;
constexpr uint32_t MessageFlags = 0x0E070003;
constexpr uint32_t Subject = 0x0037001F;
constexpr uint32_t DeliveryTime = 0x0E060040;
constexpr uint32_t LastModificationTime = 0x30080040;
constexpr uint32_t SenderName = 0x0C1A001F;
constexpr uint32_t SenderAddress = 0x0C1F001F;
constexpr uint32_t MessageClass = 0x001A001F;
constexpr uint32_t EmailAddress = 0x3003001F;
constexpr uint32_t MessageStatus = 0x0E170003;
constexpr uint32_t DeliveryReportRequested = 0x0C12000B;
constexpr uint32_t RecipientType = 0x0C150003;
constexpr uint32_t AddressType = 0x3002001F;
// The store's own properties of an outgoing message, kept per recipient row: how far it got
// (RecipientState, a SendState), the modem's message reference and when it went out, and why it did not.
constexpr uint32_t RecipientState = 0x66010003;
constexpr uint32_t MessageReference = 0x66020003;
constexpr uint32_t SentTime = 0x66030040;
constexpr uint32_t SendError = 0x6604001F;
// On a delivery or non-delivery report: the entry id of the sent message it is about.
constexpr uint32_t ReportedMessage = 0x66050102;
}



constexpr uint32_t flag_read = 0x01;
constexpr uint32_t flag_unsent = 0x08;
constexpr uint32_t flag_from_me = 0x20;

// The property set PS_MAPI {00020328-0000-0000-C000-000000000046}.
extern Bytes const ps_mapi;

// A property of a set, when it is there with the type its tag says.
std::optional<int64_t> number_of(PropertySet const& properties, uint32_t tag);
std::optional<std::u16string> text_of(PropertySet const& properties, uint32_t tag);

struct StoreRow {
    Bytes entry_id;
    std::u16string display_name;
};

struct StoredMessage {
    PropertySet properties;
    std::vector<PropertySet> recipients;
};

class MessageStore {
public:
    // Opens (and on first use creates) the store file; null with `error` set when it cannot.
    static std::unique_ptr<MessageStore> open(std::string const& path, std::string& error);
    // The store of the current device folder's messages.db.
    static std::unique_ptr<MessageStore> open_device(std::string& error);
    ~MessageStore();

    std::optional<std::vector<StoreRow>> stores();
    // A store property: the entry id of one of its folders (Tag::InboxEntryId ...).
    std::optional<Bytes> store_property(Bytes const& store, uint32_t tag);
    // The number of rows of a folder's contents table, or nullopt.
    std::optional<int64_t> row_count(Bytes const& folder);
    // The entry ids of up to `limit` rows from `offset`, in the table's order.
    std::optional<std::vector<Bytes>> rows(Bytes const& folder, int64_t offset, int64_t limit);
    std::optional<StoredMessage> open_message(Bytes const& entry);
    // Every message of the folders named, in row order, with its properties and recipients: one
    // ordered pass over each table instead of a lookup per message. `folder_index` is the
    // position of its folder in `folders`. False when the store could not be read to its end.
    using MessageVisitor = std::function<void(size_t folder_index, Bytes const& entry, StoredMessage&&)>;
    bool read_folders(std::vector<Bytes> const& folders, MessageVisitor const& visit);
    bool set_properties(Bytes const& entry, PropertySet const& properties);
    bool delete_message(Bytes const& folder, Bytes const& entry);
    // Sets the read flag of every message named, in one transaction, and publishes the unread
    // count once; the number of messages that were unread, or nullopt on failure (nothing changed).
    std::optional<size_t> mark_read(std::vector<Bytes> const& entries);
    // A new message at the end of the folder's contents; `submitted` hands it to the transmitter.
    std::optional<Bytes> create_message(Bytes const& folder, StoredMessage const& message, bool submitted);
    // Many messages in one transaction (a synthetic store); false when any of them fails.
    bool create_messages(std::vector<std::pair<Bytes, StoredMessage>> const& messages);
    std::optional<uint32_t> named_property(Bytes const& guid, std::u16string const& name, bool create);

    // The transmitter's part: the submitted outbox messages, and moving one to Sent Items under a
    // new entry id. The move is one transaction, so a message is never transmitted twice.
    std::vector<Bytes> submitted_messages();
    // Takes a submitted message for sending; only one transmitter ever gets it.
    bool claim_for_sending(Bytes const& entry);
    // Gives a claimed message back to the outbox queue (the modem could not send it).
    bool release_claim(Bytes const& entry);
    // Gives back the claims of transmitters that are no longer running (killed, crashed); a
    // living transmitter's claims stay. The number given back.
    size_t release_abandoned_claims();
    // The recipient rows a message already went to, and noting one more.
    std::set<int64_t> transmitted_recipients(Bytes const& entry);
    bool mark_transmitted(Bytes const& entry, int64_t recipient_row);
    std::optional<Bytes> move_to_sent(Bytes const& entry);

    // The modem service's part. A message taken from the modem is filed into the inbox together
    // with its `key` (what identifies it on the modem), in one transaction: a key filed once is
    // never filed again, so a crash between filing and deleting it from the modem does no harm.
    enum class Filing { Filed, AlreadyFiled, Failed };
    Filing file_from_modem(std::string const& key, std::string const& source, StoredMessage const& message);
    bool filed_from_modem(std::string const& key);
    // Forgets the keys filed, and the incomplete messages first seen, before `unix_seconds` (the
    // modem no longer holds those messages).
    bool forget_filed_before(int64_t unix_seconds);
    // Sets properties of one recipient row of a message (RecipientState and its companions).
    bool set_recipient_properties(Bytes const& entry, int64_t row, PropertySet const& properties);
    // When the service first saw a message still arriving in parts (its `key`): the time noted
    // at the first call, kept across restarts; nullopt when the store cannot be used.
    std::optional<int64_t> first_seen_incomplete(std::string const& key, int64_t now_unix);
    bool forget_incomplete(std::string const& key);
    // A send whose outcome the modem has not told (its call timed out): the recipient is noted as
    // transmitted, so nothing sends it again, in state `properties`, and remembered under the
    // modem's message (`instance`, the ModemManager that holds it, and `path`) until settled.
    bool note_unsettled_send(Bytes const& entry, int64_t row, std::string const& instance, std::string const& path, PropertySet const& properties);
    struct UnsettledSend {
        std::string instance;
        std::string path;
        int64_t since { 0 };
    };
    std::vector<UnsettledSend> unsettled_sends();
    // Gives the recipient of an unsettled send its outcome and forgets the send.
    bool settle_send(std::string const& instance, std::string const& path, PropertySet const& outcome);
    // The recipient rows of Sent Items and the outbox (a message that failed for another
    // recipient waits there) that went out with a modem message reference, newest first.
    struct SentRecipient {
        Bytes entry;
        int64_t row { 0 };
        PropertySet properties;
    };
    std::vector<SentRecipient> sent_with_reference(int64_t reference);

    // The search index (SQLite's full-text index, made on first use; false where SQLite lacks
    // it). Indexing takes up to `limit` of the messages noted since, in one short transaction;
    // `terms_of` gives what is indexed beside a text (its numbers). The number indexed, or nullopt.
    using SearchTerms = std::function<std::string(std::u16string const& text)>;
    std::optional<size_t> index_for_search(size_t limit, SearchTerms const& terms_of);
    std::optional<int64_t> search_backlog();
    // Checks the index cheaply (its rows against the store's messages and notes) and, when it is
    // missing, damaged or does not fit the store, drops it and notes every message, to be indexed
    // again. True when it does so; nullopt when the store cannot be asked.
    std::optional<bool> rebuild_search_index_if_needed();
    // Drops the index and notes every message: for an index a search found damaged.
    bool remake_search_index() { return rebuild_search_index(); }
    // The entry ids of the messages that match an FTS5 query, newest first: `limit` of them from
    // the `offset`th on.
    std::optional<std::vector<Bytes>> search(std::string const& match, size_t offset, size_t limit);

    std::optional<int64_t> unread_inbox_count();
    // Whether the last change of the inbox also reached the registry's unread count.
    bool unread_count_published() const { return m_count_published; }
    std::optional<std::vector<Bytes>> unread_inbox_entries();

    // Many reads in a row share one read transaction: one consistent picture of the store and
    // no file locking per statement. Writes must wait for `end_reading`.
    void begin_reading();
    void end_reading();
    std::string last_error() const { return m_error; }
    // Moves whenever any process writes the store; nullopt when it cannot be followed (then
    // nothing read earlier can be trusted to be current).
    std::optional<uint64_t> change_count() const
    {
        return m_changes && m_changes->is_mapped() ? std::optional<uint64_t>(m_changes->load()) : std::nullopt;
    }
    // Whether an entry id is one of this store's message ids (whether or not the message is still
    // there): ids carry the store's own random tag.
    bool owns_entry(Bytes const& entry) const;
    bool owns_entry(uint8_t const* entry, size_t size) const;

private:
    explicit MessageStore(std::unique_ptr<SqliteDatabase>);
    bool prepare_schema();
    bool repair_search_notes();
    bool rebuild_search_index();
    std::optional<int64_t> count_of(char const* sql);
    bool make_search_table();
    bool index_one(int64_t message, SearchTerms const& terms_of);
    bool begin_snapshot(std::optional<SqliteTransaction>&);
    bool read_tag();
    static std::optional<std::vector<Bytes>> entry_ids(SqliteStatement&);
    bool retag_messages();
    bool add_claim_columns();
    int64_t row_of_entry(Bytes const& entry) const;
    Bytes message_entry_id(int64_t row) const;
    std::optional<int64_t> folder_row(Bytes const& folder);
    std::optional<int64_t> message_row(Bytes const& entry);
    std::optional<Bytes> insert_message(int64_t folder, StoredMessage const& message, bool submitted);
    bool write_properties(Bytes const& entry, std::optional<int64_t> recipient_row, PropertySet const& properties);
    bool upsert_properties(int64_t message, std::optional<int64_t> recipient_row, PropertySet const& properties);
    void publish_unread_count();
    bool fail();

    std::unique_ptr<SqliteDatabase> m_database;
    // Reading a message is the common path; its statement is prepared once.
    std::optional<SqliteStatement> m_read_message;
    // The messages of the last window of rows, read in bulk with the window: a scan of a folder
    // then reads each message from memory, as long as no process has written since. Every writer
    // counts its commits in a small shared file, which a reader checks without a system call.
    std::unique_ptr<SharedCounter> m_changes;
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
    void prefetch(int64_t folder, int64_t first_row, int64_t last_row);
    void changed();
    std::string m_error;
    Bytes m_tag;
    bool m_count_published { true };
    bool m_search_table { false };
    // Declared last, so it ends before the database closes.
    std::unique_ptr<SqliteTransaction> m_reading;
};

}
