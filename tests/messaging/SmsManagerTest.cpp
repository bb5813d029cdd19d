#include "messaging/SmsManager.h"
#include "messaging/Transmitter.h"

#include "platform/Folders.h"
#include "platform/Utf.h"
#include "shell/Registry.h"
#include "shell/StateNotification.h"
#include "support/TempDevice.h"
#include "support/Wait.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

using namespace velloq;
using platform::Bytes;
using platform::StoredMessage;
namespace Tag = platform::Tag;

namespace {

constexpr char16_t const* unread_key = u"HKEY_CURRENT_USER\\System\\State\\Messages\\SMS\\Unread";

class Store : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
        std::string error;
        store = platform::MessageStore::open_device(error);
        ASSERT_NE(store, nullptr) << error;
        auto sms = store->stores()->front().entry_id;
        inbox = *store->store_property(sms, Tag::InboxEntryId);
        sent = *store->store_property(sms, Tag::SentEntryId);
    }
    StoredMessage incoming(std::u16string text, std::u16string address = u"+4915112345")
    {
        StoredMessage message;
        message.properties = { { Tag::Subject, text }, { Tag::MessageFlags, int64_t(0) }, { Tag::DeliveryTime, MessageTime::now().filetime() },
            { Tag::SenderName, std::u16string(u"Anna") }, { Tag::SenderAddress, address }, { Tag::MessageClass, std::u16string(u"IPM.SMStext") } };
        return message;
    }
    std::u16string log_text() { return test::read_utf16_file(device.log_file()); }
    int32_t unread_count()
    {
        int32_t count = -1;
        reg_get_int(unread_key, u"Count", count);
        return count;
    }

    test::TempDevice device;
    std::unique_ptr<platform::MessageStore> store;
    Bytes inbox;
    Bytes sent;
};

}

TEST_F(Store, ReadsWhatWasDeliveredAndMarksItRead)
{
    ASSERT_TRUE(store->create_message(inbox, incoming(u"Hello"), false));
    EXPECT_EQ(unread_count(), 1);
    SmsManager manager;
    ASSERT_EQ(manager.get_length(FolderKind::Incoming), 1);
    MessageRecord record;
    ASSERT_TRUE(manager.read_sms(manager.get_id(FolderKind::Incoming, 0), record));
    EXPECT_EQ(record.text, u"Hello");
    EXPECT_TRUE(record.incoming());
    EXPECT_TRUE(record.unread());
    EXPECT_EQ(record.peer(), (Correspondent { u"Anna", u"+4915112345" }));
    EXPECT_EQ(record.report_kind, ReportKind::Message);
    EXPECT_TRUE(manager.set_sms_read(record.id, true));
    EXPECT_EQ(unread_count(), 0);
    EXPECT_TRUE(manager.set_sms_read(record.id, true));
    ASSERT_TRUE(manager.read_sms(record.id, record));
    EXPECT_EQ(record.flags, platform::flag_read);
    EXPECT_TRUE(manager.delete_message(FolderKind::Incoming, record));
    EXPECT_EQ(manager.get_length(FolderKind::Incoming), 0);
    EXPECT_FALSE(manager.delete_message(FolderKind::Incoming, record));
    EXPECT_NE(log_text().find(u"DeleteMessages failed\n"), std::u16string::npos);
}

TEST_F(Store, WindowsOfAThousandRowsAreReused)
{
    std::vector<std::pair<Bytes, StoredMessage>> many;
    for (int i = 0; i < 1500; ++i)
        many.emplace_back(inbox, incoming(to_u16_decimal(i)));
    ASSERT_TRUE(store->create_messages(many));
    SmsManager manager;
    EntryId first = manager.get_id(FolderKind::Incoming, 0);
    EntryId last_in_window = manager.get_id(FolderKind::Incoming, 999);
    EXPECT_EQ(manager.window_queries(), 1);
    EntryId next = manager.get_id(FolderKind::Incoming, 1000);
    EXPECT_EQ(manager.window_queries(), 2);
    MessageRecord record;
    ASSERT_TRUE(manager.read_sms(next, record));
    EXPECT_EQ(record.text, u"1000");
    EXPECT_TRUE(first < last_in_window);
    EXPECT_TRUE(manager.get_id(FolderKind::Incoming, 1500).is_empty());
    EXPECT_NE(log_text().find(u"QueryRows failed\n"), std::u16string::npos);
}

