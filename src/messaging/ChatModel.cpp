#include "messaging/ChatModel.h"
#include "platform/Utf.h"

#include "messaging/ChatCache.h"
#include "messaging/MessageSearch.h"
#include "messaging/DateFormat.h"
#include "platform/Folders.h"
#include "shell/Log.h"
#include "shell/Paths.h"
#include "shell/Registry.h"
#include "shell/StateNotification.h"
#include "shell/Stopwatch.h"

#include <algorithm>
#include <iterator>
#include <unordered_map>

namespace velloq {

namespace {

constexpr char16_t const* velloq_key = u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq";
constexpr char16_t const* unread_count_key = u"HKEY_CURRENT_USER\\System\\State\\Messages\\SMS\\Unread";
constexpr int32_t scan_window = 10;
constexpr std::array<FolderKind, 4> folders { FolderKind::Incoming, FolderKind::Sent, FolderKind::Drafts, FolderKind::Outbox };

// The options with the device folder's places where they name none.
ChatModel::Options with_folders(ChatModel::Options options)
{
    if (options.contacts_folder.empty())
        options.contacts_folder = platform::device_folder() + "/contacts";
    if (options.cache_path.empty())
        options.cache_path = to_utf16(platform::device_folder()) + u"/cache";
    return options;
}

size_t index_of(FolderKind kind)
{
    return static_cast<size_t>(kind);
}

}

ChatModel::ChatModel()
    : ChatModel(Options {})
{
}

ChatModel::ChatModel(Options options)
    : m_options(with_folders(std::move(options)))
    , m_naming(*this, m_options.contacts_folder)
    , m_sms(std::make_unique<SmsManager>())
{
    if (!load_cache()) {
        log() << u"load_cache failed\n";
        m_chats.clear();
        for (auto& set : m_known)
            set.clear();
        // Without a store the cache could not be checked; it is tried again once the store answers.
        m_cache_pending = !m_sms->has_store();
    }
}

ChatModel::~ChatModel() = default;

void ChatModel::add_listener(ChatListener* listener)
{
    m_listeners.push_back(listener);
}

void ChatModel::remove_listener(ChatListener* listener)
{
    std::erase(m_listeners, listener);
}

void ChatModel::send_event(ChatEvent const& event)
{
    for (auto* listener : std::vector<ChatListener*>(m_listeners))
        listener->on_document_refresh(event);
}

Chat* ChatModel::find_chat(std::u16string const& key)
{
    for (auto& chat : m_chats) {
        if (chat->key == key)
            return chat.get();
    }
    return nullptr;
}

bool ChatModel::known(IdSet const& set, EntryId const& id)
{
    return std::binary_search(set.begin(), set.end(), id);
}

void ChatModel::add_known(IdSet& set, std::vector<EntryId> const& ids)
{
    set.insert(set.end(), ids.begin(), ids.end());
    sort_entry_ids(set);
    set.erase(std::unique(set.begin(), set.end()), set.end());
}

void ChatModel::reload_sms(char16_t const* reason)
{
    m_sms = std::make_unique<SmsManager>();
    log() << reason;
}

bool ChatModel::read_message(MessageRecord& record)
{
    return fill_record(record) == ReadOutcome::Filled;
}

ChatModel::ReadOutcome ChatModel::fill_record(MessageRecord& record, bool with_texts)
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

void ChatModel::format_texts(MessageRecord& record)
{
    record.date_text = date_text(record.time);
    record.time_text = time_text(record.time);
}

bool ChatModel::validate_message(MessageRecord& record)
{
    if (record.id.is_empty() || !known(m_known[index_of(record.folder)], record.id))
        return false;
    Correspondent peer = record.peer();
    // An outbox message that is gone may be on its way to Sent Items under a new id: it shows as
    // it was read until the next poll puts the moved one in its place (or takes it away).
    if (record.folder == FolderKind::Outbox && (!peer.name.empty() || !peer.address.empty()))
        return true;
    if (peer.name.empty() && peer.address.empty())
        return read_message(record) || !m_sms->store_answers();
    MessageRecord probe;
    // A store that cannot be read now says nothing about the message: it stays.
    return m_sms->read_sms(record.id, probe) || !m_sms->store_answers();
}

void ChatModel::delete_message(MessageRecord const& record)
{
    m_sms->delete_message(record.folder, record);
    if (record.folder == FolderKind::Outbox)
        return;
    IdSet& set = m_known[index_of(record.folder)];
    auto found = std::lower_bound(set.begin(), set.end(), record.id);
    if (found != set.end() && *found == record.id)
        set.erase(found);
}


void ChatModel::save_unread()
{
    int32_t unread = 0;
    for (auto const& chat : m_chats)
        unread += chat->unread;
    reg_set_int(velloq_key, u"Unread", unread);
}

void ChatModel::mark_chat_read(Chat& chat)
{
    // Only the unread ones are written, all in one store transaction: the unread count changes
    // once, and a chat of twenty thousand messages costs no more than a short one.
    std::vector<EntryId> unread;
    for (auto const& message : chat.messages) {
        if (message.folder == FolderKind::Incoming && message.unread())
            unread.push_back(message.id);
    }
    if (!unread.empty() && !m_sms->mark_read(unread))
        return;
    for (auto& message : chat.messages) {
        if (message.folder == FolderKind::Incoming)
            message.flags |= message_flag_read;
    }
    chat.unread = 0;
}

// The drafts leave the chat's list but stay in the store until the chat is left, so a program
// that ends without its clean-up (a crash) loses no typed text: the next start finds them again.



std::optional<std::vector<EntryId>> ChatModel::scan_folder(FolderKind kind, Progress const&)
{
    std::vector<EntryId> fresh;
    IdSet const& set = m_known[index_of(kind)];
    auto counted = m_sms->length_of(kind);
    if (!counted)
        return std::nullopt;
    int32_t length = *counted;
    auto take = [&](int32_t index) {
        EntryId id = m_sms->get_id(kind, index);
        if (!id.is_empty() && !known(set, id)) {
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

bool ChatModel::check_outbox(bool notify, std::vector<EntryId>& new_outbox)
{
    // An outbox the store cannot count is not an empty one: no message leaves a chat for it.
    auto counted = m_sms->length_of(FolderKind::Outbox);
    if (!counted)
        return false;
    int32_t length = *counted;
    std::vector<EntryId> outbox;
    for (int32_t index = 0; index < length; ++index) {
        EntryId id = m_sms->get_id(FolderKind::Outbox, index);
        if (!id.is_empty())
            outbox.push_back(id);
    }
    std::sort(outbox.begin(), outbox.end());
    IdSet& known_outbox = m_known[index_of(FolderKind::Outbox)];
    // No chat holds an outbox message that was not read into it: with none known, there is
    // nothing to look for among the chats (a poll then costs nothing per message).
    if (known_outbox.empty()) {
        new_outbox = std::move(outbox);
        return length >= 0;
    }
    // A state only changes with a write to the store.
    std::optional<uint64_t> version = m_sms->change_count();
    bool states_due = !version || version != m_states_read_at;
    m_states_read_at = version;
    std::vector<EntryId> held;
    for (auto& chat : m_chats) {
        for (int32_t index = static_cast<int32_t>(chat->messages.size()) - 1; index >= 0; --index) {
            MessageRecord const& message = chat->messages[static_cast<size_t>(index)];
            if (message.folder != FolderKind::Outbox)
                continue;
            held.push_back(message.id);
            if (std::binary_search(outbox.begin(), outbox.end(), message.id)) {
                if (states_due)
                    refresh_send_state(*chat, index, notify);
                continue;
            }
            if (notify)
                send_event({ ChatEvent::Kind::MessageRemoved, index, chat.get() });
            chat->messages.erase(chat->messages.begin() + index);
        }
    }
    std::sort(held.begin(), held.end());
    for (auto const& id : outbox) {
        if (!known(known_outbox, id)) {
            new_outbox.push_back(id);
        } else if (!std::binary_search(held.begin(), held.end(), id) && !m_reloaded_for_outbox) {
            m_reloaded_for_outbox = true;
            reload_sms(u" sms_manager reloaded because outbox failed\n");
        }
    }
    // An id that left the outbox never comes back (ids are not reused): it is known no longer.
    IdSet still_waiting;
    std::set_intersection(known_outbox.begin(), known_outbox.end(), outbox.begin(), outbox.end(), std::back_inserter(still_waiting));
    known_outbox = std::move(still_waiting);
    return length >= 0;
}

std::vector<MessageRecord> ChatModel::read_new(std::array<std::vector<EntryId>, 4> const& fresh, Progress const& progress, bool with_texts)
{
    std::vector<MessageRecord> batch;
    size_t total = 0;
    for (auto const& ids : fresh)
        total += ids.size();
    batch.reserve(total);
    // What the one pass did not give (nothing, unless it failed) is read message by message.
    auto left = worth_one_pass(total) ? read_in_one_pass(fresh, batch, with_texts) : fresh;
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
        add_known(m_known[index_of(kind)], read);
    }
    return batch;
}

// A pass reads every message of the folders, a lookup only the one wanted, at more than twice
// the cost: the pass pays once half the store is new (a first start, a store filled by another
// program).
bool ChatModel::worth_one_pass(size_t fresh_messages)
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
std::array<std::vector<EntryId>, 4> ChatModel::read_in_one_pass(std::array<std::vector<EntryId>, 4> const& fresh, std::vector<MessageRecord>& batch, bool with_texts)
{
    std::array<std::vector<EntryId>, 4> wanted = fresh;
    std::array<std::vector<EntryId>, 4> read;
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
    std::array<std::vector<EntryId>, 4> left;
    for (FolderKind kind : folders) {
        auto& done = read[index_of(kind)];
        sort_entry_ids(done);
        auto const& ids = wanted[index_of(kind)];
        std::set_difference(ids.begin(), ids.end(), done.begin(), done.end(), std::back_inserter(left[index_of(kind)]));
        add_known(m_known[index_of(kind)], done);
    }
    return left;
}

// Each further recipient of a message from the user gets a copy of its own, so every
// recipient's chat has it.
void ChatModel::add_to_batch(MessageRecord&& record, std::vector<MessageRecord>& batch)
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

// A chat holds its newest message in full, for the chat list; the older ones keep what the cache
// keeps (id, folder) with what orders and counts them, and are read again when shown. A store of
// a hundred thousand messages then costs no more memory than their ids.
void ChatModel::keep_newest_in_full(Chat& chat)
{
    for (size_t index = 0; index + 1 < chat.messages.size(); ++index) {
        MessageRecord& record = chat.messages[index];
        if (record.text.empty() && record.sender.name.empty() && record.sender.address.empty() && record.recipients.empty())
            continue;
        MessageRecord slim;
        slim.id = std::move(record.id);
        slim.folder = record.folder;
        slim.time = record.time;
        slim.flags = record.flags;
        slim.report_kind = record.report_kind;
        record = std::move(slim);
    }
}

void ChatModel::refresh_send_state(Chat& chat, int32_t index, bool notify)
{
    MessageRecord& record = chat.messages[static_cast<size_t>(index)];
    if (record.recipients.empty())
        return;
    MessageRecord fresh;
    fresh.folder = record.folder;
    if (!m_sms->read_sms(record.id, fresh))
        return;
    // A copy for a further recipient holds that recipient alone; its state is that row's.
    for (size_t row = 0; row < fresh.recipients.size() && row < fresh.recipient_states.size(); ++row) {
        if (fresh.recipients[row].address != record.recipients.front().address)
            continue;
        if (record.recipient_states.empty() || record.recipient_states.front() != fresh.recipient_states[row]) {
            if (record.recipients.size() == fresh.recipients.size())
                record.recipient_states = fresh.recipient_states;
            else
                record.recipient_states = { fresh.recipient_states[row] };
            if (notify)
                send_event({ ChatEvent::Kind::MessageChanged, index, &chat });
        }
        return;
    }
}

// The batch's positions in message order: sorting the positions moves no record.
std::vector<uint32_t> ChatModel::message_order(std::vector<MessageRecord> const& batch)
{
    std::vector<uint32_t> order(batch.size());
    for (uint32_t position = 0; position < order.size(); ++position)
        order[position] = position;
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return message_before(batch[a], batch[b]); });
    return order;
}

// The chat a key names among those touched so far, else taken from the list, else made new with
// room for `room` messages.
Chat* ChatModel::touch_chat(std::u16string const& key, MessageRecord const& record, size_t room, Touched& touched, bool notify)
{
    if (auto found = touched.by_key.find(key); found != touched.by_key.end())
        return found->second;
    auto listed = std::find_if(m_chats.begin(), m_chats.end(), [&](auto const& candidate) { return candidate->key == key; });
    if (listed != m_chats.end()) {
        auto position = static_cast<int32_t>(listed - m_chats.begin());
        touched.chats.push_back(std::move(*listed));
        m_chats.erase(listed);
        if (notify)
            send_event({ ChatEvent::Kind::Removed, position, nullptr });
    } else {
        touched.chats.push_back(chat_for_message(record));
    }
    Chat* chat = touched.chats.back().get();
    chat->messages.reserve(chat->messages.size() + room);
    touched.by_key.emplace(chat->key, chat);
    return chat;
}

void ChatModel::distribute(std::vector<MessageRecord>& batch, bool notify, Progress const& progress)
{
    std::vector<uint32_t> order = message_order(batch);
    std::vector<std::u16string> keys(batch.size());
    // Each chat's share of the batch, so a chat grows once, not by doubling and moving records.
    std::unordered_map<std::u16string, size_t> shares;
    for (size_t position = 0; position < batch.size(); ++position)
        ++shares[keys[position] = chat_key_of(batch[position])];
    Touched touched;
    // Where the newest unread incoming message went: the records move into their chats.
    Chat* newest_unread_chat = nullptr;
    size_t newest_unread_index = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        MessageRecord& record = batch[order[i]];
        std::u16string const& key = keys[order[i]];
        Chat* chat = touch_chat(key, record, shares[key], touched, notify);
        bool unread_incoming = record.folder == FolderKind::Incoming && record.unread();
        chat->messages.push_back(std::move(record));
        if (unread_incoming) {
            ++chat->unread;
            newest_unread_chat = chat;
            newest_unread_index = chat->messages.size() - 1;
        }
        if (notify)
            send_event({ ChatEvent::Kind::MessageAppended, static_cast<int32_t>(chat->messages.size()) - 1, chat });
        if (progress)
            progress(0.8 + 0.2 * double(i) / double(batch.size()));
    }
    if (newest_unread_chat) {
        m_new_message = newest_unread_chat->messages[newest_unread_index];
        format_texts(*m_new_message);
    }
    for (auto const& chat : touched.chats) {
        keep_newest_in_full(*chat);
        if (!chat->messages.empty() && chat->messages.back().time_text.empty())
            format_texts(chat->messages.back());
    }
    std::stable_sort(touched.chats.begin(), touched.chats.end(), [](auto const& a, auto const& b) { return chat_before(*a, *b); });
    for (size_t position = 0; position < touched.chats.size(); ++position) {
        m_chats.insert(m_chats.begin() + static_cast<ptrdiff_t>(position), std::move(touched.chats[position]));
        if (notify)
            send_event({ ChatEvent::Kind::Inserted, static_cast<int32_t>(position), nullptr });
    }
}

