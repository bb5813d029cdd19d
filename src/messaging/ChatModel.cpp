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
    // once, and a chat of twenty thousand messages costs no more than a short one.
    std::vector<EntryId> unread;
    for (auto const& message : chat.messages) {
        if (message.folder == FolderKind::Incoming && message.unread())
            unread.push_back(message.id);
    }
    if (!unread.empty() && !sms().mark_read(unread))
        return;
    for (auto& message : chat.messages) {
        if (message.folder == FolderKind::Incoming)
            message.flags |= message_flag_read;
    }
    chat.unread = 0;
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

// What another program deleted leaves its chat.
void ChatModel::follow_deletions(bool notify)
{
    std::vector<EntryId> gone = m_follower.take_deleted();
    if (!gone.empty())
        remove_gone_messages(gone, notify);
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
            if (message.awaits_reading() && chat.unread > 0)
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
    if (!unread)
        return;
    for (size_t index = 0; index < m_chats.size(); ++index) {
        Chat& chat = *m_chats[index];
        int32_t marked = 0;
        for (auto& message : chat.messages) {
            if (message.folder != FolderKind::Incoming)
                continue;
            bool is_unread = std::binary_search(unread->begin(), unread->end(), message.id);
            message.flags = is_unread ? message.flags & ~message_flag_read : message.flags | message_flag_read;
            marked += is_unread && !message.is_report() ? 1 : 0;
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

// A cache describes one store: every id in it must be this store's, and no message may stand in
// two places. Anything else (another device's cache, one from a store since made anew) is not
// believed, and the chats are built from the store instead.
bool ChatModel::cache_fits_store(std::vector<CachedChat> const& cached) const
{
    for (auto const& entry : cached) {
        for (auto const& message : entry.messages) {
            if (!sms().owns_id(message.id)) {
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
    m_outbox_chats.clear();
    if (!m_follower.know_cached(*cached))
        return false;
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
            if (record.folder == FolderKind::Outbox)
                m_outbox_chats.insert(chat->key);
            chat->messages.push_back(std::move(record));
        }
        m_chats.push_back(std::move(chat));
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
                if (message.awaits_reading())
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