TEST_F(Store, FromMeWithoutRecipientsAndIncomingWithoutAddress)
{
    StoredMessage mine;
    mine.properties = { { Tag::Subject, std::u16string(u"note") }, { Tag::MessageFlags, int64_t(0x21) }, { Tag::LastModificationTime, int64_t(1) } };
    auto mine_id = store->create_message(sent, mine, false);
    StoredMessage anonymous = incoming(u"who?");
    anonymous.properties.erase(Tag::SenderAddress);
    auto anonymous_id = store->create_message(inbox, anonymous, false);
    SmsManager manager;
    MessageRecord record;
    ASSERT_TRUE(manager.read_sms(EntryId(*mine_id), record));
    EXPECT_TRUE(record.recipients.empty());
    EXPECT_EQ(record.peer(), Correspondent {});
    EXPECT_FALSE(manager.read_sms(EntryId(*anonymous_id), record));
    StoredMessage timeless = incoming(u"when?");
    timeless.properties.erase(Tag::DeliveryTime);
    EXPECT_FALSE(manager.read_sms(EntryId(*store->create_message(inbox, timeless, false)), record));
    EXPECT_NE(log_text().find(u"error in get_time_tag 235274304\nerror in get_time_tag 805830720\n"), std::u16string::npos);
}

TEST_F(Store, NoSmsStoreFailsSoftly)
{
    store.reset();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((device.path() / "messages.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "UPDATE stores SET display_name = 'Mail'", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    SmsManager manager;
    EXPECT_FALSE(manager.has_store());
    EXPECT_EQ(manager.get_length(FolderKind::Incoming), 0);
    EXPECT_TRUE(manager.get_id(FolderKind::Sent, 0).is_empty());
    EXPECT_FALSE(manager.send({ { {}, u"+1" } }, u"x"));
    EXPECT_NE(log_text().find(u"SMS store not found\n"), std::u16string::npos);
}

TEST_F(Store, DamagedStoreIsLoggedAndFailsSoftly)
{
    store.reset();
    for (char const* suffix : { "-wal", "-shm" })
        std::filesystem::remove(device.path() / (std::string("messages.db") + suffix));
    std::ofstream(device.path() / "messages.db", std::ios::binary | std::ios::trunc) << std::string(4096, 'x');
    SmsManager manager;
    EXPECT_EQ(manager.get_length(FolderKind::Incoming), 0);
    MessageRecord record;
    EXPECT_FALSE(manager.read_sms(EntryId(Bytes { 1, 2 }), record));
    EXPECT_NE(log_text().find(u"MAPILogonEx failed\nmessages.db: file is not a database\n"), std::u16string::npos) << to_utf8(log_text());
}

TEST_F(Store, SendMakesOneMessageWithEveryRecipient)
{
    SmsManager manager;
    ASSERT_TRUE(manager.send({ { u"Anna", u"+4915112345" }, { {}, u"+7912" } }, u"See you"));
    EXPECT_NE(log_text().find(u"delivery_notification:0\n"), std::u16string::npos);
    ASSERT_EQ(manager.get_length(FolderKind::Outbox), 1);
    auto message = store->open_message(manager.get_id(FolderKind::Outbox, 0).bytes());
    ASSERT_TRUE(message);
    ASSERT_EQ(message->recipients.size(), 2u);
    EXPECT_EQ(std::get<std::u16string>(message->recipients[1][Tag::EmailAddress]), u"+7912");
    EXPECT_EQ(std::get<std::u16string>(message->recipients[0][Tag::AddressType]), u"SMS");
    EXPECT_EQ(std::get<int64_t>(message->recipients[0][Tag::RecipientType]), 1);
    EXPECT_EQ(std::get<int64_t>(message->properties[Tag::MessageFlags]), 0x28);
    EXPECT_EQ(std::get<int64_t>(message->properties[Tag::MessageStatus]), 0x40000);
    EXPECT_EQ(std::get<int64_t>(message->properties[Tag::DeliveryReportRequested]), 0);
    auto unicode = store->named_property(platform::ps_mapi, u"SMS:Unicode", false);
    ASSERT_TRUE(unicode);
    EXPECT_EQ(std::get<int64_t>(message->properties[(*unicode << 16) | 0x000B]), 1);
}

TEST_F(Store, TransmitMovesToSentOnceAndFilesRequestedReports)
{
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Inbox\\Settings", u"SMSDeliveryNotify", 1));
    SmsManager manager;
    ASSERT_TRUE(manager.send({ { {}, u"+4915112345" } }, u"Ping"));
    EntryId outboxed = manager.get_id(FolderKind::Outbox, 0);
    LoopbackModem modem;
    auto result = transmit_outbox(*store, modem);
    EXPECT_EQ(result.sent, 1);
    EXPECT_EQ(result.reports, 1);
    EXPECT_EQ(transmit_outbox(*store, modem).sent, 0);
    SmsManager fresh;
    EXPECT_EQ(fresh.get_length(FolderKind::Outbox), 0);
    ASSERT_EQ(fresh.get_length(FolderKind::Sent), 1);
    EntryId moved = fresh.get_id(FolderKind::Sent, 0);
    EXPECT_FALSE(moved == outboxed);
    MessageRecord record;
    ASSERT_TRUE(fresh.read_sms(moved, record));
    EXPECT_FALSE(record.incoming());
    ASSERT_TRUE(fresh.read_sms(fresh.get_id(FolderKind::Incoming, 0), record));
    EXPECT_EQ(record.report_kind, ReportKind::Delivered);
    EXPECT_NE(record.text.find(u"+4915112345"), std::u16string::npos);
}

TEST_F(Store, TwoProcessesDeliveringAndTransmittingLoseNothing)
{
    store.reset();
    std::vector<pid_t> children;
    for (int process = 0; process < 2; ++process) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            platform::use_device_folder(device.path().string());
            std::string error;
            auto own = platform::MessageStore::open_device(error);
            bool ok = own != nullptr;
            SmsManager manager;
            LoopbackModem modem;
            for (int i = 0; ok && i < 25; ++i) {
                ok &= own->create_message(*own->store_property(own->stores()->front().entry_id, Tag::InboxEntryId), incoming(u"in"), false).has_value();
                ok &= manager.send({ { {}, u"+1" } }, u"out");
                transmit_outbox(*own, modem);
            }
            _exit(ok ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::string error;
    store = platform::MessageStore::open_device(error);
    LoopbackModem modem;
    transmit_outbox(*store, modem);
    SmsManager manager;
    EXPECT_EQ(manager.get_length(FolderKind::Incoming), 50);
    EXPECT_EQ(manager.get_length(FolderKind::Sent), 50);
    EXPECT_EQ(manager.get_length(FolderKind::Outbox), 0);
    EXPECT_EQ(unread_count(), 50);
}

TEST_F(Store, UnreadCountWakesTheBroker)
{
    auto marker = device.path() / "started";
    std::u16string command = u"\"" VELLOQ_TEST_MARKER u"\" \"" + marker.u16string() + u"\" message";
    ASSERT_TRUE(set_app_notification(u"Ketra.Velloq.message", command));
    ASSERT_TRUE(store->create_message(inbox, incoming(u"wake up"), false));
    ASSERT_TRUE(test::wait_for_file(marker));
    EXPECT_EQ(test::read_file(marker), "message\n");
}

TEST_F(Store, ScanSeesAChangeAnotherWriterMadeAfterTheWindowWasRead)
{
    ASSERT_TRUE(store->create_message(inbox, incoming(u"first"), false));
    ASSERT_TRUE(store->create_message(inbox, incoming(u"second"), false));
    SmsManager manager;
    EntryId first = manager.get_id(FolderKind::Incoming, 0);
    EntryId second = manager.get_id(FolderKind::Incoming, 1);
    // Another connection, as another process would have, marks the second message read.
    std::string error;
    auto other = platform::MessageStore::open_device(error);
    ASSERT_TRUE(other->set_properties(second.bytes(), { { Tag::MessageFlags, int64_t(platform::flag_read) } }));
    MessageRecord record;
    ASSERT_TRUE(manager.read_sms(first, record));
    ASSERT_TRUE(manager.read_sms(second, record));
    EXPECT_FALSE(record.unread());
}

TEST_F(Store, AFirstVersionStoreIsMigratedWithItsFolderCounts)
{
    ASSERT_TRUE(store->create_message(inbox, incoming(u"kept"), false));
    store.reset();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((device.path() / "messages.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP TRIGGER messages_counted_in; DROP TRIGGER messages_counted_out; DROP TABLE folder_counts; PRAGMA user_version = 1;",
                  nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
    SmsManager manager;
    EXPECT_EQ(manager.get_length(FolderKind::Incoming), 1);
    ASSERT_TRUE(manager.send({ { {}, u"+1" } }, u"new"));
    EXPECT_EQ(manager.get_length(FolderKind::Outbox), 1);
}

TEST_F(Store, ConsecutiveWindowsListEveryRowOnceEvenWhenAnotherWriterDeletesBetweenThem)
{
    std::vector<std::pair<Bytes, StoredMessage>> many;
    for (int i = 0; i < 2500; ++i)
        many.emplace_back(inbox, incoming(to_u16_decimal(i)));
    ASSERT_TRUE(store->create_messages(many));
    auto by_offset = [&](int64_t offset) { return *store->rows(inbox, offset, 1000); };
    std::vector<Bytes> listed = by_offset(0);
    auto second = by_offset(1000);
    listed.insert(listed.end(), second.begin(), second.end());
    // Another process deletes the first row: the next window is counted by offset again.
    std::string error;
    auto other = platform::MessageStore::open_device(error);
    ASSERT_TRUE(other->delete_message(inbox, listed.front()));
    auto third = by_offset(2000);
    ASSERT_EQ(third.size(), 499u);

    std::vector<Bytes> fresh = *other->rows(inbox, 0, 1000);
    for (int64_t offset = 1000; offset < 2499; offset += 1000) {
        auto window = *other->rows(inbox, offset, 1000);
        fresh.insert(fresh.end(), window.begin(), window.end());
    }
    ASSERT_EQ(fresh.size(), 2499u);
    EXPECT_EQ(std::vector<Bytes>(listed.begin() + 1, listed.end()), std::vector<Bytes>(fresh.begin(), fresh.begin() + 1999));
    EXPECT_EQ(third, std::vector<Bytes>(fresh.begin() + 2000, fresh.end()));
}

TEST_F(Store, ReadsInOneTransactionSeeOnePictureAndLetWritersGoOn)
{
    ASSERT_TRUE(store->create_message(inbox, incoming(u"before"), false));
    SmsManager manager;
    manager.begin_reading();
    EXPECT_EQ(manager.get_length(FolderKind::Incoming), 1);
    std::string error;
    auto other = platform::MessageStore::open_device(error);
    ASSERT_TRUE(other->create_message(inbox, incoming(u"during"), false));
    MessageRecord record;
    ASSERT_TRUE(manager.read_sms(manager.get_id(FolderKind::Incoming, 0), record));
    EXPECT_EQ(record.text, u"before");
    manager.end_reading();
    EXPECT_EQ(manager.get_length(FolderKind::Incoming), 2);
}