// A store that could not be opened (locked, read-only, missing) or failed the last update is
// opened again at every update until it answers; its chats, once it does, come from the cache if
// it was not read yet. A store that works costs the poll nothing here.
bool ChatModel::reach_store()
{
    if (m_sms->has_store() && !m_store_failed)
        return true;
    m_store_failed = false;
    reload_sms(u"update_chats: the store does not answer; opened again\n");
    if (!m_sms->store_answers())
        return false;
    if (m_cache_pending && m_chats.empty()) {
        m_cache_pending = false;
        if (!load_cache())
            log() << u"load_cache failed\n";
    }
    return true;
}

bool ChatModel::update_chats(bool notify, Progress const& progress)
{
    // The indexer's thread starts with the first update, not with the model.
    if (m_options.search_in_background && !m_indexer)
        m_indexer = std::make_unique<SearchIndexer>();
    bool changed = take_store_changes(notify, progress);
    // Any writer's change may have noted texts for the index (another program's edits too).
    std::optional<uint64_t> version = m_sms->change_count();
    if (m_indexer && (changed || !version || version != m_indexer_woken_at)) {
        m_indexer_woken_at = version;
        m_indexer->wake();
    }
    if (!m_full_scan) {
        follow_deletions(notify);
        follow_unread_count(notify);
    }
    return changed;
}

