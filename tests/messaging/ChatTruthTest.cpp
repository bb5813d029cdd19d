// The chats always tell the truth about the store: whatever the cache holds, after any number of
// starts every chat holds exactly the store's messages of its number, with the store's unread count.
#include "messaging/AlertRegistration.h"
#include "messaging/ChatModel.h"
#include "messaging/Transmitter.h"

#include "platform/Folders.h"
#include "platform/RegistryStore.h"
#include "platform/Utf.h"
#include "shell/Registry.h"
#include "shell/StateNotification.h"
#include "support/TempDevice.h"
#include "support/Wait.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>

using namespace velloq;
using platform::Bytes;
using platform::StoredMessage;
namespace Tag = platform::Tag;
namespace fs = std::filesystem;

namespace {

struct ChatPicture {
    std::set<std::string> ids;
    int32_t unread { 0 };
    bool operator==(ChatPicture const&) const = default;
};
using Picture = std::map<std::u16string, ChatPicture>;

void PrintTo(Picture const& picture, std::ostream* out)
{
    for (auto const& [key, chat] : picture)
        *out << to_utf8(key) << ": " << chat.ids.size() << " messages, " << chat.unread << " unread; ";
}

class ChatTruth : public testing::Test {
protected:
    void SetUp() override
    {
        use_device(device.path());
        // As in every process that logs: the broker's decisions are logged.
        log_broker_decisions();
    }

