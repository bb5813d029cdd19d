#pragma once

#include "platform/ChatKeys.h"
#include "platform/MessageTypes.h"
#include "platform/SqliteDatabase.h"
#include "platform/StorePart.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velloq::platform {

class MessageTables;

// Every writer files each message it writes under the keys of its chats (`file_in_chats`); the
// store's schema makes the index and its triggers. Files every message of the store in its chats: the step that brings an older store up.
ChatFolder chat_folder(int64_t folder, int64_t inbox, int64_t drafts);
bool file_every_message_in_chats(SqliteDatabase&);
// The statement `file_in_chats` uses, prepared once by the writer.
extern char const* const chat_place_insert_sql;
bool file_in_chats(SqliteStatement& insert, int64_t message, ChatFolder, StoredMessage const&);

// Where a message stands among its chat's: by time, then by row.
struct ChatPosition {
    int64_t time { 0 };
    int64_t message { 0 };
};

struct IndexedMessage {
    Bytes entry;
    // The tag of its folder (Tag::InboxEntryId ...).
    uint32_t folder { 0 };
    ChatPosition position;
    bool awaits_reading { false };
};

struct IndexedChat {
    std::u16string key;
    IndexedMessage newest;
    int64_t unread { 0 };
};

// What the chat index answers: the chats with their newest message and unread count, a chat's
// messages a page at a time, newest first, and its unread ones. Each answer is one indexed query
// and costs what it returns, not the size of the store.
class ChatIndex : StorePart {
public:
    static StoreResult<std::unique_ptr<ChatIndex>> open(MessageTables&);

    StoreResult<std::vector<IndexedChat>> chats();
    StoreResult<std::optional<IndexedChat>> chat(std::u16string const& key);
    // Up to `limit` messages of the chat before `before` (from its newest without it), newest first.
    StoreResult<std::vector<IndexedMessage>> messages(std::u16string const& key, std::optional<ChatPosition> before, int64_t limit);
    // The chat's messages from `from` on, oldest first.
    StoreResult<std::vector<IndexedMessage>> messages_from(std::u16string const& key, ChatPosition from);
    StoreResult<std::optional<ChatPosition>> position_of(Bytes const& entry);
    StoreResult<int64_t> count(std::u16string const& key);
    StoreResult<std::vector<Bytes>> unread(std::u16string const& key);
    // The number of messages that wait to be read in each chat that has any.
    StoreResult<std::vector<std::pair<std::u16string, int64_t>>> unread_counts();
    // The chat's newest message in the drafts folder.
    StoreResult<std::optional<IndexedMessage>> newest_draft(std::u16string const& key);
    // The delivery reports in the inbox that are filed unread.
    StoreResult<std::vector<Bytes>> unread_reports();
    // The newest message that waits to be read, with its chat's key.
    StoreResult<std::optional<std::pair<std::u16string, Bytes>>> newest_unread();

private:
    template<typename Part, typename... Extra>
    friend StoreResult<std::unique_ptr<Part>> open_store_part(SqliteDatabase&, std::span<char const* const>, MessageTables&, Extra&&...);
    ChatIndex(MessageTables&, StatementSet);
    StoreResult<std::vector<IndexedMessage>> take_messages(SqliteStatement&);
    StoreResult<std::vector<Bytes>> take_entries(SqliteStatement&);
    IndexedMessage indexed_message(SqliteStatement const&, int first_column) const;
};

}