std::optional<std::string> ChatModel::store_problem() const
{
    if (m_sms->has_store())
        return std::nullopt;
    return m_sms->open_error().empty() ? std::string("the message store cannot be opened") : m_sms->open_error();
}

bool ChatModel::search_index_rebuilding() const
{
    return m_indexer && m_indexer->rebuilding();
}

void ChatModel::search_index_remade()
{
    if (m_indexer)
        m_indexer->rebuilding_elsewhere();
}

// Other programs delete messages too. Ids are never reused and the chats know every id they
// read, so a folder holding fewer messages than are known lost some: only then is it listed
// whole, and what is gone leaves its chat. Nothing is looked at while the store is unchanged.
void ChatModel::follow_deletions(bool notify)
{
    std::optional<uint64_t> version = m_sms->change_count();
    if (version && version == m_deletions_checked_at)
        return;
    std::vector<EntryId> gone;
    for (FolderKind kind : { FolderKind::Incoming, FolderKind::Sent, FolderKind::Drafts }) {
        auto lost = take_gone_ids(kind);
        gone.insert(gone.end(), lost.begin(), lost.end());
    }
    m_deletions_checked_at = version;
    if (gone.empty())
        return;
    sort_entry_ids(gone);
    remove_gone_messages(gone, notify);
}

