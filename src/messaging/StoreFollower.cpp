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
    if (kind == FolderKind::Outbox)
        return std::binary_search(m_known_outbox.begin(), m_known_outbox.end(), id);
    FolderMark const& folder = mark(kind);
    return !id.is_empty() && !folder.last.is_empty() && !(folder.last < id) && std::find(folder.retry.begin(), folder.retry.end(), id) == folder.retry.end();
}

void StoreFollower::forget_all()
{
    m_marks = {};
    m_known_outbox.clear();
    m_marked = false;
    m_deletions_seen = false;
}

void StoreFollower::know_cached(std::array<CachedFolder, 4> const& folders, std::vector<EntryId> outbox)
{
    forget_all();
    for (FolderKind kind : { FolderKind::Incoming, FolderKind::Sent, FolderKind::Drafts }) {
        CachedFolder const& cached = folders[index_of(kind)];
        mark(kind) = { cached.last, cached.counted, cached.retry };
    }
    sort_entry_ids(outbox);
    m_known_outbox = std::move(outbox);
    m_marked = true;
}

std::array<CachedFolder, 4> StoreFollower::marks() const
{
    std::array<CachedFolder, 4> folders;
    for (FolderKind kind : { FolderKind::Incoming, FolderKind::Sent, FolderKind::Drafts })
        folders[index_of(kind)] = { mark(kind).last, mark(kind).counted, mark(kind).retry };
    return folders;
}

bool StoreFollower::mark_whole_store(std::vector<EntryId> outbox)
{
    forget_all();
    for (FolderKind kind : { FolderKind::Incoming, FolderKind::Sent, FolderKind::Drafts }) {
        auto length = m_sms->length_of(kind);
        if (!length)
            return false;
        FolderMark& folder = mark(kind);
        folder.counted = *length;
        folder.last = *length > 0 ? m_sms->get_id(kind, *length - 1) : EntryId();
        if (*length > 0 && folder.last.is_empty())
            return false;
    }
    sort_entry_ids(outbox);
    m_known_outbox = std::move(outbox);
    m_marked = true;
    m_full_scan = false;
    return true;
}

void StoreFollower::forget(MessageRecord const& record)
{
    if (record.folder == FolderKind::Outbox || !knows(record.folder, record.id))
        return;
    FolderMark& folder = mark(record.folder);
    folder.counted = std::max(0, folder.counted - 1);
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

// The ids new to the chats: those past the folder's last one, found in windows of ten rows from
// its end as long as a window held one, and those to read again.
std::optional<std::vector<EntryId>> StoreFollower::scan_folder(FolderKind kind)
{
    auto counted = m_sms->length_of(kind);
    if (!counted)
        return std::nullopt;
    FolderMark const& folder = mark(kind);
    std::vector<EntryId> fresh;
    for (int32_t end = *counted; end > 0;) {
        int32_t start = std::max(0, end - scan_window);
        bool found = false;
        for (int32_t index = start; index < end; ++index) {
            EntryId id = m_sms->get_id(kind, index);
            if (!id.is_empty() && (folder.last.is_empty() || folder.last < id)) {
                fresh.push_back(id);
                found = true;
            }
        }
        if (!found)
            break;
        end = start;
    }
    sort_entry_ids(fresh);
    take_scanned(kind, fresh, *counted);
    fresh.insert(fresh.end(), folder.retry.begin(), folder.retry.end());
    return fresh;
}

// A folder that holds fewer messages than it held plus the new ones lost some.
void StoreFollower::take_scanned(FolderKind kind, std::vector<EntryId> const& fresh, int32_t length)
{
    FolderMark& folder = mark(kind);
    if (length < folder.counted + static_cast<int32_t>(fresh.size()))
        m_deletions_seen = true;
    folder.counted = length;
    if (!fresh.empty())
        folder.last = fresh.back();
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
    IdSet& known_outbox = m_known_outbox;
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
                add_copies(std::move(record), batch);
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
        note_read(kind, read, left[index_of(kind)]);
    }
}

// What was read is known; what could not be read is tried again at the next update.
void StoreFollower::note_read(FolderKind kind, std::vector<EntryId> const& read, std::vector<EntryId> const& asked)
{
    IdSet done = read;
    sort_entry_ids(done);
    auto is_done = [&](EntryId const& id) { return std::binary_search(done.begin(), done.end(), id); };
    if (kind == FolderKind::Outbox) {
        m_known_outbox.insert(m_known_outbox.end(), done.begin(), done.end());
        sort_entry_ids(m_known_outbox);
        m_known_outbox.erase(std::unique(m_known_outbox.begin(), m_known_outbox.end()), m_known_outbox.end());
        return;
    }
    IdSet& retry = mark(kind).retry;
    std::erase_if(retry, is_done);
    for (auto const& id : asked) {
        if (!is_done(id) && std::find(retry.begin(), retry.end(), id) == retry.end())
            retry.push_back(id);
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
        add_copies(std::move(record), batch);
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
        note_read(kind, done, done);
    }
    return left;
}

void StoreFollower::add_copies(MessageRecord&& record, std::vector<MessageRecord>& batch)
{
    size_t recipients = record.recipients.size();
    size_t first = batch.size();
    batch.push_back(std::move(record));
    if (batch[first].folder == FolderKind::Incoming || recipients <= 1 || batch[first].in_group())
        return;
    log() << u" recipients:" << static_cast<uint64_t>(recipients);
    for (size_t extra = 1; extra < recipients; ++extra) {
        MessageRecord copy = batch[first];
        copy.recipients = { batch[first].recipients[extra] };
        copy.recipient_states = { batch[first].recipient_states.size() > extra ? batch[first].recipient_states[extra] : batch[first].send_state() };
        batch.push_back(std::move(copy));
    }
}

bool StoreFollower::take_deletions()
{
    return std::exchange(m_deletions_seen, false);
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
