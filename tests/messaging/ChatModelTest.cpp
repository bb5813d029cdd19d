#include "messaging/ChatModel.h"
#include "messaging/MmsInbox.h"
#include "messaging/PhoneBook.h"
#include "messaging/Transmitter.h"

#include "platform/Folders.h"
#include "shell/Registry.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include <filesystem>
#include <fstream>

#include "platform/Utf.h"

using namespace velloq;
using platform::Bytes;
using platform::StoredMessage;
namespace Tag = platform::Tag;

namespace {

class Events : public ChatListener {
public:
    void on_document_refresh(ChatEvent const& event) override { seen.push_back({ static_cast<int32_t>(event.kind), event.index }); }
    std::vector<std::pair<int32_t, int32_t>> seen;
};

class ChatModelTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        store = platform::MessageStore::open_device(error);
        ASSERT_NE(store, nullptr);
        auto sms = store->stores()->front().entry_id;
        inbox = *store->store_property(sms, Tag::InboxEntryId);
        sent = *store->store_property(sms, Tag::SentEntryId);
    }
    ChatModel::Options options() const
    {
        // The broker must not start a real program from a test.
        return { (device.path() / "cache").u16string(), u"" VELLOQ_TEST_MARKER };
    }
    void deliver(std::u16string address, std::u16string text, int64_t minute, std::u16string name = {}, std::u16string message_class = u"IPM.SMStext")
    {
        StoredMessage message;
        message.properties = { { Tag::Subject, text }, { Tag::MessageFlags, int64_t(0) },
            { Tag::DeliveryTime, MessageTime::from_unix_milliseconds(1'700'000'000'000LL + minute * 60'000).filetime() },
            { Tag::SenderName, name }, { Tag::SenderAddress, address }, { Tag::MessageClass, message_class } };
        ASSERT_TRUE(store->create_message(inbox, message, false));
    }
    void sent_to(std::vector<std::u16string> addresses, int64_t minute)
    {
        StoredMessage message;
        message.properties = { { Tag::Subject, std::u16string(u"to all") }, { Tag::MessageFlags, int64_t(0x21) },
            { Tag::DeliveryTime, MessageTime::from_unix_milliseconds(1'700'000'000'000LL + minute * 60'000).filetime() } };
        for (auto const& address : addresses)
            message.recipients.push_back({ { Tag::DisplayName, std::u16string() }, { Tag::EmailAddress, address } });
        ASSERT_TRUE(store->create_message(sent, message, false));
    }
    std::vector<std::u16string> keys(ChatModel& model)
    {
        std::vector<std::u16string> out;
        for (auto const& chat : model.chats())
            out.push_back(chat->key);
        return out;
    }

    test::TempDevice device;
    std::unique_ptr<platform::MessageStore> store;
    Bytes inbox;
    Bytes sent;
};

}

TEST_F(ChatModelTest, MessagesGatherIntoChatsByTheirKeys)
{
    deliver(u"+7 916 123-45-67", u"one", 1);
    deliver(u"8 916 1234567", u"two", 2);
    deliver(u"Info", u"letters", 3);
    deliver(u"", u"nameless", 4, u"Bank");
    sent_to({ u"+1 555 0001", u"+1 555 0002", u"+1 555 0003" }, 5);
    deliver(u"SMS Center", u"Delivered to +7 916 123 45 67 at noon", 6, {}, u"REPORT.IPM.SMStext.DR");
    ChatModel model(options());
    EXPECT_TRUE(model.update_chats(false));
    Chat* chat = model.find_chat(u"1234567");
    ASSERT_NE(chat, nullptr);
    EXPECT_EQ(chat->messages.size(), 2u) << "a chat holds its messages from its newest word on; the others stay in the store";
    EXPECT_EQ(model.load_older(*chat, 10), 1u);
    EXPECT_TRUE(chat->holds_oldest);
    ASSERT_EQ(chat->messages.size(), 3u);
    EXPECT_EQ(chat->messages.back().report_kind, ReportKind::Delivered);
    // A delivery report filed unread is never counted as unread, and is marked read in the store.
    EXPECT_EQ(chat->unread, 2);
    EXPECT_FALSE(chat->messages.back().unread());
    EXPECT_NE(model.find_chat(u"Info"), nullptr);
    EXPECT_NE(model.find_chat(u"Bank"), nullptr);
    for (char16_t const* key : { u"5550001", u"5550002", u"5550003" }) {
        ASSERT_NE(model.find_chat(key), nullptr) << to_utf8(key);
        EXPECT_EQ(model.find_chat(key)->messages.size(), 1u);
    }
    EXPECT_EQ(model.chats().front()->key, u"1234567");
    int32_t unread = 0;
    EXPECT_TRUE(reg_get_int(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Unread", unread));
    EXPECT_EQ(unread, 4);
    EXPECT_EQ(store->unread_inbox_count().value_or(-1), 4);
}

TEST_F(ChatModelTest, ANewUnreadMessageMovesItsChatToTheTop)
{
    deliver(u"+4915100001", u"old", 1);
    deliver(u"+4915100002", u"newer", 2);
    ChatModel model(options());
    model.update_chats(false);
    EXPECT_EQ(keys(model), (std::vector<std::u16string> { u"5100002", u"5100001" }));
    model.take_new_message();
    Events events;
    model.add_listener(&events);
    deliver(u"+4915100001", u"again", 3);
    EXPECT_TRUE(model.update_chats(true));
    EXPECT_EQ(keys(model), (std::vector<std::u16string> { u"5100001", u"5100002" }));
    EXPECT_EQ(events.seen, (std::vector<std::pair<int32_t, int32_t>> { { 3, 1 }, { 4, 1 }, { 1, 0 } }));
    auto alert = model.take_new_message();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text, u"again");
    EXPECT_EQ(model.find_chat(u"5100001")->unread, 2);
}

TEST_F(ChatModelTest, ADeliveryReportArrivingLaterIsNeitherUnreadNorTheNewMessage)
{
    deliver(u"+4915100001", u"hello", 1);
    ChatModel model(options());
    model.update_chats(false);
    model.mark_chat_read(*model.find_chat(u"5100001"));
    model.take_new_message();
    deliver(u"SMS Center", u"Delivered to +4915100001", 2, {}, u"REPORT.IPM.SMStext.DR");
    EXPECT_TRUE(model.update_chats(true));
    EXPECT_EQ(model.find_chat(u"5100001")->unread, 0);
    EXPECT_FALSE(model.take_new_message());
    EXPECT_EQ(store->unread_inbox_count().value_or(-1), 0);
}

TEST_F(ChatModelTest, NothingNewSendsNoEventAndWritesNothing)
{
    deliver(u"+4915100001", u"hello", 1);
    ChatModel model(options());
    model.update_chats(false);
    auto written = std::filesystem::last_write_time(device.path() / "cache");
    ASSERT_TRUE(reg_delete_value(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Unread"));
    Events events;
    model.add_listener(&events);
    EXPECT_FALSE(model.update_chats(true));
    EXPECT_TRUE(events.seen.empty());
    EXPECT_EQ(std::filesystem::last_write_time(device.path() / "cache"), written);
    int32_t unread = -1;
    EXPECT_FALSE(reg_get_int(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Unread", unread));
}

TEST_F(ChatModelTest, AMessageLeavesTheOutboxAndComesBackFromSent)
{
    ChatModel model(options());
    model.update_chats(false);
    ASSERT_TRUE(model.sms().send({ { {}, u"+4915100009" } }, u"on my way"));
    EXPECT_TRUE(model.update_chats(true));
    Chat* chat = model.find_chat(u"5100009");
    ASSERT_NE(chat, nullptr);
    EXPECT_EQ(chat->messages.back().folder, FolderKind::Outbox);
    LoopbackModem modem;
    transmit_outbox(*store, modem);
    Events events;
    model.add_listener(&events);
    EXPECT_TRUE(model.update_chats(true));
    ASSERT_EQ(events.seen.front(), (std::pair<int32_t, int32_t> { 6, 0 }));
    chat = model.find_chat(u"5100009");
    ASSERT_NE(chat, nullptr);
    ASSERT_EQ(chat->messages.size(), 1u);
    EXPECT_EQ(chat->messages.back().folder, FolderKind::Sent);
}

// The poll looks for outbox messages only in the chats that took one, from the store or the cache.
TEST_F(ChatModelTest, AnOutboxMessageKnownFromTheCacheLeavesItsChatOnceSent)
{
    deliver(u"+4915100001", u"someone else", 1);
    {
        ChatModel model(options());
        model.update_chats(false);
        ASSERT_TRUE(model.sms().send({ { {}, u"+4915100009" } }, u"on my way"));
        EXPECT_TRUE(model.update_chats(true));
    }
    ChatModel model(options());
    Chat* chat = model.find_chat(u"5100009");
    ASSERT_NE(chat, nullptr);
    ASSERT_EQ(chat->messages.size(), 1u);
    EXPECT_EQ(chat->messages.back().folder, FolderKind::Outbox);
    EXPECT_FALSE(model.update_chats(true));
    EXPECT_EQ(chat->messages.size(), 1u);
    LoopbackModem modem;
    transmit_outbox(*store, modem);
    Events events;
    model.add_listener(&events);
    EXPECT_TRUE(model.update_chats(true));
    ASSERT_FALSE(events.seen.empty());
    EXPECT_EQ(events.seen.front(), (std::pair<int32_t, int32_t> { 6, 0 }));
    chat = model.find_chat(u"5100009");
    ASSERT_NE(chat, nullptr);
    ASSERT_EQ(chat->messages.size(), 1u);
    EXPECT_EQ(chat->messages.back().folder, FolderKind::Sent);
}

TEST_F(ChatModelTest, AMessageTheModemCouldNotSendTurnsNotSentInItsChat)
{
    ChatModel model(options());
    model.update_chats(false);
    ASSERT_TRUE(model.sms().send({ { {}, u"+4915100009" } }, u"anyone there?"));
    EXPECT_TRUE(model.update_chats(true));
    Chat* chat = model.find_chat(u"5100009");
    ASSERT_NE(chat, nullptr);
    EXPECT_EQ(chat->messages.back().send_state(), platform::SendState::Sending);
    AbsentModem modem(u"no modem");
    transmit_outbox(*store, modem);
    Events events;
    model.add_listener(&events);
    EXPECT_FALSE(model.update_chats(true));
    EXPECT_EQ(events.seen, (std::vector<std::pair<int32_t, int32_t>> { { 5, 0 } }));
    EXPECT_EQ(chat->messages.back().send_state(), platform::SendState::NotSent);
}

TEST_F(ChatModelTest, TheCacheRemembersTheChatsForTheNextStart)
{
    deliver(u"+4915100001", u"hello", 1);
    deliver(u"+4915100002", u"hi", 2);
    {
        ChatModel model(options());
        model.update_chats(false);
    }
    ChatModel model(options());
    EXPECT_EQ(model.chats().size(), 2u);
    EXPECT_FALSE(model.update_chats(false));
    MessageRecord& record = model.chats().front()->messages.front();
    EXPECT_TRUE(record.text.empty());
    EXPECT_TRUE(model.read_message(record));
    EXPECT_EQ(record.text, u"hi");
    EXPECT_FALSE(record.time_text.empty());
}

// A start with the cache shows the contacts' names in its first frame, before the contacts are read.
TEST_F(ChatModelTest, TheCacheKeepsTheNamesTheContactsGave)
{
    deliver(u"+4915100001", u"hello", 1);
    std::filesystem::create_directories(device.path() / "contacts");
    std::ofstream(device.path() / "contacts" / "anna.vcf") << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna Berg\r\nN:Berg;Anna;;;\r\nTEL;TYPE=CELL:+4915100001\r\nEND:VCARD\r\n";
    {
        ChatModel model(options());
        model.update_chats(false);
        model.assign_contacts();
        ASSERT_EQ(model.chats().front()->name, u"Anna Berg");
    }
    ChatModel model(options());
    ASSERT_EQ(model.chats().size(), 1u);
    EXPECT_EQ(model.chats().front()->name, u"Anna Berg");
}

TEST_F(ChatModelTest, ABrokenCacheIsRebuiltFromTheStore)
{
    deliver(u"+4915100001", u"hello", 1);
    std::ofstream(device.path() / "cache", std::ios::binary) << std::string("\x01\x00\x00\x00\x05", 5);
    ChatModel model(options());
    EXPECT_TRUE(model.chats().empty());
    EXPECT_TRUE(model.update_chats(false));
    EXPECT_EQ(model.chats().size(), 1u);
}

TEST_F(ChatModelTest, MarkingAChatReadAndDeletingAMessage)
{
    deliver(u"+4915100001", u"one", 1);
    deliver(u"+4915100001", u"two", 2);
    ChatModel model(options());
    model.update_chats(false);
    Chat& chat = *model.chats().front();
    model.mark_chat_read(chat);
    EXPECT_EQ(chat.unread, 0);
    EXPECT_EQ(*store->unread_inbox_count(), 0);
    model.delete_message(chat.messages.front());
    EXPECT_EQ(model.sms().get_length(FolderKind::Incoming), 1);
}

TEST(ChatOrder, KeysAndReportNumbers)
{
    auto from_entry = chat_for_entry({ u"Anna", u"+49 151 2345678", u"mobile", u"2345678", 7, 0 });
    EXPECT_EQ(from_entry->key, u"2345678");
    EXPECT_EQ(from_entry->contact_id, 7);
    EXPECT_TRUE(from_entry->messages.empty());
    EXPECT_EQ(chat_for_entry(PhoneEntry::from_typed(u"Bank"))->key, u"Bank");
    EXPECT_EQ(chat_key(u"+7 (916) 123-45-67", u""), u"1234567");
    EXPECT_EQ(chat_key(u"12345", u""), u"12345");
    EXPECT_EQ(chat_key(u"Info", u"x"), u"Info");
    EXPECT_EQ(chat_key(u"", u"Bank"), u"Bank");
    // A group's key is its members' keys, sorted and each once, however its address gives them.
    EXPECT_EQ(chat_key(u"+4915107654321;0151 0123 4567;+49 151 07654321", u""), u"1234567;7654321");
    EXPECT_EQ(chat_key(u"+4915101234567;;", u""), u"1234567");
    EXPECT_TRUE(platform::is_group_key(chat_key(u"Info;+4915101234567", u"")));
    EXPECT_FALSE(platform::is_group_key(chat_key(u"+4915101234567", u"")));
    // An MMS's members leave out its sender and the user, whose number the MMS service gives.
    EXPECT_EQ(other_members({ u"+4915100000", u"+4915100002", u"+49 151 000 01", u"+4915100002" }, u"+4915100001", { u"+4915100000" }),
        (std::vector<std::u16string> { u"+4915100002" }));
    EXPECT_TRUE(other_members({ u"+4915100000" }, u"+4915100001", {}).empty()) << "to one recipient, that was the user";
    EXPECT_EQ(other_members({ u"+4915100000", u"+4915100002" }, u"+4915100001", {}).size(), 2u) << "none can be told to be the user";
    EXPECT_EQ(other_members({ u"+4915100000", u"+4915100002", u"+4915100003" }, u"+4915100001", { u"", u"+49 151 000 03" }),
        (std::vector<std::u16string> { u"+4915100000", u"+4915100002" })) << "any of the SIM's numbers is the user";
    // Separators between digits are skipped: they neither end the number nor count toward its length.
    EXPECT_EQ(report_number(u"Delivered to +7 916 123 45 67 at noon"), u"+79161234567");
    EXPECT_EQ(report_number(u"Code 12, call 0151-2345678."), u"01512345678");
    EXPECT_EQ(report_number(u"Message to 9161234567 delivered 08 12 2026 12:00"), u"9161234567");
    EXPECT_EQ(report_number(u"to (495) 123-45-67, sent 2026"), u"4951234567");
    EXPECT_EQ(report_number(u"nothing"), u"");
}

TEST_F(ChatModelTest, AChatKeepsItsNewestMessageInFullAndReadsOlderOnesAgainWhenAsked)
{
    deliver(u"+4915100001", u"oldest", 1);
    deliver(u"+4915100001", u"unread and alerted", 2);
    sent_to({ u"+4915100001" }, 3);
    ChatModel model(options());
    ASSERT_TRUE(model.update_chats(false));
    Chat* chat = model.find_chat(u"5100001");
    ASSERT_EQ(chat->messages.size(), 1u);
    EXPECT_EQ(chat->messages.back().text, u"to all");
    EXPECT_EQ(model.load_older(*chat, 1), 1u);
    EXPECT_FALSE(chat->holds_oldest);
    EXPECT_EQ(model.load_older(*chat, 5), 1u);
    EXPECT_TRUE(chat->holds_oldest);
    EXPECT_EQ(model.load_older(*chat, 5), 0u);
    ASSERT_EQ(chat->messages.size(), 3u);
    EXPECT_EQ(chat->messages.back().text, u"to all");
    MessageRecord& older = chat->messages.front();
    EXPECT_TRUE(older.text.empty());
    EXPECT_TRUE(older.sender.address.empty());
    EXPECT_EQ(older.time.compare(chat->messages[1].time), -1);
    ASSERT_TRUE(model.read_message(older));
    EXPECT_EQ(older.text, u"oldest");
    EXPECT_EQ(older.sender.address, u"+4915100001");
    EXPECT_FALSE(older.date_text.empty());
    auto alert = model.take_new_message();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text, u"unread and alerted");
    EXPECT_EQ(chat->unread, 2);
}

TEST_F(ChatModelTest, AMessageIsValidWhileTheStoreHoldsIt)
{
    deliver(u"+4915100001", u"here", 1);
    ChatModel model(options());
    ASSERT_TRUE(model.update_chats(false));
    MessageRecord record = model.chats().front()->messages.back();
    EXPECT_TRUE(model.validate_message(record));
    ASSERT_TRUE(store->delete_message(inbox, record.id.bytes()));
    EXPECT_FALSE(model.validate_message(record));
    MessageRecord unknown;
    EXPECT_FALSE(model.validate_message(unknown));
}

TEST(EntryIdOrder, TheFastSortOrdersAsTheIdsCompareAndKeepsTwinsSideBySide)
{
    auto id = [](std::string const& prefix, uint64_t row) {
        std::vector<uint8_t> bytes(prefix.begin(), prefix.end());
        for (int shift = 56; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<uint8_t>(row >> shift));
        return EntryId(bytes);
    };
    std::mt19937_64 random(7);
    auto check = [](std::vector<EntryId> ids) {
        std::vector<EntryId> expected = ids;
        std::sort(expected.begin(), expected.end());
        sort_entry_ids(ids);
        EXPECT_EQ(ids, expected);
    };
    std::vector<EntryId> dense, sparse, twins, mixed;
    for (uint64_t row = 0; row < 3000; ++row) {
        dense.push_back(id("VQMS12345678", 5000 + row));
        sparse.push_back(id("VQMS12345678", random()));
    }
    std::shuffle(dense.begin(), dense.end(), random);
    twins = dense;
    twins.push_back(dense[17]);
    mixed = dense;
    mixed.push_back(id("VQMS87654321", 3));
    mixed.push_back(EntryId(std::vector<uint8_t> { 1, 2, 3 }));
    for (auto const& ids : { dense, sparse, twins, mixed })
        check(ids);
    sort_entry_ids(twins);
    EXPECT_NE(std::adjacent_find(twins.begin(), twins.end()), twins.end());
}

namespace {

struct ChatSummary {
    std::u16string key;
    size_t messages;
    int32_t unread;
    std::u16string newest_text;
    std::vector<EntryId> ids;
    bool operator==(ChatSummary const&) const = default;
};

// The chats with every message, those they hold and the older ones from the store.
std::vector<ChatSummary> summary(ChatModel& model)
{
    std::vector<ChatSummary> out;
    for (auto const& chat : model.chats()) {
        while (model.load_older(*chat, 100) > 0) {
        }
        ChatSummary entry { chat->key, chat->messages.size(), chat->unread, chat->messages.back().text, {} };
        for (auto const& message : chat->messages)
            entry.ids.push_back(message.id);
        out.push_back(std::move(entry));
    }
    return out;
}

}

// Many new messages are read in one pass over the store, a few message by message, and a first
// start takes the chats from the store's index. All three must file every message, skip a draft
// without recipients, copy a message to each recipient and pass over the messages of other folders
// lying between.
TEST_F(ChatModelTest, OnePassReadsLookupsAndTheStoresIndexMakeTheSameChats)
{
    auto sms = store->stores()->front().entry_id;
    Bytes drafts = *store->store_property(sms, Tag::DraftsEntryId);
    auto at = [](int64_t minute) { return MessageTime::from_unix_milliseconds(1'700'000'000'000LL + minute * 60'000).filetime(); };
    auto fill = [&](int64_t first, int64_t last) {
        std::vector<std::pair<Bytes, StoredMessage>> messages;
        for (int64_t minute = first; minute < last; ++minute) {
            std::u16string address = u"+49151" + to_utf16(std::to_string(1000000 + minute % 37));
            StoredMessage message;
            message.properties = { { Tag::MessageFlags, int64_t(0x21) }, { Tag::DeliveryTime, at(minute) } };
            if (minute % 50 == 7) {
                message.properties[Tag::Subject] = std::u16string(u"to all");
                for (auto const& to : { address, std::u16string(u"+4915177770001"), std::u16string(u"+4915177770002") })
                    message.recipients.push_back({ { Tag::DisplayName, std::u16string() }, { Tag::EmailAddress, to } });
                messages.emplace_back(sent, std::move(message));
            } else if (minute % 100 == 13) {
                message.properties[Tag::Subject] = std::u16string(u"nobody");
                messages.emplace_back(drafts, std::move(message));
            } else {
                message.properties = { { Tag::Subject, u"message " + to_utf16(std::to_string(minute)) }, { Tag::MessageFlags, int64_t(minute % 3 ? 1 : 0) },
                    { Tag::DeliveryTime, at(minute) }, { Tag::SenderName, std::u16string() }, { Tag::SenderAddress, address }, { Tag::MessageClass, std::u16string(u"IPM.SMStext") } };
                messages.emplace_back(inbox, std::move(message));
            }
        }
        ASSERT_TRUE(store->create_messages(messages));
    };
    ChatModel by_message(options());
    ASSERT_FALSE(by_message.update_chats(false));
    ChatModel in_one_pass(options());
    ASSERT_FALSE(in_one_pass.update_chats(false));
    for (int64_t first : { 0, 600, 1200 }) {
        fill(first, std::min<int64_t>(first + 600, 1400));
        ASSERT_TRUE(by_message.update_chats(false));
    }
    ASSERT_TRUE(in_one_pass.update_chats(false));
    std::filesystem::remove(device.path() / "cache");
    ChatModel from_index(options());
    ASSERT_TRUE(from_index.update_chats(false));
    auto expected = summary(by_message);
    EXPECT_EQ(expected.size(), 39u);
    EXPECT_EQ(summary(in_one_pass), expected);
    EXPECT_EQ(summary(from_index), expected);
    EXPECT_EQ(in_one_pass.find_chat(u"7770002")->messages.size(), 28u);
}

// A message to three people is in three chats, each with its own number and recipient, whether
// the chats come from the store's index or from the cache.
TEST_F(ChatModelTest, AMessageToSeveralIsInEachChatWithItsOwnRecipientAfterEveryStart)
{
    sent_to({ u"+1 555 0001", u"+1 555 0002", u"+1 555 0003" }, 5);
    for (int start = 0; start < 2; ++start) {
        ChatModel model(options());
        model.update_chats(false);
        ASSERT_EQ(model.chats().size(), 3u) << "start " << start;
        for (char16_t const* number : { u"+1 555 0001", u"+1 555 0002", u"+1 555 0003" }) {
            Chat* chat = model.find_chat(chat_key(number, u""));
            ASSERT_NE(chat, nullptr) << to_utf8(number);
            EXPECT_EQ(chat->address, number) << "start " << start;
            MessageRecord& message = chat->messages.back();
            ASSERT_TRUE(model.read_message(message, *chat));
            EXPECT_EQ(message.peer().address, number) << "start " << start;
        }
    }
}