std::vector<EntryId> ChatModel::take_gone_ids(FolderKind kind)
{
    IdSet& known_ids = m_known[index_of(kind)];
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

void ChatModel::remove_gone_messages(std::vector<EntryId> const& gone, bool notify)
{
    for (size_t position = m_chats.size(); position-- > 0;) {
        Chat& chat = *m_chats[position];
        bool removed = false;
        for (size_t index = chat.messages.size(); index-- > 0;) {
            MessageRecord const& message = chat.messages[index];
            if (message.folder == FolderKind::Outbox || !std::binary_search(gone.begin(), gone.end(), message.id))
                continue;
            if (message.folder == FolderKind::Incoming && message.unread() && chat.unread > 0)
                --chat.unread;
            chat.messages.erase(chat.messages.begin() + static_cast<ptrdiff_t>(index));
            removed = true;
            if (notify)
                send_event({ ChatEvent::Kind::MessageRemoved, static_cast<int32_t>(index), &chat });
        }
        // A chat left without messages leaves the list, unless it is the one on screen.
        if (removed && chat.messages.empty() && chat.key != m_current_key) {
            m_chats.erase(m_chats.begin() + static_cast<ptrdiff_t>(position));
            if (notify)
                send_event({ ChatEvent::Kind::Removed, static_cast<int32_t>(position), nullptr });
        }
    }
    log() << u"follow_deletions: " << static_cast<uint64_t>(gone.size()) << u" messages deleted by another program\n";
    save_unread();
    save_cache();
}

// Other processes read and delete messages too: when the store's unread count (the registry's
// Count, which every writer keeps) moved away from the chats' sum, the chats' unread marks are
// taken again from the store's unread messages. Once per change of Count, so a lasting
// difference (an unread message that is in no chat) costs nothing at later polls.
void ChatModel::follow_unread_count(bool notify)
{
    int32_t count = 0;
    if (!reg_get_int(unread_count_key, u"Count", count) || count == m_followed_count)
        return;
    m_followed_count = count;
    int32_t ours = 0;
    for (auto const& chat : m_chats)
        ours += chat->unread;
    if (ours == count)
        return;
    auto unread = m_sms->unread_ids();
    if (!unread)
        return;
    std::sort(unread->begin(), unread->end());
    for (size_t index = 0; index < m_chats.size(); ++index) {
        Chat& chat = *m_chats[index];
        int32_t marked = 0;
        for (auto& message : chat.messages) {
            if (message.folder != FolderKind::Incoming)
                continue;
            bool is_unread = std::binary_search(unread->begin(), unread->end(), message.id);
            message.flags = is_unread ? message.flags & ~message_flag_read : message.flags | message_flag_read;
            marked += is_unread ? 1 : 0;
        }
        if (marked == chat.unread)
            continue;
        chat.unread = marked;
        if (notify)
            send_event({ ChatEvent::Kind::Renamed, static_cast<int32_t>(index), &chat });
    }
    save_unread();
    save_cache();
}

bool ChatModel::take_store_changes(bool notify, Progress const& progress)
{
    Stopwatch lap;
    m_reloaded_for_read = false;
    m_reloaded_for_outbox = false;
    if (!reach_store())
        return false;
    log() << u"update_chats " << (m_full_scan ? 1 : 0);
    // The scan and the reads see one picture of the store; a rebuilt sms_manager starts afresh.
    m_sms->begin_reading();
    struct EndReading {
        ChatModel& model;
        ~EndReading() { model.m_sms->end_reading(); }
    } end_reading { *this };
    std::array<std::vector<EntryId>, 4> fresh;
    for (FolderKind kind : { FolderKind::Incoming, FolderKind::Sent, FolderKind::Drafts }) {
        auto scanned = scan_folder(kind, progress);
        if (!scanned) {
            // The store could not be read: that is not "no messages"; nothing changes, and the
            // next update opens it again.
            log() << u" scan failed\n";
            m_store_failed = true;
            return false;
        }
        fresh[index_of(kind)] = std::move(*scanned);
        if (progress)
            progress(double(index_of(kind)) / 15.0);
    }
    m_full_scan = false;
    log() << u" scan 3 folders time:" << lap.lap();
    if (!check_outbox(notify, fresh[index_of(FolderKind::Outbox)])) {
        log() << u" outbox check failed\n";
        m_store_failed = true;
        return false;
    }
    log() << u" scan outbox size:" << m_sms->get_length(FolderKind::Outbox) << u" time:" << lap.lap();
    size_t new_ids = 0;
    for (auto const& ids : fresh)
        new_ids += ids.size();
    if (new_ids == 0) {
        log() << u"\n";
        return false;
    }
    // Without events nobody sees a record before the chats are made; only those kept in full
    // then get their texts (formatting every date of a large store would be most of its read).
    std::vector<MessageRecord> batch = read_new(fresh, progress, notify);
    m_sms->end_reading();
    if (batch.empty()) {
        log() << u"\n";
        return false;
    }
    log() << u" read sms id_pul_size:" << static_cast<uint64_t>(new_ids) << u" sms_pul_size:" << static_cast<uint64_t>(batch.size())
          << u" time:" << lap.lap();
    distribute(batch, notify, progress);
    log() << u" fill chat_pul time:" << lap.lap();
    save_unread();
    save_cache();
    log() << u" modify chats time:" << lap.lap() << u"\n";
    return true;
}

// A cache describes one store: every id in it must be this store's, and no message may stand in
// two places. Anything else (another device's cache, one from a store since made anew) is not
// believed, and the chats are built from the store instead.
bool ChatModel::cache_fits_store(std::vector<CachedChat> const& cached) const
{
    for (auto const& entry : cached) {
        for (auto const& message : entry.messages) {
            if (!m_sms->owns_id(message.id)) {
                log() << u"load_cache: an id of another store\n";
                return false;
            }
        }
    }
    return true;
}

bool ChatModel::load_cache()
{
    auto cached = load_chat_cache(m_options.cache_path);
    if (!cached || !cache_fits_store(*cached))
        return false;
    m_chats.clear();
    for (auto& set : m_known)
        set.clear();
    std::array<size_t, 4> per_folder {};
    for (auto const& entry : *cached)
        for (auto const& message : entry.messages)
            ++per_folder[index_of(message.folder)];
    for (size_t folder = 0; folder < per_folder.size(); ++folder)
        m_known[folder].reserve(per_folder[folder]);
    for (auto& entry : *cached) {
        auto chat = std::make_unique<Chat>();
        chat->messages.reserve(entry.messages.size());
        chat->name = std::move(entry.name);
        chat->address = std::move(entry.address);
        chat->key = std::move(entry.key);
        chat->unread = entry.unread;
        for (auto& message : entry.messages) {
            MessageRecord record;
            record.folder = message.folder;
            record.id = message.id;
            m_known[index_of(message.folder)].push_back(message.id);
            chat->messages.push_back(std::move(record));
        }
        m_chats.push_back(std::move(chat));
    }
    // The known sets are sorted anyway: a message that stands in two places shows here.
    for (auto& set : m_known) {
        sort_entry_ids(set);
        if (std::adjacent_find(set.begin(), set.end()) != set.end()) {
            log() << u"load_cache: a message in two places\n";
            m_chats.clear();
            for (auto& known : m_known)
                known.clear();
            return false;
        }
    }
    return true;
}

void ChatModel::save_cache()
{
    std::vector<CachedChat> cached;
    cached.reserve(m_chats.size());
    for (auto const& chat : m_chats) {
        CachedChat entry { chat->name, chat->address, chat->key, chat->unread, {} };
        // The file holds a chat's oldest messages up to its limit; the next start reads the
        // newer ones from the store again and counts their unread ones then, so they are not
        // counted here too.
        int32_t kept = 0;
        for (auto const& message : chat->messages) {
            if (message.id.is_empty())
                continue;
            if (kept == most_cached_messages_per_chat) {
                if (message.folder == FolderKind::Incoming && message.unread())
                    --entry.unread;
                continue;
            }
            entry.messages.push_back({ message.folder, message.id });
            ++kept;
        }
        entry.unread = std::max(entry.unread, 0);
        cached.push_back(std::move(entry));
    }
    save_chat_cache(m_options.cache_path, cached);
}

}