    // Switches the process to another device folder, as a second device run from the same program would.
    void use_device(fs::path const& folder)
    {
        fs::create_directories(folder);
        ::setenv("VELLOQ_DEVICE", folder.c_str(), 1);
        platform::use_device_folder(folder.string());
        std::string error;
        store = platform::MessageStore::open_device(error);
        ASSERT_NE(store, nullptr) << error;
        auto sms = store->stores()->front().entry_id;
        inbox = *store->store_property(sms, Tag::InboxEntryId);
        drafts = *store->store_property(sms, Tag::DraftsEntryId);
    }
    ChatModel::Options options(fs::path const& cache) const { return { cache.u16string(), u"" VELLOQ_TEST_MARKER, {} }; }
    StoredMessage incoming(std::u16string address, std::u16string text, int64_t minute, std::u16string name = {}, int64_t flags = 0) const
    {
        StoredMessage message;
        message.properties = { { Tag::Subject, std::move(text) }, { Tag::MessageFlags, flags },
            { Tag::DeliveryTime, MessageTime::from_unix_milliseconds(1'700'000'000'000LL + minute * 60'000).filetime() },
            { Tag::SenderName, std::move(name) }, { Tag::SenderAddress, std::move(address) }, { Tag::MessageClass, std::u16string(u"IPM.SMStext") } };
        return message;
    }
    void deliver(std::u16string address, std::u16string text, int64_t minute, std::u16string name = {})
    {
        ASSERT_TRUE(store->create_message(inbox, incoming(std::move(address), std::move(text), minute, std::move(name)), false));
    }
    // What the store holds, read message by message without the chat model.
    Picture store_picture()
    {
        SmsManager manager;
        Picture picture;
        for (FolderKind folder : { FolderKind::Incoming, FolderKind::Sent, FolderKind::Drafts, FolderKind::Outbox }) {
            for (int32_t index = 0; index < manager.get_length(folder); ++index) {
                EntryId id = manager.get_id(folder, index);
                MessageRecord record;
                if (!manager.read_sms(id, record) || (record.peer().name.empty() && record.peer().address.empty()))
                    continue;
                record.folder = folder;
                // A message from the user outside the inbox is in the chat of each recipient.
                std::set<std::u16string> keys { chat_key_of(record) };
                for (size_t further = 1; folder != FolderKind::Incoming && !record.in_group() && further < record.recipients.size(); ++further) {
                    MessageRecord copy = record;
                    copy.recipients = { record.recipients[further] };
                    keys.insert(chat_key_of(copy));
                }
                for (auto const& key : keys) {
                    picture[key].ids.insert(id.hex());
                    picture[key].unread += record.awaits_reading() ? 1 : 0;
                }
            }
        }
        return picture;
    }
    // The chats with all their messages, those they hold and those the store's index gives.
    static Picture model_picture(ChatModel& model)
    {
        Picture picture;
        for (auto const& chat : model.chats()) {
            while (model.load_older(*chat, 1000) > 0) {
            }
            ChatPicture& seen = picture[chat->key];
            for (auto const& message : chat->messages)
                seen.ids.insert(message.id.hex());
            seen.unread += chat->unread;
        }
        return picture;
    }
    // A start of the program: the model with its cache, its first update, and its picture.
    Picture start(fs::path const& cache)
    {
        ChatModel model(options(cache));
        model.update_chats(false);
        return model_picture(model);
    }
    std::u16string log_text() const { return test::read_utf16_file(fs::path(platform::device_folder()) / "Temp" / device.log_file().filename()); }

    test::TempDevice device;
    std::unique_ptr<platform::MessageStore> store;
    Bytes inbox;
    Bytes drafts;
};

}

TEST_F(ChatTruth, ACacheOfAnotherDeviceOrOfAStoreMadeAnewIsNotBelieved)
{
    // One program folder, one cache file in it (as earlier versions kept it), two devices.
    fs::path shared_cache = device.path() / "program" / "cache";
    fs::create_directories(shared_cache.parent_path());
    fs::path first = device.path() / "first";
    fs::path second = device.path() / "second";
    use_device(first);
    deliver(u"+4915100001", u"for the first device", 1);
    deliver(u"+4915100002", u"also first", 2);
    EXPECT_EQ(start(shared_cache), store_picture());
    use_device(second);
    deliver(u"+4915100003", u"for the second device", 3);
    EXPECT_EQ(start(shared_cache), store_picture());
    use_device(first);
    deliver(u"+4915100003", u"the same number, another device", 4);
    EXPECT_EQ(start(shared_cache), store_picture());

    // The first device's store is deleted and seeded again: rows 1 and 2 exist again, but they
    // are other messages of other people.
    store.reset();
    for (char const* file : { "messages.db", "messages.db-wal", "messages.db-shm", "messages.db.changes" })
        fs::remove(first / file);
    use_device(first);
    deliver(u"+4915100007", u"a new store", 5);
    deliver(u"+4915100008", u"and its second message", 6);
    Picture fresh = store_picture();
    EXPECT_EQ(start(shared_cache), fresh);
    EXPECT_EQ(fresh.count(u"5100001"), 0u);
}

TEST_F(ChatTruth, AnMmsToSeveralPeopleIsInTheChatOfAllOfThemAcrossStarts)
{
    fs::path cache = device.path() / "cache";
    auto group_mms = [&](std::u16string sender, std::u16string members, int64_t minute) {
        StoredMessage message = incoming(std::move(sender), u"to all of us", minute);
        message.properties[Tag::MessageClass] = std::u16string(u"IPM.MMS");
        message.properties[Tag::MmsMembers] = std::move(members);
        ASSERT_TRUE(store->create_message(inbox, message, false));
    };
    deliver(u"+4915100001", u"just to me", 1);
    group_mms(u"+4915100001", u"+4915100002\n+4915100003\n", 2);
    EXPECT_EQ(start(cache), store_picture());
    // Another member writes to the same people; an MMS to the user alone stays one-to-one.
    group_mms(u"+49 151 000 03", u"+4915100001\n+4915100002\n", 3);
    group_mms(u"+4915100002", u"", 4);
    Picture picture = store_picture();
    EXPECT_EQ(start(cache), picture);
    ASSERT_EQ(picture.count(u"5100001;5100002;5100003"), 1u);
    EXPECT_EQ(picture[u"5100001;5100002;5100003"].ids.size(), 2u);
    EXPECT_EQ(picture[u"5100001"].ids.size(), 1u);
    EXPECT_EQ(picture[u"5100002"].ids.size(), 1u);
    ChatModel model(options(cache));
    model.update_chats(false);
    Chat* group = model.find_chat(u"5100001;5100002;5100003");
    ASSERT_NE(group, nullptr);
    EXPECT_TRUE(group->is_group());
    EXPECT_EQ(platform::group_members(group->address).size(), 3u);
}

// A message that arrives late, older than the chat's newest, takes its place by time: a start
// from the cache written after it still finds every message.
TEST_F(ChatTruth, ALateMessageOlderThanTheChatsNewestKeepsTheOthersInViewAcrossStarts)
{
    fs::path cache = device.path() / "cache";
    deliver(u"+4915100001", u"early", 1);
    deliver(u"+4915100001", u"on time", 5);
    {
        ChatModel model(options(cache));
        model.update_chats(false);
        deliver(u"+4915100001", u"sent at 3, came last", 3);
        model.update_chats(false);
        Chat* chat = model.find_chat(u"5100001");
        ASSERT_NE(chat, nullptr);
        EXPECT_EQ(chat->messages.back().text, u"on time");
        EXPECT_EQ(chat->unread, 3);
        model.save_cache();
    }
    EXPECT_EQ(start(cache), store_picture());
    // Read whole, the chat is in order, the late one in its place.
    ChatModel model(options(cache));
    model.update_chats(false);
    Chat* chat = model.find_chat(u"5100001");
    ASSERT_NE(chat, nullptr);
    while (model.load_older(*chat, 10) > 0) {
    }
    deliver(u"+4915100001", u"sent at 2, came later still", 2);
    model.update_chats(false);
    ASSERT_EQ(chat->messages.size(), 4u);
    for (auto& message : chat->messages)
        ASSERT_TRUE(model.read_message(message, *chat));
    EXPECT_TRUE(std::is_sorted(chat->messages.begin(), chat->messages.end(), message_before));
    EXPECT_EQ(chat->messages[1].text, u"sent at 2, came later still");
}

TEST_F(ChatTruth, EachDeviceKeepsItsCacheBesideItsStore)
{
    deliver(u"+4915100001", u"hello", 1);
    {
        ChatModel model(options({}));
        model.update_chats(false);
    }
    EXPECT_TRUE(fs::exists(device.path() / "cache"));
    ChatModel model(options({}));
    EXPECT_EQ(model.chats().size(), 1u);
}

TEST_F(ChatTruth, SendersWithoutDigitsKeepTheirChatsAcrossStarts)
{
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    fs::path cache = device.path() / "cache";
    deliver(u"Info", u"no name", 1);
    deliver(u"INFO", u"named", 2, u"Info Service");
    EXPECT_EQ(start(cache), store_picture());
    deliver(u"INFO", u"again", 3, u"Info Service");
    size_t logged_before = log_text().size();
    {
        ChatModel model(options(cache));
        model.update_chats(false);
        EXPECT_EQ(model_picture(model), store_picture());
        EXPECT_EQ(model.find_chat(u"INFO")->messages.size(), 2u);
        EXPECT_EQ(model.find_chat(u"Info Service"), nullptr);
    }
    EXPECT_EQ(log_text().find(u"load_cache failed", logged_before), std::u16string::npos);
    EXPECT_NE(log_text().find(u"load_cache success:2 chats", logged_before), std::u16string::npos);
}

TEST_F(ChatTruth, AChatLongerThanTheCacheHoldsKeepsTheStoresUnreadCount)
{
    fs::path cache = device.path() / "cache";
    std::vector<std::pair<Bytes, StoredMessage>> many;
    for (int i = 0; i < most_cached_messages_per_chat + 10; ++i)
        many.emplace_back(inbox, incoming(u"+4915100001", u"n", i, {}, i % 3 == 0 ? 0 : 1));
    ASSERT_TRUE(store->create_messages(many));
    int64_t unread = *store->unread_inbox_count();
    for (int run = 0; run < 3; ++run) {
        Picture seen = start(cache);
        EXPECT_EQ(seen.at(u"5100001").unread, unread) << "start " << run;
        EXPECT_EQ(seen.at(u"5100001").ids.size(), many.size()) << "start " << run;
        int32_t saved = 0;
        EXPECT_TRUE(reg_get_int(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Unread", saved));
        EXPECT_EQ(saved, unread);
    }
}

TEST_F(ChatTruth, ADraftWithoutRecipientsIsNoFailedRead)
{
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    StoredMessage draft;
    draft.properties = { { Tag::Subject, std::u16string(u"nobody yet") }, { Tag::MessageFlags, int64_t(0x29) },
        { Tag::DeliveryTime, MessageTime::from_unix_milliseconds(1'700'000'000'000LL).filetime() } };
    ASSERT_TRUE(store->create_message(drafts, draft, false));
    ChatModel model(options(device.path() / "cache"));
    model.update_chats(false);
    deliver(u"+4915100001", u"later", 2);
    EXPECT_TRUE(model.update_chats(true));
    EXPECT_FALSE(model.update_chats(true));
    EXPECT_EQ(log_text().find(u"sms_manager reloaded"), std::u16string::npos);
    EXPECT_EQ(model_picture(model), store_picture());
}

TEST_F(ChatTruth, AnEarlierStoreGetsATagAndItsOldIdsMatchNothing)
{
    deliver(u"+4915100001", u"kept", 1);
    store.reset();
    // Make it a store of the version before: twelve-byte ids and no identity.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((device.path() / "messages.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE store_identity; UPDATE messages SET entry_id = X'56514D530000000000000001' WHERE id = 1; PRAGMA user_version = 2;",
                  nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
    ChatCacheFile cached;
    cached.chats = { { u"", u"+4915100001", u"", 1, false, { { FolderKind::Incoming, EntryId(Bytes { 'V', 'Q', 'M', 'S', 0, 0, 0, 0, 0, 0, 0, 1 }) } } } };
    ASSERT_TRUE(save_chat_cache((device.path() / "cache").u16string(), cached));
    SmsManager manager;
    EntryId migrated = manager.get_id(FolderKind::Incoming, 0);
    EXPECT_EQ(migrated.length(), 20u);
    EXPECT_FALSE(manager.owns_id(cached.chats.front().messages.front().id));
    MessageRecord record;
    ASSERT_TRUE(manager.read_sms(migrated, record));
    EXPECT_EQ(record.text, u"kept");
    // The cache of the store before the migration costs a rebuild, nothing else.
    EXPECT_EQ(start(device.path() / "cache"), store_picture());
}

TEST_F(ChatTruth, MarkingAChatReadChangesTheUnreadCountOnce)
{
    std::vector<std::pair<Bytes, StoredMessage>> many;
    for (int i = 0; i < 60; ++i)
        many.emplace_back(inbox, incoming(u"+4915100001", u"unread", i));
    ASSERT_TRUE(store->create_messages(many));
    deliver(u"+4915100002", u"stays unread", 100);
    ChatModel model(options(device.path() / "cache"));
    model.update_chats(false);
    // Every start of the registered program is one line; it ends at once.
    auto program = device.path() / "counting-program";
    auto starts = device.path() / "starts";
    std::ofstream(program) << "#!/bin/sh\necho started >> \"$1\"\n";
    fs::permissions(program, fs::perms::owner_all);
    ASSERT_TRUE(stop_app_notification(u"Ketra.Velloq.message"));
    ASSERT_TRUE(set_app_notification(u"Ketra.Velloq.message", u"\"" + program.u16string() + u"\" \"" + starts.u16string() + u"\""));
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    model.mark_chat_read(*model.find_chat(u"5100001"));
    EXPECT_EQ(model.find_chat(u"5100001")->unread, 0);
    EXPECT_EQ(*store->unread_inbox_count(), 1);
    // The broker logs each decision before the write returns: one change, one start.
    auto decisions = device.log_lines(u"broker ");
    ASSERT_EQ(decisions.size(), 1u);
    EXPECT_TRUE(decisions[0].starts_with(u"broker Ketra.Velloq.message: started pid ")) << to_utf8(decisions[0]);
    EXPECT_TRUE(test::wait_for_file(starts));
    EXPECT_EQ(model_picture(model), store_picture());
}

TEST_F(ChatTruth, TheAlertNamesTheSenderWithoutThePhoneBookRead)
{
    fs::create_directories(device.path() / "contacts");
    std::ofstream(device.path() / "contacts" / "anna.vcf") << "BEGIN:VCARD\nVERSION:3.0\nFN:Anna Berg\nTEL;TYPE=CELL:+49 151 12345678\nEND:VCARD\n";
    ChatModel model(options(device.path() / "cache"));
    Contact contact;
    ASSERT_TRUE(model.find_contact_by_phone(u"+4915112345678", contact));
    EXPECT_EQ(contact.display_name(), u"Anna Berg");
}

namespace {

// Another process holds the database so that no one else can read or write it, as a crashed
// writer or a backup tool can.
class DatabaseLock {
public:
    explicit DatabaseLock(fs::path const& file)
    {
        sqlite3_open(file.c_str(), &m_database);
        sqlite3_exec(m_database, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; CREATE TABLE IF NOT EXISTS held(x);", nullptr, nullptr, nullptr);
    }
    ~DatabaseLock() { release(); }
    void release()
    {
        if (!m_database)
            return;
        sqlite3_exec(m_database, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(m_database);
        m_database = nullptr;
    }

private:
    sqlite3* m_database { nullptr };
};

}

TEST_F(ChatTruth, AStoreThatCannotBeReadAtStartIsReadLaterAndNothingIsLostMeanwhile)
{
    fs::path cache = device.path() / "cache";
    deliver(u"+4915100001", u"one", 1);
    deliver(u"+4915100002", u"two", 2);
    Picture before = start(cache);
    ASSERT_EQ(before.size(), 2u);
    store.reset();
    DatabaseLock lock(device.path() / "messages.db");
    std::string error;
    ASSERT_EQ(platform::MessageStore::open_device(error), nullptr) << "the lock holds nothing";
    ChatModel model(options(cache));
    EXPECT_FALSE(model.update_chats(true));
    EXPECT_FALSE(model.update_chats(true));
    EXPECT_TRUE(fs::exists(cache));
    lock.release();
    use_device(device.path());
    deliver(u"+4915100003", u"while it was locked", 3);
    EXPECT_TRUE(model.update_chats(true));
    EXPECT_EQ(model_picture(model), store_picture());
    EXPECT_EQ(model.chats().size(), 3u);
}

TEST_F(ChatTruth, AMessageStaysInItsChatWhileTheStoreCannotBeAsked)
{
    deliver(u"+4915100001", u"one", 1);
    ChatModel model(options(device.path() / "cache"));
    model.update_chats(false);
    MessageRecord record = model.chats().front()->messages.back();
    // The store breaks under the running program (a damaged file, another program's mistake):
    // it can neither read the message nor count a folder.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((device.path() / "messages.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "ALTER TABLE properties RENAME TO hidden; ALTER TABLE folder_counts RENAME TO hidden_counts;", nullptr, nullptr, nullptr), SQLITE_OK);
    MessageRecord slim;
    slim.id = record.id;
    slim.folder = record.folder;
    EXPECT_TRUE(model.validate_message(slim));
    EXPECT_FALSE(model.update_chats(true));
    EXPECT_EQ(model.chats().size(), 1u);
    EXPECT_TRUE(fs::exists(device.path() / "cache"));
    ASSERT_EQ(sqlite3_exec(db, "ALTER TABLE hidden RENAME TO properties; ALTER TABLE hidden_counts RENAME TO folder_counts;", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    ASSERT_TRUE(store->delete_message(inbox, record.id.bytes()));
    EXPECT_FALSE(model.validate_message(slim));
}

TEST_F(ChatTruth, ReadsByOtherProgramsShowInTheUnreadMarks)
{
    deliver(u"+4915100001", u"one", 1);
    deliver(u"+4915100001", u"two", 2);
    deliver(u"+4915100001", u"three", 3);
    ChatModel model(options(device.path() / "cache"));
    model.update_chats(false);
    ASSERT_EQ(model.find_chat(u"5100001")->unread, 3);
    SmsManager other;
    ASSERT_TRUE(other.set_sms_read(other.get_id(FolderKind::Incoming, 0), true));
    ASSERT_TRUE(other.set_sms_read(other.get_id(FolderKind::Incoming, 1), true));
    model.update_chats(true);
    EXPECT_EQ(model.find_chat(u"5100001")->unread, 1);
    int32_t saved = 0;
    EXPECT_TRUE(reg_get_int(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Unread", saved));
    EXPECT_EQ(saved, 1);
    EXPECT_EQ(model_picture(model), store_picture());
}

TEST_F(ChatTruth, TheNewMessageRegistrationFollowsTheAlertsSetting)
{
    // A program that crashed with alerts off left its registration behind.
    auto marker = device.path() / "started";
    ASSERT_TRUE(set_app_notification(u"Ketra.Velloq.message", u"\"" VELLOQ_TEST_MARKER u"\" \"" + marker.u16string() + u"\""));
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Alerts", 0));
    ChatModel model(options(device.path() / "cache"));
    AlertRegistration alerts(u"" VELLOQ_TEST_MARKER);
    alerts.install();
    EXPECT_FALSE(alerts.on());
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    deliver(u"+4915100001", u"nobody is started for this", 1);
    int32_t count = 0;
    ASSERT_TRUE(reg_get_int(u"HKEY_CURRENT_USER\\System\\State\\Messages\\SMS\\Unread", u"Count", count));
    ASSERT_EQ(count, 1);
    // The count changed and no registration was left to start anything.
    EXPECT_TRUE(device.log_lines(u"broker ").empty());
    alerts.set_on(true);
    EXPECT_EQ(platform::RegistryStore::instance().stop_notification(u"Ketra.Velloq.message"), platform::BrokerResult::Stopped);
    alerts.set_on(false);
    EXPECT_EQ(platform::RegistryStore::instance().stop_notification(u"Ketra.Velloq.message"), platform::BrokerResult::NotFound);
}

TEST_F(ChatTruth, AMessageThatTakesTheRowCountOfADeletedOneStillShows)
{
    deliver(u"+4915100001", u"old", 1);
    deliver(u"+4915100002", u"to be deleted", 2);
    ChatModel model(options(device.path() / "cache"));
    model.update_chats(false);
    // Another program deletes one message and a new one arrives: the inbox has as many rows as before.
    SmsManager other;
    MessageRecord gone;
    gone.id = other.get_id(FolderKind::Incoming, 1);
    ASSERT_TRUE(other.delete_message(FolderKind::Incoming, gone));
    deliver(u"+4915100003", u"new", 3);
    EXPECT_TRUE(model.update_chats(true));
    ASSERT_NE(model.find_chat(u"5100003"), nullptr);
    EXPECT_EQ(model.chats().front()->key, u"5100003");
}

TEST_F(ChatTruth, ACacheThatFilesOneMessageTwiceIsNotBelieved)
{
    fs::path cache = device.path() / "cache";
    deliver(u"+4915100001", u"mine", 1);
    {
        ChatModel model(options(cache));
        model.update_chats(false);
    }
    auto cached = load_chat_cache(cache.u16string());
    ASSERT_TRUE(cached && cached->chats.size() == 1u);
    // A damaged cache puts the message into a stranger's chat too.
    CachedChat stranger { u"", u"+4915199999", u"", 0, false, cached->chats.front().messages };
    cached->chats.push_back(stranger);
    ASSERT_TRUE(save_chat_cache(cache.u16string(), *cached));
    ChatModel model(options(cache));
    EXPECT_TRUE(model.chats().empty());
    model.update_chats(false);
    EXPECT_EQ(model_picture(model), store_picture());
}

TEST_F(ChatTruth, MessagesDeletedByAnotherProgramLeaveTheirChatsAtTheNextPoll)
{
    deliver(u"+4915100001", u"keep", 1);
    deliver(u"+4915100001", u"delete me, I was read", 2);
    deliver(u"+4915100002", u"the only one", 3);
    ChatModel model(options(device.path() / "cache"));
    model.update_chats(false);
    SmsManager other;
    ASSERT_TRUE(other.set_sms_read(other.get_id(FolderKind::Incoming, 1), true));
    model.update_chats(true);
    struct Events final : ChatListener {
        void on_document_refresh(ChatEvent const& event) override { kinds.push_back(event.kind); }
        std::vector<ChatEvent::Kind> kinds;
    } events;
    model.add_listener(&events);
    for (int32_t row : { 2, 1 }) {
        MessageRecord gone;
        gone.id = other.get_id(FolderKind::Incoming, row);
        ASSERT_TRUE(other.delete_message(FolderKind::Incoming, gone));
    }
    model.update_chats(true);
    model.remove_listener(&events);
    EXPECT_EQ(model_picture(model), store_picture());
    ASSERT_NE(model.find_chat(u"5100001"), nullptr);
    MessageRecord& newest = model.find_chat(u"5100001")->messages.back();
    ASSERT_TRUE(model.read_message(newest));
    EXPECT_EQ(newest.text, u"keep");
    EXPECT_EQ(model.find_chat(u"5100002"), nullptr) << "a chat left without messages leaves the list";
    EXPECT_EQ(std::count(events.kinds.begin(), events.kinds.end(), ChatEvent::Kind::MessageRemoved), 2);
    EXPECT_EQ(std::count(events.kinds.begin(), events.kinds.end(), ChatEvent::Kind::Removed), 1);
    // Another start agrees: the cache was saved without them.
    EXPECT_EQ(start(device.path() / "cache"), store_picture());
}

namespace {

// The store's own index of the chats: each key with its messages and unread count.
Picture index_picture(platform::MessageStore& store)
{
    Picture picture;
    auto chats = store.chat_index().chats();
    EXPECT_TRUE(chats);
    for (auto const& chat : chats.value_or({})) {
        ChatPicture& seen = picture[chat.key];
        seen.unread = static_cast<int32_t>(chat.unread);
        auto messages = store.chat_index().messages(chat.key, std::nullopt, 1'000'000);
        EXPECT_TRUE(messages);
        for (auto const& message : messages.value_or({}))
            seen.ids.insert(EntryId(message.entry).hex());
        EXPECT_EQ(store.chat_index().count(chat.key), static_cast<int64_t>(seen.ids.size()));
        bool newest_first = !messages.value_or({}).empty() && messages->front().entry == chat.newest.entry;
        EXPECT_TRUE(newest_first) << "the newest comes first";
    }
    return picture;
}

}

// Every writer files what it writes in the store's index of chats, under the keys the chat model
// gives: messages from numbers and from names, to several recipients, reports by the number in
// their text, drafts without anyone, read flags set by any program, changed senders, deletions,
// and a store from before the index, which gets one.
TEST_F(ChatTruth, TheStoresIndexFilesEveryMessageInTheChatsTheModelPutsItIn)
{
    auto sms = store->stores()->front().entry_id;
    Bytes sent = *store->store_property(sms, Tag::SentEntryId);
    std::mt19937 random(7);
    std::vector<std::u16string> const numbers { u"+4915100001", u"0151 00001", u"+4915100002", u"Info", u"", u"+7 916 123-45-67" };
    std::vector<Bytes> written;
    for (int32_t minute = 0; minute < 160; ++minute) {
        std::u16string number = numbers[random() % numbers.size()];
        StoredMessage message = incoming(number, u"text " + to_utf16(std::to_string(minute)), minute % 40, number.empty() ? u"Bank" : u"", random() % 2);
        Bytes folder = inbox;
        switch (random() % 5) {
        case 0:
            message.properties[Tag::MessageClass] = std::u16string(random() % 2 ? u"REPORT.IPM.SMStext.DR" : u"REPORT.IPM.SMStext.NDR");
            message.properties[Tag::Subject] = random() % 2 ? u"Delivered to +49 151 000 02 at 2024" : u"Not delivered";
            break;
        case 1:
        case 2:
            message.properties[Tag::MessageFlags] = int64_t(0x21);
            message.properties.erase(Tag::SenderAddress);
            for (size_t count = random() % 4; count > 0; --count)
                message.recipients.push_back({ { Tag::DisplayName, std::u16string() }, { Tag::EmailAddress, numbers[random() % 3] } });
            folder = random() % 3 ? sent : drafts;
            break;
        }
        auto entry = store->create_message(folder, message, false);
        ASSERT_TRUE(entry);
        written.push_back(*entry);
    }
    EXPECT_EQ(index_picture(*store), store_picture());
    // Another program reads some, deletes some, and files one under another sender.
    ASSERT_TRUE(store->mark_read({ written[3], written[9], written[27] }));
    SmsManager other;
    ASSERT_TRUE(other.set_sms_read(EntryId(written[40]), false));
    for (size_t index : { 5, 6, 77 })
        (void)store->delete_message(inbox, written[index]), (void)store->delete_message(sent, written[index]), (void)store->delete_message(drafts, written[index]);
    ASSERT_TRUE(store->set_properties(written[12], { { Tag::SenderAddress, std::u16string(u"+4915177777") }, { Tag::SenderName, std::u16string() } }));
    EXPECT_EQ(index_picture(*store), store_picture());
    // A store from before the index: it is made from the messages when the store is opened.
    store.reset();
    {
        sqlite3* database = nullptr;
        ASSERT_EQ(sqlite3_open((fs::path(platform::device_folder()) / "messages.db").c_str(), &database), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(database, "DROP TABLE chat_index; PRAGMA user_version = 6;", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(database);
    }
    std::string error;
    store = platform::MessageStore::open_device(error);
    ASSERT_NE(store, nullptr) << error;
    EXPECT_EQ(index_picture(*store), store_picture());
    // A store that lost a part of the index (edited by hand) gets it made again when it opens.
    store.reset();
    {
        sqlite3* database = nullptr;
        ASSERT_EQ(sqlite3_open((fs::path(platform::device_folder()) / "messages.db").c_str(), &database), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(database, "DROP INDEX chat_index_awaiting; DROP TRIGGER chat_index_read_changed; DELETE FROM chat_index WHERE message % 2 = 0;", nullptr, nullptr, nullptr),
            SQLITE_OK);
        sqlite3_close(database);
    }
    store = platform::MessageStore::open_device(error);
    ASSERT_NE(store, nullptr) << error;
    ASSERT_TRUE(store->mark_read({ written[50] }));
    EXPECT_EQ(index_picture(*store), store_picture());
}

// What other programs did while the program was not running (a message deleted, others delivered)
// shows at the next start from the cache, which holds each folder's last id and count, not every id.
TEST_F(ChatTruth, AStartFromTheCacheFindsWhatChangedWhileTheProgramWasNotRunning)
{
    fs::path cache = device.path() / "cache";
    deliver(u"+4915100001", u"older", 1);
    deliver(u"+4915100001", u"to be deleted", 2);
    deliver(u"+4915100002", u"other", 3);
    EXPECT_EQ(start(cache), store_picture());
    ASSERT_TRUE(load_chat_cache(cache.u16string()).has_value());
    SmsManager other;
    MessageRecord gone;
    gone.id = other.get_id(FolderKind::Incoming, 1);
    ASSERT_TRUE(other.delete_message(FolderKind::Incoming, gone));
    deliver(u"+4915100003", u"new", 4);
    deliver(u"+4915100002", u"newer", 5);
    ChatModel model(options(cache));
    EXPECT_EQ(model.chats().size(), 2u) << "the chats of the cache";
    model.update_chats(true);
    ASSERT_NE(model.find_chat(u"5100001"), nullptr);
    MessageRecord& newest = model.find_chat(u"5100001")->messages.back();
    ASSERT_TRUE(model.read_message(newest));
    EXPECT_EQ(newest.text, u"older");
    EXPECT_EQ(model.chats().front()->key, u"5100002");
    EXPECT_EQ(model_picture(model), store_picture());
}
