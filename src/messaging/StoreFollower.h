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

// The store's side of keeping the chats in step with it: which messages the chats already hold
// (by id, per folder), what is new in the store since, what other programs deleted, and whether
// the store's unread messages moved away from the chats'. It reads; the chat model changes the
// chats and tells the lists.
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

    // The ids the chats hold.
    bool knows(FolderKind, EntryId const&) const;
    void forget_all();
    // Takes the ids of a cache; false (and nothing known) when a message stands in two places.
    bool know_cached(std::vector<CachedChat> const&);
    // A message the user deleted is known no longer (an outbox id leaves at the next poll).
    void forget(MessageRecord const&);

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
    bool knows_outbox() const { return !m_known[static_cast<size_t>(FolderKind::Outbox)].empty(); }
    // Whether the states of waiting messages may have changed since they were last read.
    bool send_states_due();
    // After the chats dropped the outbox messages gone from `outbox`: the ids new to the chats.
    // `held` (sorted) are the outbox ids the chats hold.
    std::vector<EntryId> settle_outbox(std::vector<EntryId> const& outbox, std::vector<EntryId> const& held);
    // Reads the fresh messages, copying a message for each further recipient; they become known.
    std::vector<MessageRecord> read_new(FolderIds const& fresh, Progress const&, bool with_texts);

    // The messages other programs deleted since the last look, sorted; empty while the store is
    // unchanged.
    std::vector<EntryId> take_deleted();
    // The unread count every writer keeps, when it changed since the last look; nullopt otherwise.
    std::optional<int32_t> unread_count_if_changed();
    // The store's unread ids, sorted.
    std::optional<std::vector<EntryId>> sorted_unread_ids();

private:
    using IdSet = std::vector<EntryId>;
    IdSet& known(FolderKind kind) { return m_known[static_cast<size_t>(kind)]; }
    IdSet const& known(FolderKind kind) const { return m_known[static_cast<size_t>(kind)]; }
    static void add_known(IdSet&, std::vector<EntryId> const&);
    void reload_sms(char16_t const* reason);
    std::optional<std::vector<EntryId>> scan_folder(FolderKind);
    bool worth_one_pass(size_t fresh_messages);
    FolderIds read_in_one_pass(FolderIds const& fresh, std::vector<MessageRecord>& batch, bool with_texts);
    void read_one_by_one(FolderIds const& left, std::vector<MessageRecord>& batch, Progress const&, size_t total, bool with_texts);
    static void add_to_batch(MessageRecord&&, std::vector<MessageRecord>& batch);
    std::vector<EntryId> take_gone_ids(FolderKind);

    std::unique_ptr<SmsManager> m_sms;
    std::array<IdSet, 4> m_known;
    bool m_full_scan { true };
    bool m_store_failed { false };
    bool m_reloaded_for_read { false };
    bool m_reloaded_for_outbox { false };
    // The store's change count when the waiting messages' states were last read.
    std::optional<uint64_t> m_states_read_at;
    // The store's change count when deletions were last looked for.
    std::optional<uint64_t> m_deletions_checked_at;
    int32_t m_followed_count { -1 };
};

}
