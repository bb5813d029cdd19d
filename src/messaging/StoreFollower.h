#pragma once

#include "messaging/ChatCache.h"
#include "messaging/SmsManager.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace velloq {

// The store's side of keeping the chats in step with it: how far the chats took each folder, what
// is new in the store since, whether other programs deleted messages, and whether the store's
// unread messages moved away from the chats'. It reads; the chat model changes the chats and
// tells the lists.
//
// A folder's ids grow along it (a new message comes at its end with a larger id than any before),
// so what the chats took of a folder is its last id and its count then, not every id: the memory
// of a store of a million messages is that of four ids. The outbox, small and changing, is
// followed by its ids.
class StoreFollower final {
public:
    using Progress = std::function<void(double)>;
    // Ids per folder, indexed by `FolderKind`.
    using FolderIds = std::array<std::vector<EntryId>, 4>;
    enum class ReadOutcome { Filled, NoPeer, Failed };
    // How an update finds the store.
    enum class Reach { Unreachable, Answering, Reopened };

    StoreFollower();
    ~StoreFollower();
    StoreFollower(StoreFollower const&) = delete;
    StoreFollower& operator=(StoreFollower const&) = delete;

    SmsManager& sms() { return *m_sms; }
    SmsManager const& sms() const { return *m_sms; }

    // Whether the chats took the message: an id up to the folder's last one that was read (the
    // outbox: one of its ids known).
    bool knows(FolderKind, EntryId const&) const;
    void forget_all();
    // Whether the chats took anything of the store yet (a cache, or a first update).
    bool has_marks() const { return m_marked; }
    // Takes how far a cache's chats took each folder; its outbox ids are those of its chats.
    void know_cached(std::array<CachedFolder, 4> const&, std::vector<EntryId> outbox);
    // How far the chats took each folder, for the cache.
    std::array<CachedFolder, 4> marks() const;
    // The chats took the whole store as it is now (a first start from the store's index); the
    // outbox ids are those of the chats.
    bool mark_whole_store(std::vector<EntryId> outbox);
    // A message the user deleted is counted no longer (an outbox id leaves at the next poll).
    void forget(MessageRecord const&);

    // Adds a message to a batch, followed by a copy for each further recipient of one from the
    // user, so every recipient's chat has it.
    static void add_copies(MessageRecord&&, std::vector<MessageRecord>& batch);
    // Fills a record that holds only its id and folder from the store.
    ReadOutcome fill_record(MessageRecord&, bool with_texts = true);
    static void format_texts(MessageRecord&);
    // Whether a message of a chat is still there; see `ChatModel::validate_message`.
    bool still_stored(MessageRecord&);

    // The next update reads whole folders (the program may have missed anything).
    void set_full_scan() { m_full_scan = true; }
    bool full_scan() const { return m_full_scan; }
    // An update's start: the store is opened again when it failed or could not be had.
    Reach reach_store();
    // The update could not read the store: the next one opens it again.
    void mark_failed() { m_store_failed = true; }
    // The ids of Inbox, Sent Items and Drafts the chats do not hold; nullopt when the store could
    // not be read.
    std::optional<FolderIds> scan_folders(Progress const&);
    // The outbox's ids, sorted; nullopt when it cannot be counted.
    std::optional<std::vector<EntryId>> outbox_ids();
    bool knows_outbox() const { return !m_known_outbox.empty(); }
    // Whether the states of waiting messages may have changed since they were last read.
    bool send_states_due();
    // After the chats dropped the outbox messages gone from `outbox`: the ids new to the chats.
    // `held` (sorted) are the outbox ids the chats hold.
    std::vector<EntryId> settle_outbox(std::vector<EntryId> const& outbox, std::vector<EntryId> const& held);
    // Reads the fresh messages, copying a message for each further recipient; they become known.
    std::vector<MessageRecord> read_new(FolderIds const& fresh, Progress const&, bool with_texts);

    // Whether other programs deleted messages of Inbox, Sent Items or Drafts since the last look
    // (a folder holds fewer than it held plus what was new); false while the store is unchanged.
    bool take_deletions();

    // The unread count every writer keeps, when it changed since the last look; nullopt otherwise.
    std::optional<int32_t> unread_count_if_changed();
    // The store's unread ids, sorted.
    std::optional<std::vector<EntryId>> sorted_unread_ids();

private:
    using IdSet = std::vector<EntryId>;
    struct FolderMark {
        EntryId last;
        int32_t counted { 0 };
        // Ids up to `last` that could not be read: tried again at every update.
        IdSet retry;
    };
    FolderMark& mark(FolderKind kind) { return m_marks[static_cast<size_t>(kind)]; }
    FolderMark const& mark(FolderKind kind) const { return m_marks[static_cast<size_t>(kind)]; }
    void reload_sms(char16_t const* reason);
    std::optional<std::vector<EntryId>> scan_folder(FolderKind);
    void take_scanned(FolderKind, std::vector<EntryId> const& fresh, int32_t length);
    bool worth_one_pass(size_t fresh_messages);
    FolderIds read_in_one_pass(FolderIds const& fresh, std::vector<MessageRecord>& batch, bool with_texts);
    void read_one_by_one(FolderIds const& left, std::vector<MessageRecord>& batch, Progress const&, size_t total, bool with_texts);
    void note_read(FolderKind, std::vector<EntryId> const& read, std::vector<EntryId> const& asked);

    std::unique_ptr<SmsManager> m_sms;
    std::array<FolderMark, 3> m_marks;
    IdSet m_known_outbox;
    bool m_marked { false };
    // Messages found deleted by the last scan (a folder held fewer than it should).
    bool m_deletions_seen { false };
    bool m_full_scan { true };
    bool m_store_failed { false };
    bool m_reloaded_for_read { false };
    bool m_reloaded_for_outbox { false };
    // The store's change count when the waiting messages' states were last read.
    std::optional<uint64_t> m_states_read_at;
    int32_t m_followed_count { -1 };
};

}
