#include "messaging/StoreFollower.h"

#include "messaging/DateFormat.h"
#include "shell/Log.h"
#include "shell/Registry.h"

#include <algorithm>
#include <iterator>

namespace velloq {

namespace {

constexpr int32_t scan_window = 10;
constexpr std::array<FolderKind, 4> folders { FolderKind::Incoming, FolderKind::Sent, FolderKind::Drafts, FolderKind::Outbox };

size_t index_of(FolderKind kind)
{
    return static_cast<size_t>(kind);
}

}

StoreFollower::StoreFollower()
    : m_sms(std::make_unique<SmsManager>())
{
}

StoreFollower::~StoreFollower() = default;

bool StoreFollower::knows(FolderKind kind, EntryId const& id) const
{
    IdSet const& set = known(kind);
    return std::binary_search(set.begin(), set.end(), id);
}

void StoreFollower::add_known(IdSet& set, std::vector<EntryId> const& ids)
{
    set.insert(set.end(), ids.begin(), ids.end());
    sort_entry_ids(set);
    set.erase(std::unique(set.begin(), set.end()), set.end());
}

void StoreFollower::forget_all()
{
    for (auto& set : m_known)
        set.clear();
}

bool StoreFollower::know_cached(std::vector<CachedChat> const& cached)
{
    forget_all();
    std::array<size_t, 4> per_folder {};
    for (auto const& entry : cached)
        for (auto const& message : entry.messages)
            ++per_folder[index_of(message.folder)];
    for (size_t folder = 0; folder < per_folder.size(); ++folder)
        m_known[folder].reserve(per_folder[folder]);
    for (auto const& entry : cached)
        for (auto const& message : entry.messages)
            known(message.folder).push_back(message.id);
    // The known sets are sorted anyway: a message that stands in two places shows here.
    for (auto& set : m_known) {
        sort_entry_ids(set);
        if (std::adjacent_find(set.begin(), set.end()) != set.end()) {
            log() << u"load_cache: a message in two places\n";
            forget_all();
            return false;
        }
    }
    return true;
}

void StoreFollower::forget(MessageRecord const& record)
{
    if (record.folder == FolderKind::Outbox)
        return;
    IdSet& set = known(record.folder);
    auto found = std::lower_bound(set.begin(), set.end(), record.id);
    if (found != set.end() && *found == record.id)
        set.erase(found);
}

void StoreFollower::reload_sms(char16_t const* reason)
{
    m_sms = std::make_unique<SmsManager>();
    log() << reason;
}

StoreFollower::ReadOutcome StoreFollower::fill_record(MessageRecord& record, bool with_texts)
{
    if (record.id.is_empty())
        return ReadOutcome::Failed;
    Correspondent peer = record.peer();
    if (!peer.name.empty() || !peer.address.empty())
        return ReadOutcome::Filled;
    FolderKind folder = record.folder;
    if (!m_sms->read_sms(record.id, record))
        return ReadOutcome::Failed;
    record.folder = folder;
    peer = record.peer();
    if (peer.name.empty() && peer.address.empty())
        return ReadOutcome::NoPeer;
    if (with_texts)
        format_texts(record);
    return ReadOutcome::Filled;
}

void StoreFollower::format_texts(MessageRecord& record)
{
    record.date_text = date_text(record.time);
    record.time_text = time_text(record.time);
}

bool StoreFollower::still_stored(MessageRecord& record)
{
    if (record.id.is_empty() || !knows(record.folder, record.id))
        return false;
    Correspondent peer = record.peer();
    // An outbox message that is gone may be on its way to Sent Items under a new id: it shows as
    // it was read until the next poll puts the moved one in its place (or takes it away).
    if (record.folder == FolderKind::Outbox && (!peer.name.empty() || !peer.address.empty()))
        return true;
    if (peer.name.empty() && peer.address.empty())
        return fill_record(record) == ReadOutcome::Filled || !m_sms->store_answers();
    MessageRecord probe;
    // A store that cannot be read now says nothing about the message: it stays.
    return m_sms->read_sms(record.id, probe) || !m_sms->store_answers();
}

// A store that could not be opened (locked, read-only, missing) or failed the last update is
// opened again at every update until it answers. A store that works costs the poll nothing here.
StoreFollower::Reach StoreFollower::reach_store()
{
    m_reloaded_for_read = false;
    m_reloaded_for_outbox = false;
    if (m_sms->has_store() && !m_store_failed)
        return Reach::Answering;
    m_store_failed = false;
    reload_sms(u"update_chats: the store does not answer; opened again\n");
    return m_sms->store_answers() ? Reach::Reopened : Reach::Unreachable;
}

std::optional<std::vector<EntryId>> StoreFollower::scan_folder(FolderKind kind)
{
    std::vector<EntryId> fresh;
    auto counted = m_sms->length_of(kind);
    if (!counted)
        return std::nullopt;
    int32_t length = *counted;
    auto take = [&](int32_t index) {
        EntryId id = m_sms->get_id(kind, index);
        if (!id.is_empty() && !knows(kind, id)) {
            fresh.push_back(id);
            return true;
        }
        return false;
    };
    if (m_full_scan) {
        for (int32_t index = 0; index < length; ++index)
            take(index);
        return fresh;
    }
    // Windows of ten rows from the end, as long as the last window held something new.
    for (int32_t end = length; end > 0;) {
        int32_t start = std::max(0, end - scan_window);
        bool found = false;
        for (int32_t index = start; index < end; ++index)
            found |= take(index);
        if (!found)
            break;
        end = start;
    }
    return fresh;
}

std::optional<StoreFollower::FolderIds> StoreFollower::scan_folders(Progress const& progress)
{
    FolderIds fresh;
    for (FolderKind kind : { FolderKind::Incoming, FolderKind::Sent, FolderKind::Drafts }) {
        auto scanned = scan_folder(kind);
        if (!scanned)
            return std::nullopt;
        fresh[index_of(kind)] = std::move(*scanned);
        if (progress)
            progress(double(index_of(kind)) / 15.0);
    }
    m_full_scan = false;
    return fresh;
}

std::optional<std::vector<EntryId>> StoreFollower::outbox_ids()
{
    auto counted = m_sms->length_of(FolderKind::Outbox);
    if (!counted)
        return std::nullopt;
    std::vector<EntryId> outbox;
    for (int32_t index = 0; index < *counted; ++index) {
        EntryId id = m_sms->get_id(FolderKind::Outbox, index);
        if (!id.is_empty())
            outbox.push_back(id);
    }
    std::sort(outbox.begin(), outbox.end());
    return outbox;
}

// A state only changes with a write to the store.
bool StoreFollower::send_states_due()
{
    std::optional<uint64_t> version = m_sms->change_count();
    bool due = !version || version != m_states_read_at;
    m_states_read_at = version;
    return due;
}

std::vector<EntryId> StoreFollower::settle_outbox(std::vector<EntryId> const& outbox, std::vector<EntryId> const& held)
{
    IdSet& known_outbox = known(FolderKind::Outbox);
    std::vector<EntryId> fresh;
    for (auto const& id : outbox) {
        if (!knows(FolderKind::Outbox, id)) {
            fresh.push_back(id);
        } else if (!std::binary_search(held.begin(), held.end(), id) && !m_reloaded_for_outbox) {
            m_reloaded_for_outbox = true;
            reload_sms(u" sms_manager reloaded because outbox failed\n");
        }
    }
    // An id that left the outbox never comes back (ids are not reused): it is known no longer.
    IdSet still_waiting;
    std::set_intersection(known_outbox.begin(), known_outbox.end(), outbox.begin(), outbox.end(), std::back_inserter(still_waiting));
    known_outbox = std::move(still_waiting);
    return fresh;
}

std::vector<MessageRecord> StoreFollower::read_new(FolderIds const& fresh, Progress const& progress, bool with_texts)
{
    std::vector<MessageRecord> batch;
    size_t total = 0;
    for (auto const& ids : fresh)
        total += ids.size();
    batch.reserve(total);
    // What the one pass did not give (nothing, unless it failed) is read message by message.
    auto left = worth_one_pass(total) ? read_in_one_pass(fresh, batch, with_texts) : fresh;
    read_one_by_one(left, batch, progress, total, with_texts);
    return batch;
}

void StoreFollower::read_one_by_one(FolderIds const& left, std::vector<MessageRecord>& batch, Progress const& progress, size_t total, bool with_texts)
{
    size_t processed = total;
    for (auto const& ids : left)
        processed -= ids.size();
    for (FolderKind kind : folders) {
        std::vector<EntryId> read;
        for (auto const& id : left[index_of(kind)]) {
            MessageRecord record;
            record.id = id;
            record.folder = kind;
            ReadOutcome outcome = fill_record(record, with_texts);
            // A message without anyone to talk to (a draft without recipients) is read, but
            // belongs to no chat; it is not a failure that a new store session could mend.
            if (outcome != ReadOutcome::Failed)
                read.push_back(id);
            if (outcome == ReadOutcome::Filled) {
                add_to_batch(std::move(record), batch);
            } else if (outcome == ReadOutcome::Failed) {
                log() << u" can't read" << static_cast<int32_t>(kind);
                if (!m_reloaded_for_read) {
                    m_reloaded_for_read = true;
                    reload_sms(u" sms_manager reloaded\n");
                }
            }
            ++processed;
            if (progress && total > 0)
                progress(0.2 + 0.6 * double(processed) / double(total));
        }
        add_known(known(kind), read);
    }
}

// A pass reads every message of the folders, a lookup only the one wanted, at more than twice
// the cost: the pass pays once half the store is new (a first start, a store filled by another
// program).
bool StoreFollower::worth_one_pass(size_t fresh_messages)
{
    if (fresh_messages < 1000)
        return false;
    size_t stored = 0;
    for (FolderKind kind : folders)
        stored += static_cast<size_t>(std::max(0, m_sms->length_of(kind).value_or(0)));
    return fresh_messages * 2 >= stored;
}

// A first start reads (nearly) the whole store: one ordered pass over it costs a fraction of a
// lookup per message. Returns the fresh ids the pass did not give.
StoreFollower::FolderIds StoreFollower::read_in_one_pass(FolderIds const& fresh, std::vector<MessageRecord>& batch, bool with_texts)
{
    FolderIds wanted = fresh;
    FolderIds read;
    std::vector<FolderKind> kinds;
    for (FolderKind kind : folders) {
        sort_entry_ids(wanted[index_of(kind)]);
        if (!wanted[index_of(kind)].empty())
            kinds.push_back(kind);
    }
    size_t batch_size = batch.size();
    bool whole = m_sms->read_folders(kinds, [&](MessageRecord&& record) {
        auto const& ids = wanted[index_of(record.folder)];
        if (!std::binary_search(ids.begin(), ids.end(), record.id))
            return;
        read[index_of(record.folder)].push_back(record.id);
        Correspondent peer = record.peer();
        if (peer.name.empty() && peer.address.empty())
            return;
        if (with_texts)
            format_texts(record);
        add_to_batch(std::move(record), batch);
    });
    if (!whole) {
        log() << u" one pass failed";
        batch.resize(batch_size);
        return fresh;
    }
    FolderIds left;
    for (FolderKind kind : folders) {
        auto& done = read[index_of(kind)];
        sort_entry_ids(done);
        auto const& ids = wanted[index_of(kind)];
        std::set_difference(ids.begin(), ids.end(), done.begin(), done.end(), std::back_inserter(left[index_of(kind)]));
        add_known(known(kind), done);
    }
    return left;
}

// Each further recipient of a message from the user gets a copy of its own, so every
// recipient's chat has it.
void StoreFollower::add_to_batch(MessageRecord&& record, std::vector<MessageRecord>& batch)
{
    size_t recipients = record.recipients.size();
    size_t first = batch.size();
    batch.push_back(std::move(record));
    if (batch[first].folder == FolderKind::Incoming || recipients <= 1)
        return;
    log() << u" recipients:" << static_cast<uint64_t>(recipients);
    for (size_t extra = 1; extra < recipients; ++extra) {
        MessageRecord copy = batch[first];
        copy.recipients = { batch[first].recipients[extra] };
        copy.recipient_states = { batch[first].recipient_states.size() > extra ? batch[first].recipient_states[extra] : batch[first].send_state() };
        batch.push_back(std::move(copy));
    }
}

// Other programs delete messages too. Ids are never reused and the chats know every id they
// read, so a folder holding fewer messages than are known lost some: only then is it listed
// whole. Nothing is looked at while the store is unchanged.
std::vector<EntryId> StoreFollower::take_deleted()
{
    std::optional<uint64_t> version = m_sms->change_count();
    if (version && version == m_deletions_checked_at)
        return {};
    std::vector<EntryId> gone;
    for (FolderKind kind : { FolderKind::Incoming, FolderKind::Sent, FolderKind::Drafts }) {
        auto lost = take_gone_ids(kind);
        gone.insert(gone.end(), lost.begin(), lost.end());
    }
    m_deletions_checked_at = version;
    sort_entry_ids(gone);
    return gone;
}

std::vector<EntryId> StoreFollower::take_gone_ids(FolderKind kind)
{
    IdSet& known_ids = known(kind);
    auto length = m_sms->length_of(kind);
    if (!length || static_cast<size_t>(*length) >= known_ids.size())
        return {};
    std::vector<EntryId> present;
    present.reserve(static_cast<size_t>(*length));
    for (int32_t index = 0; index < *length; ++index)
        present.push_back(m_sms->get_id(kind, index));
    sort_entry_ids(present);
    std::vector<EntryId> gone;
    IdSet kept;
    std::set_difference(known_ids.begin(), known_ids.end(), present.begin(), present.end(), std::back_inserter(gone));
    std::set_intersection(known_ids.begin(), known_ids.end(), present.begin(), present.end(), std::back_inserter(kept));
    known_ids = std::move(kept);
    return gone;
}

// Other processes read and delete messages too: the registry's Count, which every writer keeps,
// tells when the store's unread messages may have moved away from the chats'. Once per change of
// Count, so a lasting difference (an unread message that is in no chat) costs nothing at later
// polls.
std::optional<int32_t> StoreFollower::unread_count_if_changed()
{
    int32_t count = 0;
    if (!reg_get_int(registry_key::unread_messages, u"Count", count) || count == m_followed_count)
        return std::nullopt;
    m_followed_count = count;
    return count;
}

std::optional<std::vector<EntryId>> StoreFollower::sorted_unread_ids()
{
    auto unread = m_sms->unread_ids();
    if (unread)
        std::sort(unread->begin(), unread->end());
    return unread;
}

}