namespace velloq {

void ChatModel::set_current_chat_key(std::u16string key)
{
    m_current_key = std::move(key);
    m_naming.phone_book().set_current(m_current_key);
}








void ChatModel::delete_chat_message(Chat& chat, int32_t index)
{
    if (index < 0 || index >= static_cast<int32_t>(chat.messages.size()))
        return;
    MessageRecord& message = chat.messages[static_cast<size_t>(index)];
    delete_message(message);
    if (message.folder == FolderKind::Incoming && message.unread() && chat.unread > 0) {
        --chat.unread;
        save_unread();
    }
    drop_message(chat, index);
}

void ChatModel::drop_message(Chat& chat, int32_t index)
{
    if (index < 0 || index >= static_cast<int32_t>(chat.messages.size()))
        return;
    chat.messages.erase(chat.messages.begin() + index);
    save_cache();
    send_event({ ChatEvent::Kind::MessageRemoved, index, &chat });
}

bool ChatModel::drop_vanished_messages(Chat& chat)
{
    bool dropped = false;
    while (!chat.messages.empty() && !validate_message(chat.messages.back())) {
        chat.messages.pop_back();
        dropped = true;
    }
    if (dropped)
        save_cache();
    return dropped;
}

Chat& ChatModel::add_chat(std::unique_ptr<Chat> chat)
{
    Chat& added = *chat;
    m_chats.insert(m_chats.begin(), std::move(chat));
    send_event({ ChatEvent::Kind::Inserted, 0, nullptr });
    return added;
}

void ChatModel::remove_chat(Chat const& chat)
{
    auto found = std::find_if(m_chats.begin(), m_chats.end(), [&](auto const& held) { return held.get() == &chat; });
    if (found == m_chats.end())
        return;
    auto index = static_cast<int32_t>(found - m_chats.begin());
    m_chats.erase(found);
    save_cache();
    send_event({ ChatEvent::Kind::Removed, index, nullptr });
}

}
