#pragma once

#include "messaging/MessageRecord.h"
#include "platform/MessageStore.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace velloq {

// The one object that talks to the device's message store: it finds the SMS store and its five
// folders, counts and lists a folder's rows (in windows of 1000 cached rows), reads a message into
// a MessageRecord, marks it read, deletes it and submits new ones. It never throws: every failure
// is one log line and a false, 0 or empty result.
class SmsManager {
public:
    static constexpr int32_t window_rows = 1000;

    SmsManager();
    ~SmsManager();
    SmsManager(SmsManager const&) = delete;
    SmsManager& operator=(SmsManager const&) = delete;

    int32_t get_length(FolderKind);
    EntryId get_id(FolderKind, int32_t index);
    bool read_sms(EntryId const&, MessageRecord&);
    // Every message of the folders named, in one pass over the store (a first start reads them
    // all); false when the store could not be read to its end.
    bool read_folders(std::vector<FolderKind> const&, std::function<void(MessageRecord&&)> const& take);
    // The reads between these two share one read transaction of the store.
    void begin_reading();
    void end_reading();
    bool set_sms_read(EntryId const&, bool read);
    // Marks many messages read in one store transaction, which changes the unread count once.
    bool mark_read(std::vector<EntryId> const&);
    bool delete_message(FolderKind, MessageRecord const&);
    bool send(std::vector<Correspondent> const& recipients, std::u16string const& text);
    // Puts an MMS (its text and parts, each part a whole file) to all `recipients` into the outbox,
    // for the phone's MMS service to send as one message.
    bool send_mms(std::vector<Correspondent> const& recipients, std::u16string const& text, std::vector<MessagePart> const& parts);
    // Sends an outbox message again, as it is: its recipients that it did not reach are on their
    // way once more (the next transmission takes them). False for a message not in the outbox.
    bool retry(MessageRecord& record);
    // Keeps unsent text for one correspondent in the Drafts folder.
    bool save_draft(Correspondent const& recipient, std::u16string const& text);

    bool has_store() const { return m_store_entry.has_value(); }
    // Why the store could not be had (empty when it could).
    std::string const& open_error() const { return m_open_error; }
    // The open store, for what reads it beyond messages (the search index); null without one.
    platform::MessageStore* store() { return m_session.get(); }
    // Moves whenever any process writes the store; nullopt when it cannot be followed.
    std::optional<uint64_t> change_count() const { return m_session ? m_session->change_count() : std::nullopt; }
    // The folder's length, or nullopt when the store could not tell (not "no messages").
    std::optional<int32_t> length_of(FolderKind);
    // Whether the store answers now: a read that fails while it does means the message is gone.
    bool store_answers();
    // The ids of the inbox's unread messages, whoever read or deleted the others.
    std::optional<std::vector<EntryId>> unread_ids();
    // Whether an id was made by this store (it may have been deleted since); false without a store.
    bool owns_id(EntryId const&) const;
    // The store's index of chats (each answer one indexed query). Its messages come as records
    // that hold their id, folder, time and whether they wait to be read, oldest first.
    struct IndexedChat {
        std::u16string key;
        MessageRecord newest;
        int32_t unread { 0 };
    };
    std::optional<std::vector<IndexedChat>> indexed_chats();
    std::optional<IndexedChat> indexed_chat(std::u16string const& key);
    // Up to `limit` of the chat's messages before `before` (an empty id: from its newest on).
    std::optional<std::vector<MessageRecord>> chat_messages(std::u16string const& key, EntryId const& before, size_t limit);
    // The chat's messages from the one with `from` on; empty when it is not one of the chat's.
    std::optional<std::vector<MessageRecord>> chat_messages_from(std::u16string const& key, EntryId const& from);
    std::optional<int64_t> chat_message_count(std::u16string const& key);
    std::optional<std::vector<EntryId>> chat_unread_ids(std::u16string const& key);
    std::optional<std::vector<std::pair<std::u16string, int32_t>>> chat_unread_counts();
    // The chat's newest message in the drafts folder.
    std::optional<MessageRecord> newest_draft(std::u16string const& key);
    // The delivery reports in the inbox filed unread.
    std::optional<std::vector<EntryId>> unread_report_ids();
    // The newest message that waits to be read, and its chat's key.
    std::optional<std::pair<std::u16string, EntryId>> newest_unread();
    // Whether the store holds the message; nullopt when it cannot tell.
    std::optional<bool> holds(EntryId const&);
    // The folder that holds the message; nullopt when none does or the store cannot tell.
    std::optional<FolderKind> folder_of(EntryId const&);

    // How many windows of rows were fetched from the store (each one a table query).
    int32_t window_queries() const { return m_window_queries; }

private:
    bool submit(std::vector<Correspondent> const& recipients, std::u16string const& text, platform::StoredMessage message);
    struct StoreFolder {
        std::optional<platform::Bytes> entry;
        std::vector<platform::Bytes> rows;
        int32_t first { -1 };
        // The store's change count when the rows were listed: a write since (a delete and a new
        // message leave the count of rows as it was) lists them again.
        std::optional<uint64_t> version;
    };
    StoreFolder* folder(FolderKind);
    bool take_message(platform::StoredMessage&&, MessageRecord&);
    bool read_sender_or_recipients(platform::StoredMessage const&, MessageRecord&);

    std::unique_ptr<platform::MessageStore> m_session;
    std::string m_open_error;
    std::optional<platform::Bytes> m_store_entry;
    // Inbox, sent items, drafts, outbox and the root of the folder tree.
    std::array<StoreFolder, 5> m_folders;
    int32_t m_window_queries { 0 };
};

}
