#pragma once

#include "messaging/Chat.h"
#include "messaging/ChatCache.h"
#include "messaging/ChatNaming.h"
#include "messaging/SmsManager.h"
#include "messaging/StoreFollower.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace velloq {

struct ChatEvent {
    enum class Kind {
        Inserted = 1,
        Renamed = 2,
        Removed = 3,
        MessageAppended = 4,
        // How far a message from the user got changed (sent, delivered, not sent).
        MessageChanged = 5,
        MessageRemoved = 6,
    };
    Kind kind { Kind::Inserted };
    int32_t index { 0 };
    Chat* chat { nullptr };
};

class ChatListener {
public:
    virtual ~ChatListener() = default;
    virtual void on_document_refresh(ChatEvent const&) = 0;
};

// The program's document: the store's messages gathered into chats by number, newest chat
// first, kept in step with the store by `update_chats`, remembered between runs by the cache
// file, and watched by the forms through chat events.
class ChatModel final {
public:
    struct Options {
        // The cache describes one device's store, so it lives beside it: `cache` in the device
        // folder when empty.
        std::u16string cache_path;
        // The program the notification broker starts on a new message: this program.
        std::u16string program_path { u"%app_path%/velloq" };
        // The device folder's contacts/ in the program.
        std::string contacts_folder;
        // The desktop's own vCard folder (Plasma's address book), read with one level of
        // subfolders; its contacts give way to the device's for the same number.
        // $XDG_DATA_HOME/kpeoplevcard when unset; empty for none.
        std::optional<std::string> desktop_contacts_folder;
    };

    ChatModel();
    explicit ChatModel(Options);
    ~ChatModel();
    ChatModel(ChatModel const&) = delete;
    ChatModel& operator=(ChatModel const&) = delete;

    using Progress = std::function<void(double)>;
    bool update_chats(bool notify, Progress const& progress = {});
    // What keeps the messages from being read (a store that cannot be opened: a read-only or
    // missing device folder, a damaged file), or nothing.
    std::optional<std::string> store_problem() const;
    bool load_cache();
    void save_cache();
    bool read_message(MessageRecord&);
    // Reads a message the chat holds: one from the user to several is narrowed to the chat's recipient.
    bool read_message(MessageRecord&, Chat const&);
    // Whether a message of a chat is still there: its id is known and the store still holds it.
    // A record that holds only an id is filled as `read_message` fills it.
    bool validate_message(MessageRecord&);
    // Whether the store's folder of that kind holds the message.
    bool folder_holds(FolderKind kind, EntryId const& id) { return sms().folder_of(id) == kind; }
    void delete_message(MessageRecord const&);
    // A message of a chat the user deletes: it goes from the store and the chat (and the chat's
    // unread count), the lists are told, and the cache and unread count are saved.
    void delete_chat_message(Chat& chat, int32_t index);
    // A message found gone from the store (another program deleted it) leaves the chat; the lists
    // are told and the cache saved.
    void drop_message(Chat& chat, int32_t index);
    // Drops the messages at the chat's end that the store no longer holds; true when any went.
    bool drop_vanished_messages(Chat& chat);
    // The chat leaves the list (its messages stay wherever they are); the lists are told and the
    // cache saved.
    void remove_chat(Chat const& chat);
    // A new conversation, at the top of the list until it has messages; the lists are told.
    Chat& add_chat(std::unique_ptr<Chat> chat);
    void save_unread();
    // Marks every unread message of the chat read, those it does not hold too.
    void mark_chat_read(Chat&);

    // Reads up to `count` of the chat's messages older than those it holds from the store's index
    // (records that hold their id, folder and time; they are read in full when shown); the number
    // read. The chat's indexes move by that number.
    size_t load_older(Chat&, size_t count);
    // Holds the chat's messages from the one with `id` on; false when it is not one of the chat's.
    bool load_through(Chat&, EntryId const& id);
    // How many messages the chat has in the store; nullopt when the store cannot tell.
    std::optional<int64_t> count_messages(Chat const&);
    // The chat's newest draft, read, whether the chat holds it or not.
    std::optional<MessageRecord> draft_of(Chat&);

    void add_listener(ChatListener*);
    void remove_listener(ChatListener*);
    void send_event(ChatEvent const&);

