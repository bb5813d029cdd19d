#pragma once

#include "messaging/MessageRecord.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velloq {

// One chat as the cache file keeps it: no texts and no times, only what the chat model needs to
// find its messages in the store again (version 1: all of them; version 2: its newest).
struct CachedChat {
    std::u16string name;
    std::u16string address;
    std::u16string key; // set by the loader: the chat key of the address and the name
    int32_t unread { 0 };
    // Version 2: whether the name is a contact's, one byte after the unread count.
    bool named_by_contact { false };
    struct Message {
        FolderKind folder { FolderKind::Incoming };
        EntryId id;
    };
    std::vector<Message> messages;
};

// Version 2 holds how far the chats took each folder of the store and, per chat, only its newest
// messages (the rest are found by the store's index of chats). A reader of version 1 refuses it.
// Version 3 has version 2's layout; it is new because a version-2 cache may hold an MMS of a group
// in its sender's chat, so one is not believed and the chats are made from the store.
constexpr int32_t chat_cache_version = 3;
constexpr int32_t most_cached_messages_per_chat = 20000;

// How far the chats took a folder: the ids grow along a folder, so every id up to `last` was
// seen; `counted` is how many messages the folder held then (fewer later: some were deleted), and
// `retry` the ones up to `last` that could not be read, to be tried again.
struct CachedFolder {
    EntryId last;
    int32_t counted { 0 };
    std::vector<EntryId> retry;
};

struct ChatCacheFile {
    int32_t version { chat_cache_version };
    // By `FolderKind`; none in a version 1 file.
    std::array<CachedFolder, 4> folders;
    std::vector<CachedChat> chats;
};

// The bytes of the cache file: the version, then (version 2) the four folders, each its last id
// (a 2-byte length, 0 for none, and the bytes), the count (4 bytes) and the ids to retry (a
// 4-byte count, then each as a length and bytes), then a block per chat that has at least one
// message with an id (a message without an id is neither written nor counted, and a chat left
// with none is not written, since a count of 0 would make the whole file unloadable).
std::vector<uint8_t> encode_chat_cache(ChatCacheFile const& file);

// Reads the bytes back, of version 1 or 2; nullopt when any field is malformed (another version,
// a count outside 1 to 20000, a folder outside 0 to 3, an id or a string that runs past the end,
// a chat without a key). A bad count is logged as "load_cache counter:" with the value.
std::optional<ChatCacheFile> decode_chat_cache(std::vector<uint8_t> bytes);

// The string length as the file writes it: one byte below 128, else a marker and 2 to 4 bytes.
void append_string_length(std::vector<uint8_t>& out, uint32_t length);

// Writes the cache file through a temporary file in the same folder that replaces the old file
// only once it is complete and flushed, so a failed or interrupted save never loses a good cache.
// An empty chat list deletes the file. Logs "save_cache:" and, on success, "save_cache success:".
bool save_chat_cache(std::u16string const& path, ChatCacheFile const& file);

// Loads the file; nullopt when it is missing or malformed. Logs "load_cache success:" with the
// number of chats and the time it took.
std::optional<ChatCacheFile> load_chat_cache(std::u16string const& path);
// Whether the file at `path` is a chat cache (a regular file, not a link, that reads as one).
bool is_chat_cache_file(std::string const& path);

}
