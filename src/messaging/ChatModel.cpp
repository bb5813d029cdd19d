#include "messaging/ChatModel.h"
#include "platform/Utf.h"

#include "messaging/ChatCache.h"
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

// The options with the device folder's places where they name none.
ChatModel::Options with_folders(ChatModel::Options options)
{
    if (options.contacts_folder.empty())
        options.contacts_folder = platform::device_folder() + "/contacts";
    if (!options.desktop_contacts_folder)
        options.desktop_contacts_folder = platform::desktop_contacts_folder();
    if (options.cache_path.empty())
        options.cache_path = to_utf16(platform::device_folder()) + u"/cache";
    return options;
}

}

ChatModel::ChatModel()
    : ChatModel(Options {})
{
}

ChatModel::ChatModel(Options options)
    : m_options(with_folders(std::move(options)))
    , m_naming(*this, { { *m_options.desktop_contacts_folder, true }, { m_options.contacts_folder, false } })
{
    if (!load_cache()) {
        log() << u"load_cache failed\n";
        m_chats.clear();
        m_outbox_chats.clear();
        m_follower.forget_all();
        // Without a store the cache could not be checked; it is tried again once the store answers.
        m_cache_pending = !sms().has_store();
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

bool ChatModel::read_message(MessageRecord& record)
{
    return m_follower.fill_record(record) == StoreFollower::ReadOutcome::Filled;
}

bool ChatModel::read_message(MessageRecord& record, Chat const& chat)
{
    if (!read_message(record))
        return false;
    keep_recipient_of_chat(record, chat.key);
    return true;
}

bool ChatModel::validate_message(MessageRecord& record)
{
    return m_follower.still_stored(record);
}

void ChatModel::delete_message(MessageRecord const& record)
{
    sms().delete_message(record.folder, record);
    m_follower.forget(record);
}


void ChatModel::save_unread()
{
    int32_t unread = 0;
    for (auto const& chat : m_chats)
        unread += chat->unread;
    reg_set_int(registry_key::program, u"Unread", unread);
}

void ChatModel::mark_chat_read(Chat& chat)
{
    // Only the unread ones are written, all in one store transaction: the unread count changes
    // once, and a chat of twenty thousand messages costs no more than a short one. Those the chat
    // does not hold come from the store's index.
    std::vector<EntryId> unread = sms().chat_unread_ids(chat.key).value_or(std::vector<EntryId>());
    for (auto const& message : chat.messages) {
        if (message.folder == FolderKind::Incoming && message.unread())
            unread.push_back(message.id);
    }
    sort_entry_ids(unread);
    unread.erase(std::unique(unread.begin(), unread.end()), unread.end());
    if (!unread.empty() && !sms().mark_read(unread))
        return;
    for (auto& message : chat.messages) {
        if (message.folder == FolderKind::Incoming)
            message.flags |= message_flag_read;
    }
    chat.unread = 0;
}

size_t ChatModel::load_older(Chat& chat, size_t count)
{
    if (chat.holds_oldest || count == 0)
        return 0;
    EntryId first = chat.messages.empty() ? EntryId() : chat.messages.front().id;
    auto older = sms().chat_messages(chat.key, first, count);
    if (!older)
        return 0;
    if (older->size() < count)
        chat.holds_oldest = true;
    // A message that came late (older than those before it) is held already.
    std::erase_if(*older, [&](MessageRecord const& record) {
        return std::any_of(chat.messages.begin(), chat.messages.end(), [&](MessageRecord const& held) { return held.id == record.id; });
    });
    chat.messages.insert(chat.messages.begin(), std::make_move_iterator(older->begin()), std::make_move_iterator(older->end()));
    return older->size();
}

bool ChatModel::load_through(Chat& chat, EntryId const& id)
{
    auto holds = [&] { return std::any_of(chat.messages.begin(), chat.messages.end(), [&](MessageRecord const& held) { return held.id == id; }); };
    if (holds())
        return true;
    auto from = sms().chat_messages_from(chat.key, id);
    if (!from || from->empty())
        return false;
    // The store's messages from `id` on that the chat does not hold come before those it holds.
    std::erase_if(*from, [&](MessageRecord const& record) {
        return std::any_of(chat.messages.begin(), chat.messages.end(), [&](MessageRecord const& held) { return held.id == record.id; });
    });
    chat.messages.insert(chat.messages.begin(), std::make_move_iterator(from->begin()), std::make_move_iterator(from->end()));
    return holds();
}

std::optional<int64_t> ChatModel::count_messages(Chat const& chat)
{
    return sms().chat_message_count(chat.key);
}

std::optional<MessageRecord> ChatModel::draft_of(Chat& chat)
{
    // Held messages are the newest: a held draft is the newest one.
    auto held = std::find_if(chat.messages.rbegin(), chat.messages.rend(), [](MessageRecord const& message) { return message.folder == FolderKind::Drafts; });
    std::optional<MessageRecord> draft = held != chat.messages.rend() ? std::optional(*held) : sms().newest_draft(chat.key);
    if (!draft || !read_message(*draft, chat))
        return std::nullopt;
    return draft;
}

bool ChatModel::is_word(Chat const& chat, MessageRecord& message)
{
    return message.folder != FolderKind::Drafts && read_message(message, chat) && !message.is_report();
}

void ChatModel::hold_newest_word(Chat& chat)
{
    for (size_t index = chat.messages.size(); index-- > 0;) {
        if (is_word(chat, chat.messages[index]))
            return;
    }
    while (load_older(chat, 1) == 1) {
        if (is_word(chat, chat.messages.front()))
            return;
    }
}

// An outbox the store cannot count is not an empty one: no message leaves a chat for it.
bool ChatModel::check_outbox(bool notify, std::vector<EntryId>& new_outbox)
{
    auto outbox = m_follower.outbox_ids();
    if (!outbox)
        return false;
    // No chat holds an outbox message that was not read into it: with none known, there is
    // nothing to look for among the chats (a poll then costs nothing per message).
    if (!m_follower.knows_outbox()) {
        new_outbox = std::move(*outbox);
        return true;
    }
    bool states_due = m_follower.send_states_due();
    std::vector<EntryId> held;
    for (auto key = m_outbox_chats.begin(); key != m_outbox_chats.end();) {
        Chat* chat = find_chat(*key);
        bool holds = chat && settle_chat_outbox(*chat, *outbox, states_due, notify, held);
        key = holds ? std::next(key) : m_outbox_chats.erase(key);
    }
    std::sort(held.begin(), held.end());
    new_outbox = m_follower.settle_outbox(*outbox, held);
    return true;
}

// The chat's messages still in the outbox go into `held` (their states read again when due); those
// gone from it leave the chat. True while the chat holds any.
bool ChatModel::settle_chat_outbox(Chat& chat, std::vector<EntryId> const& outbox, bool states_due, bool notify, std::vector<EntryId>& held)
{
    bool holds = false;
    for (int32_t index = static_cast<int32_t>(chat.messages.size()) - 1; index >= 0; --index) {
        MessageRecord const& message = chat.messages[static_cast<size_t>(index)];
        if (message.folder != FolderKind::Outbox)
            continue;
        held.push_back(message.id);
        if (std::binary_search(outbox.begin(), outbox.end(), message.id)) {
            holds = true;
            if (states_due)
                refresh_send_state(chat, index, notify);
            continue;
        }
        if (notify)
            send_event({ ChatEvent::Kind::MessageRemoved, index, &chat });
        chat.messages.erase(chat.messages.begin() + index);
    }
    return holds;
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
    if (!sms().read_sms(record.id, fresh))
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

// A delivery report filed unread (by the modem's side, or before reports were filed read) would
// keep the store's unread count, which the notification broker watches, above what the user can
// ever read away.
void ChatModel::mark_reports_read(std::vector<MessageRecord>& batch)
{
    std::vector<EntryId> reports;
    for (auto const& record : batch) {
        if (record.is_report() && record.folder == FolderKind::Incoming && record.unread())
            reports.push_back(record.id);
    }
    if (reports.empty() || !sms().mark_read(reports))
        return;
    for (auto& record : batch) {
        if (record.is_report())
            record.flags |= message_flag_read;
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

// A message older than the newest the chat holds (a late delivery, a clock set back) takes its
// place by time, not the end: the chat stays in order, and so does its cache, whose newest
// message must be the chat's newest for a start from it to find the others. It passes the few
// newer ones from the end, each read for its time where the chat holds only its id.
size_t ChatModel::place_by_time(Chat& chat, MessageRecord&& record)
{
    auto& messages = chat.messages;
    size_t at = messages.size();
    while (at > 0) {
        MessageRecord& before = messages[at - 1];
        if (before.time.filetime() == 0 && !before.id.is_empty() && !read_message(before, chat))
            break;
        if (!message_before(record, before))
            break;
        --at;
    }
    // Older than all it holds while older ones are still in the store: it is read with those,
    // in its place, when they are shown.
    if (at == 0 && !messages.empty() && !chat.holds_oldest)
        return not_held;
    messages.insert(messages.begin() + static_cast<ptrdiff_t>(at), std::move(record));
    return at;
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
        bool unread_incoming = record.awaits_reading();
        if (record.folder == FolderKind::Outbox)
            m_outbox_chats.insert(key);
        size_t index = place_by_time(*chat, std::move(record));
        if (unread_incoming)
            ++chat->unread;
        if (unread_incoming && index != not_held) {
            newest_unread_chat = chat;
            newest_unread_index = index;
        }
        if (notify && index != not_held)
            send_event({ ChatEvent::Kind::MessageAppended, static_cast<int32_t>(index), chat });
        if (progress)
            progress(0.8 + 0.2 * double(i) / double(batch.size()));
    }
    if (newest_unread_chat) {
        m_new_message = newest_unread_chat->messages[newest_unread_index];
        StoreFollower::format_texts(*m_new_message);
    }
    for (auto const& chat : touched.chats) {
        keep_newest_in_full(*chat);
        if (!chat->messages.empty() && chat->messages.back().time_text.empty())
            StoreFollower::format_texts(chat->messages.back());
    }
    std::stable_sort(touched.chats.begin(), touched.chats.end(), [](auto const& a, auto const& b) { return chat_before(*a, *b); });
    for (size_t position = 0; position < touched.chats.size(); ++position) {
        m_chats.insert(m_chats.begin() + static_cast<ptrdiff_t>(position), std::move(touched.chats[position]));
        if (notify)
            send_event({ ChatEvent::Kind::Inserted, static_cast<int32_t>(position), nullptr });
    }
}

bool ChatModel::update_chats(bool notify, Progress const& progress)
{
    bool changed = take_store_changes(notify, progress);
    if (!m_follower.full_scan()) {
        follow_deletions(notify);
        follow_unread_count(notify);
    }
    return changed;
}

std::optional<std::string> ChatModel::store_problem() const
{
    if (sms().has_store())
        return std::nullopt;
    return sms().open_error().empty() ? std::string("the message store cannot be opened") : sms().open_error();
}

// What another program deleted leaves its chat. The store says only that some went (a folder
// holds fewer than it should); the messages the chats hold are looked for, each a cheap look.
void ChatModel::follow_deletions(bool notify)
{
    if (!m_follower.take_deletions())
        return;
    size_t before = 0;
    size_t after = 0;
    for (size_t position = m_chats.size(); position-- > 0;) {
        Chat& chat = *m_chats[position];
        before += chat.messages.size();
        bool removed = drop_deleted_messages(chat, notify);
        after += chat.messages.size();
        // A chat left without messages takes its newest from the store again, or leaves the
        // list, unless it is the one on screen.
        if (!removed || !chat.messages.empty() || refill(chat) || chat.key == m_current_key)
            continue;
        m_chats.erase(m_chats.begin() + static_cast<ptrdiff_t>(position));
        if (notify)
            send_event({ ChatEvent::Kind::Removed, static_cast<int32_t>(position), nullptr });
    }
    log() << u"follow_deletions: " << static_cast<uint64_t>(before - after) << u" messages deleted by another program\n";
    save_unread();
    save_cache();
}

bool ChatModel::drop_deleted_messages(Chat& chat, bool notify)
{
    bool removed = false;
    for (size_t index = chat.messages.size(); index-- > 0;) {
        MessageRecord const& message = chat.messages[index];
        // A store that cannot tell now says nothing about the message: it stays.
        if (message.folder == FolderKind::Outbox || sms().holds(message.id).value_or(true))
            continue;
        if (message.awaits_reading() && chat.unread > 0)
            --chat.unread;
        chat.messages.erase(chat.messages.begin() + static_cast<ptrdiff_t>(index));
        removed = true;
        if (notify)
            send_event({ ChatEvent::Kind::MessageRemoved, static_cast<int32_t>(index), &chat });
    }
    return removed;
}

bool ChatModel::refill(Chat& chat)
{
    auto indexed = sms().indexed_chat(chat.key);
    if (!indexed)
        return false;
    chat.messages.push_back(std::move(indexed->newest));
    chat.unread = indexed->unread;
    chat.holds_oldest = false;
    return true;
}

// When the store's unread messages moved away from the chats' (another process read or deleted
// some), the chats' unread marks are taken again from the store.
void ChatModel::follow_unread_count(bool notify)
{
    auto count = m_follower.unread_count_if_changed();
    if (!count)
        return;
    int32_t ours = 0;
    for (auto const& chat : m_chats)
        ours += chat->unread;
    if (ours == *count)
        return;
    auto unread = m_follower.sorted_unread_ids();
    auto counts = sms().chat_unread_counts();
    if (!unread || !counts)
        return;
    std::unordered_map<std::u16string, int32_t> unread_of(counts->begin(), counts->end());
    for (size_t index = 0; index < m_chats.size(); ++index) {
        Chat& chat = *m_chats[index];
        for (auto& message : chat.messages) {
            if (message.folder != FolderKind::Incoming)
                continue;
            bool is_unread = std::binary_search(unread->begin(), unread->end(), message.id);
            message.flags = is_unread ? message.flags & ~message_flag_read : message.flags | message_flag_read;
        }
        auto counted = unread_of.find(chat.key);
        int32_t marked = counted == unread_of.end() ? 0 : counted->second;
        if (marked == chat.unread)
            continue;
        chat.unread = marked;
        if (notify)
            send_event({ ChatEvent::Kind::Renamed, static_cast<int32_t>(index), &chat });
    }
    save_unread();
    save_cache();
}

// A store reached again after it failed gives the chats of the cache, when they could not be
// checked against it before.
bool ChatModel::reach_store()
{
    auto reach = m_follower.reach_store();
    if (reach == StoreFollower::Reach::Reopened && m_cache_pending && m_chats.empty()) {
        m_cache_pending = false;
        if (!load_cache())
            log() << u"load_cache failed\n";
    }
    return reach != StoreFollower::Reach::Unreachable;
}

bool ChatModel::take_store_changes(bool notify, Progress const& progress)
{
    Stopwatch lap;
    if (!reach_store())
        return false;
    log() << u"update_chats " << (m_follower.full_scan() ? 1 : 0);
    // The scan and the reads see one picture of the store; a rebuilt sms_manager starts afresh.
    sms().begin_reading();
    struct EndReading {
        ChatModel& model;
        ~EndReading() { model.sms().end_reading(); }
    } end_reading { *this };
    if (!m_follower.has_marks())
        return seed_from_index(notify, progress);
    auto fresh = m_follower.scan_folders(progress);
    if (!fresh) {
        // The store could not be read: that is not "no messages"; nothing changes, and the
        // next update opens it again.
        log() << u" scan failed\n";
        m_follower.mark_failed();
        return false;
    }
    log() << u" scan 3 folders time:" << lap.lap();
    if (!check_outbox(notify, (*fresh)[static_cast<size_t>(FolderKind::Outbox)])) {
        log() << u" outbox check failed\n";
        m_follower.mark_failed();
        return false;
    }
    log() << u" scan outbox size:" << sms().get_length(FolderKind::Outbox) << u" time:" << lap.lap();
    size_t new_ids = 0;
    for (auto const& ids : *fresh)
        new_ids += ids.size();
    if (new_ids == 0) {
        log() << u"\n";
        return false;
    }
    // Without events nobody sees a record before the chats are made; only those kept in full
    // then get their texts (formatting every date of a large store would be most of its read).
    std::vector<MessageRecord> batch = m_follower.read_new(*fresh, progress, notify);
    sms().end_reading();
    if (batch.empty()) {
        log() << u"\n";
        return false;
    }
    log() << u" read sms id_pul_size:" << static_cast<uint64_t>(new_ids) << u" sms_pul_size:" << static_cast<uint64_t>(batch.size())
          << u" time:" << lap.lap();
    mark_reports_read(batch);
    distribute(batch, notify, progress);
    log() << u" fill chat_pul time:" << lap.lap();
    save_unread();
    save_cache();
    log() << u" modify chats time:" << lap.lap() << u"\n";
    return true;
}

// A start without a cache: one query of the store's index gives every chat with its newest
// message and unread count; only those newest messages are read. All of it in one read of the
// store, so a message that arrives meanwhile is new to the next update, not lost.
bool ChatModel::seed_from_index(bool notify, Progress const& progress)
{
    Stopwatch lap;
    auto outbox = m_follower.outbox_ids();
    auto indexed = outbox ? sms().indexed_chats() : std::nullopt;
    if (!indexed) {
        log() << u" index failed\n";
        m_follower.mark_failed();
        return false;
    }
    // The index stands for the scan of the folders; the log keeps the update's phases.
    log() << u" scan 3 folders time:" << lap.lap() << u" index chats:" << static_cast<uint64_t>(indexed->size());
    log() << u" scan outbox size:" << static_cast<uint64_t>(outbox->size()) << u" time:" << lap.lap();
    std::vector<std::unique_ptr<Chat>> made;
    made.reserve(indexed->size());
    for (size_t position = 0; position < indexed->size(); ++position) {
        made.push_back(chat_of_index((*indexed)[position]));
        if (progress)
            progress(0.2 + 0.6 * double(position) / double(indexed->size()));
    }
    std::vector<EntryId> known_outbox = hold_outbox(*outbox, made);
    if (!m_follower.mark_whole_store(std::move(known_outbox))) {
        log() << u" scan failed\n";
        m_follower.mark_failed();
        return false;
    }
    log() << u" read sms id_pul_size:" << static_cast<uint64_t>(made.size()) << u" sms_pul_size:" << static_cast<uint64_t>(made.size()) << u" time:" << lap.lap();
    if (made.empty()) {
        log() << u"\n";
        return false;
    }
    if (auto newest = sms().newest_unread()) {
        MessageRecord record;
        record.id = newest->second;
        if (m_follower.fill_record(record) == StoreFollower::ReadOutcome::Filled)
            m_new_message = std::move(record);
    }
    std::stable_sort(made.begin(), made.end(), [](auto const& a, auto const& b) { return chat_before(*a, *b); });
    for (auto& chat : made) {
        // A chat made before the first update (a new conversation) takes its messages.
        if (Chat* listed = find_chat(chat->key)) {
            listed->messages = std::move(chat->messages);
            listed->unread = chat->unread;
            continue;
        }
        m_chats.push_back(std::move(chat));
        if (notify)
            send_event({ ChatEvent::Kind::Inserted, static_cast<int32_t>(m_chats.size() - 1), nullptr });
    }
    std::stable_sort(m_chats.begin(), m_chats.end(), [](auto const& a, auto const& b) { return chat_before(*a, *b); });
    log() << u" fill chat_pul time:" << lap.lap();
    // As an update marks the reports it takes: an unread one would keep the unread count above
    // what the user can read away.
    sms().end_reading();
    if (auto reports = sms().unread_report_ids(); reports && !reports->empty() && sms().mark_read(*reports)) {
        for (auto& chat : m_chats) {
            for (auto& message : chat->messages)
                message.flags |= message.is_report() ? message_flag_read : 0;
        }
    }
    save_unread();
    save_cache();
    log() << u" modify chats time:" << lap.lap() << u"\n";
    return true;
}

// The chat of an index entry, named after its newest message's peer (or the number of a report).
std::unique_ptr<Chat> ChatModel::chat_of_index(SmsManager::IndexedChat& indexed)
{
    MessageRecord& newest = indexed.newest;
    bool read = m_follower.fill_record(newest, false) == StoreFollower::ReadOutcome::Filled;
    if (read)
        keep_recipient_of_chat(newest, indexed.key);
    auto chat = read ? chat_for_message(newest) : std::make_unique<Chat>();
    if (!read)
        chat->address = indexed.key;
    chat->key = indexed.key;
    chat->unread = indexed.unread;
    StoreFollower::format_texts(newest);
    chat->messages.push_back(std::move(newest));
    hold_newest_word(*chat);
    return chat;
}

std::vector<EntryId> ChatModel::hold_outbox(std::vector<EntryId> const& outbox, std::vector<std::unique_ptr<Chat>>& chats)
{
    std::unordered_map<std::u16string, Chat*> by_key;
    for (auto const& chat : chats)
        by_key.emplace(chat->key, chat.get());
    std::vector<EntryId> read;
    for (auto const& id : outbox) {
        MessageRecord record;
        record.id = id;
        record.folder = FolderKind::Outbox;
        auto outcome = m_follower.fill_record(record, false);
        if (outcome == StoreFollower::ReadOutcome::Failed)
            continue;
        read.push_back(id);
        std::vector<MessageRecord> copies;
        StoreFollower::add_copies(std::move(record), copies);
        for (auto const& copy : copies) {
            auto chat = by_key.find(chat_key_of(copy));
            if (outcome == StoreFollower::ReadOutcome::Filled && chat != by_key.end() && load_through(*chat->second, id))
                m_outbox_chats.insert(chat->first);
        }
    }
    return read;
}

// A cache describes one store: every id in it must be this store's, and no message from another
// may stand in two chats (one from the user does, once for each recipient). Anything else
// (another device's cache, one from a store since made anew, an older cache that holds every id)
// is not believed, and the chats are made from the store instead.
bool ChatModel::cache_fits_store(ChatCacheFile const& cached) const
{
    if (cached.version != chat_cache_version) {
        log() << u"load_cache: a cache of version " << cached.version << u"\n";
        return false;
    }
    std::vector<EntryId> incoming;
    bool foreign = false;
    auto check = [&](EntryId const& id) { foreign |= !id.is_empty() && !sms().owns_id(id); };
    for (auto const& folder : cached.folders) {
        check(folder.last);
        for (auto const& id : folder.retry)
            check(id);
    }
    for (auto const& entry : cached.chats) {
        for (auto const& message : entry.messages) {
            check(message.id);
            if (message.folder == FolderKind::Incoming)
                incoming.push_back(message.id);
        }
    }
    if (foreign) {
        log() << u"load_cache: an id of another store\n";
        return false;
    }
    sort_entry_ids(incoming);
    if (std::adjacent_find(incoming.begin(), incoming.end()) != incoming.end()) {
        log() << u"load_cache: a message in two places\n";
        return false;
    }
    return true;
}

bool ChatModel::load_cache()
{
    auto cached = load_chat_cache(m_options.cache_path);
    if (!cached || !cache_fits_store(*cached))
        return false;
    m_chats.clear();
    m_outbox_chats.clear();
    std::vector<EntryId> outbox;
    for (auto& entry : cached->chats) {
        auto chat = std::make_unique<Chat>();
        chat->messages.reserve(entry.messages.size());
        chat->name = std::move(entry.name);
        chat->address = std::move(entry.address);
        chat->key = std::move(entry.key);
        chat->unread = entry.unread;
        chat->named_by_contact = entry.named_by_contact;
        for (auto& message : entry.messages) {
            MessageRecord record;
            record.folder = message.folder;
            record.id = message.id;
            if (record.folder == FolderKind::Outbox) {
                m_outbox_chats.insert(chat->key);
                outbox.push_back(record.id);
            }
            chat->messages.push_back(std::move(record));
        }
        m_chats.push_back(std::move(chat));
    }
    m_follower.know_cached(cached->folders, std::move(outbox));
    return true;
}

// The file holds each chat's messages from its newest word (no report, no draft) or from the
// oldest it holds that waits in the outbox, whichever is older, on: the next start holds them as
// this one does, and the rest comes from the store's index when shown.
void ChatModel::save_cache()
{
    ChatCacheFile cache;
    cache.folders = m_follower.marks();
    cache.chats.reserve(m_chats.size());
    for (auto const& chat : m_chats) {
        CachedChat entry { chat->name, chat->address, chat->key, chat->unread, chat->named_by_contact, {} };
        auto const& messages = chat->messages;
        auto waiting = std::find_if(messages.begin(), messages.end(), [](MessageRecord const& message) { return message.folder == FolderKind::Outbox; });
        auto word = std::find_if(messages.rbegin(), messages.rend(), [](MessageRecord const& message) { return message.folder != FolderKind::Drafts && !message.is_report(); });
        auto first = std::min(waiting, word == messages.rend() ? messages.begin() : std::prev(word.base()));
        for (auto message = first; message != messages.end(); ++message) {
            if (!message->id.is_empty() && entry.messages.size() < static_cast<size_t>(most_cached_messages_per_chat))
                entry.messages.push_back({ message->folder, message->id });
        }
        cache.chats.push_back(std::move(entry));
    }
    save_chat_cache(m_options.cache_path, cache);
}

void ChatModel::assign_contacts()
{
    m_naming.assign_contacts();
    save_cache_if_renamed();
}

void ChatModel::name_chats()
{
    m_naming.name_chats();
    save_cache_if_renamed();
}

void ChatModel::poll_contacts()
{
    m_naming.poll_contacts();
    save_cache_if_renamed();
}

void ChatModel::save_cache_if_renamed()
{
    if (m_naming.take_names_changed())
        save_cache();
}

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
    if (message.awaits_reading() && chat.unread > 0) {
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
    // Its older messages, which it did not hold, may still be there.
    if (dropped && chat.messages.empty())
        refill(chat);
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