    // The chats, newest first; only the model adds, removes or reorders them.
    std::vector<std::unique_ptr<Chat>> const& chats() const { return m_chats; }
    Chat* find_chat(std::u16string const& key);
    // The next update reads whole folders (message mode: the program may have missed anything).
    void set_full_scan() { m_follower.set_full_scan(); }
    // The newest unread incoming message of the last update; taking clears it.
    std::optional<MessageRecord> take_new_message() { return std::exchange(m_new_message, std::nullopt); }
    std::u16string const& current_chat_key() const { return m_current_key; }
    // Stores the key, marks the phone-book entries of that chat and sorts the phone book.
    void set_current_chat_key(std::u16string key);

    // Contacts: read them all, build the phone book and name the chats (start-up).
    // A chat that took a contact's name keeps it in the cache, so the next start shows it in its
    // first frame.
    void assign_contacts();
    void name_chats();
    // Handles the contacts folder's changes since the last call (the main loop's poll).
    void poll_contacts();
    std::vector<int> contact_descriptors() const { return m_naming.contact_descriptors(); }
    bool find_contact_by_phone(std::u16string const& number, Contact& contact) { return m_naming.find_contact_by_phone(number, contact); }
    // The file of a contact, for the phone's contact application; empty when unknown.
    std::u16string contact_file(int32_t oid) const { return m_naming.contact_file(oid); }
    std::string contact_photo_digest(int32_t oid) const { return m_naming.contact_photo_digest(oid); }
    std::string contact_photo(int32_t oid) const { return m_naming.contact_photo(oid); }
    PhoneBook& phone_book() { return m_naming.phone_book(); }
    std::u16string const& pending_text() const { return m_pending_text; }
    void set_pending_text(std::u16string text) { m_pending_text = std::move(text); }
    SmsManager& sms() { return m_follower.sms(); }

private:
    void save_cache_if_renamed();
    bool cache_fits_store(ChatCacheFile const&) const;
    SmsManager const& sms() const { return m_follower.sms(); }
    bool reach_store();
    bool take_store_changes(bool notify, Progress const& progress);
    void follow_unread_count(bool notify);
    void follow_deletions(bool notify);
    bool drop_deleted_messages(Chat&, bool notify);
    // A first start: the chats from the store's index, each with its newest message, without
    // reading the store's messages.
    bool seed_from_index(bool notify, Progress const& progress);
    std::unique_ptr<Chat> chat_of_index(SmsManager::IndexedChat&);
    // The chats holding an outbox message hold their messages from it on; the ids read.
    std::vector<EntryId> hold_outbox(std::vector<EntryId> const& outbox, std::vector<std::unique_ptr<Chat>>& chats);
    // The chat holds its messages from its newest word (no report, no draft) on, which the chat
    // list shows.
    void hold_newest_word(Chat&);
    bool is_word(Chat const&, MessageRecord&);
    // A chat whose held messages all went takes its newest from the store again; false when it has none.
    bool refill(Chat&);
    bool check_outbox(bool notify, std::vector<EntryId>& new_outbox);
    bool settle_chat_outbox(Chat&, std::vector<EntryId> const& outbox, bool states_due, bool notify, std::vector<EntryId>& held);
    void mark_reports_read(std::vector<MessageRecord>& batch);
    // Where a message went among the chat's, or `not_held` when it stays in the store for now.
    static constexpr size_t not_held = static_cast<size_t>(-1);
    size_t place_by_time(Chat& chat, MessageRecord&& record);
    void distribute(std::vector<MessageRecord>& batch, bool notify, Progress const&);
    static std::vector<uint32_t> message_order(std::vector<MessageRecord> const& batch);
    // The chats an update added to, by key, out of the list until it is done.
    struct Touched {
        std::vector<std::unique_ptr<Chat>> chats;
        std::unordered_map<std::u16string, Chat*> by_key;
    };
    Chat* touch_chat(std::u16string const& key, MessageRecord const& record, size_t room, Touched&, bool notify);
    static void keep_newest_in_full(Chat&);
    // Reads again how far a message in the outbox got, when it was read before (the newest of its
    // chat; older ones are read again when shown); event 5 when it changed.
    void refresh_send_state(Chat& chat, int32_t index, bool notify);

    Options m_options;
    ChatNaming m_naming;
    StoreFollower m_follower;
    std::vector<std::unique_ptr<Chat>> m_chats;
    // The keys of the chats that took a message of the outbox and may still hold it: the poll
    // looks at their messages alone, so its cost does not grow with the store.
    std::unordered_set<std::u16string> m_outbox_chats;
    std::optional<MessageRecord> m_new_message;
    std::vector<ChatListener*> m_listeners;
    std::u16string m_current_key;
    std::u16string m_pending_text;
    bool m_cache_pending { false };
};

}
