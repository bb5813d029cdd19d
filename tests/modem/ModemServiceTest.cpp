// The modem service against a mock ModemManager on a private system bus: what a phone's modem
// receives reaches the store once, and what the user sends goes out once, or waits.
#include "MockModemManager.h"

#include "messaging/ModemInbox.h"
#include "messaging/SmsManager.h"
#include "platform/LocalSocket.h"
#include "platform/MessageStore.h"
#include "platform/Utf.h"
#include "shell/Registry.h"
#include "support/ChildProcess.h"
#include "support/TempDevice.h"
#include "support/Wait.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <ctime>
#include <thread>
#include <set>

using namespace velloq;
using namespace std::chrono_literals;
namespace Tag = platform::Tag;
using platform::SendState;

namespace {

constexpr int32_t registered = 8;
constexpr int32_t enabled = 6;

std::string days_ago(int days)
{
    std::time_t then = std::time(nullptr) - days * 24 * 3600;
    std::tm parts {};
    gmtime_r(&then, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

class ModemService : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        store = platform::MessageStore::open_device(error);
        ASSERT_NE(store, nullptr) << error;
    }
    void TearDown() override { stop_service(); }

    std::vector<std::string> environment() const
    {
        // GLib keeps some memory for the life of the process, which the leak checker would report.
        return { "VELLOQ_DEVICE=" + device.path().string(), mock.bus_variable(), "ASAN_OPTIONS=detect_leaks=0" };
    }
    void start_service(std::vector<std::string> const& more_environment = {})
    {
        auto variables = environment();
        variables.insert(variables.end(), more_environment.begin(), more_environment.end());
        service = std::make_unique<test::ChildProcess>(std::vector<std::string> { VELLOQ_PROGRAM_DIR "/velloq-modem" }, variables);
        ASSERT_TRUE(test::wait_until([&] { return ping().has_value(); }));
    }
    std::optional<std::string> ping() { return platform::ask_service((device.path() / "velloq-modem.socket").string(), "ping", 2); }
    // The incomplete messages the store remembers.
    int64_t incomplete_noted()
    {
        sqlite3* db = nullptr;
        int64_t noted = -1;
        if (sqlite3_open_v2((device.path() / "messages.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt* statement = nullptr;
            if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM modem_incomplete", -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW)
                noted = sqlite3_column_int64(statement, 0);
            sqlite3_finalize(statement);
        }
        sqlite3_close(db);
        return noted;
    }
    // The states of the recipient rows sent with `reference`, wherever their messages lie.
    std::vector<SendState> states_with_reference(int64_t reference)
    {
        std::vector<SendState> states;
        for (auto const& recipient : store->modem_filing().sent_with_reference(reference).value_or({}))
            states.push_back(static_cast<SendState>(platform::number_of(recipient.properties, Tag::RecipientState).value_or(-1)));
        return states;
    }

    void stop_service()
    {
        if (!service)
            return;
        service->signal(SIGTERM);
        EXPECT_EQ(service->wait(), 0);
        service.reset();
    }
    // `velloq-sms transmit` as the program starts it after a send: its exit code.
    int transmit()
    {
        test::ChildProcess transmitter({ VELLOQ_PROGRAM_DIR "/velloq-sms", "transmit" }, environment());
        return transmitter.wait(60s).value_or(-100);
    }
    void send(std::u16string const& number, std::u16string const& text)
    {
        SmsManager manager;
        ASSERT_TRUE(manager.send({ { {}, number } }, text));
    }
    std::vector<MessageRecord> folder(FolderKind kind)
    {
        SmsManager manager;
        std::vector<MessageRecord> records;
        for (int32_t index = 0; index < manager.get_length(kind); ++index) {
            MessageRecord record;
            record.folder = kind;
            if (manager.read_sms(manager.get_id(kind, index), record))
                records.push_back(record);
        }
        return records;
    }
    size_t count(FolderKind kind)
    {
        SmsManager manager;
        return static_cast<size_t>(manager.get_length(kind));
    }
    bool eventually(std::function<bool()> const& condition) { return test::wait_until(condition, 30s); }

    test::TempDevice device;
    test::MockModemManager mock { device.path() };
    std::unique_ptr<platform::MessageStore> store;
    std::unique_ptr<test::ChildProcess> service;
};

}

TEST_F(ModemService, AMessageIsFiledUnreadAndOnlyThenDeletedFromTheModem)
{
    std::string modem = mock.add_modem(registered);
    start_service();
    mock.receive(modem, "+491512007919", "Are you coming tonight?", 3);
    ASSERT_TRUE(eventually([&] { return count(FolderKind::Incoming) == 1 && mock.message_count(modem) == 0; }));
    auto inbox = folder(FolderKind::Incoming);
    EXPECT_EQ(inbox[0].sender.address, u"+491512007919");
    EXPECT_EQ(inbox[0].text, u"Are you coming tonight?");
    EXPECT_TRUE(inbox[0].unread());
    EXPECT_EQ(store->unread_inbox_count(), 1);
    int32_t published = 0;
    EXPECT_TRUE(reg_get_int(u"HKEY_CURRENT_USER\\System\\State\\Messages\\SMS\\Unread", u"Count", published));
    EXPECT_EQ(published, 1);
}

TEST_F(ModemService, AMessageInPartsIsFiledWhenWholeHoweverOldItsTimeStampAndOneStuckForDaysSinceFirstSeenIsDropped)
{
    std::string modem = mock.add_modem(registered);
    // The service first saw this one three days ago (before a restart), and its last part never came.
    std::string stuck_stamp = days_ago(1);
    ASSERT_TRUE(store->modem_filing().first_seen_incomplete("parts\n+491512000001\n" + stuck_stamp, std::time(nullptr) - 3 * 24 * 3600));
    start_service();
    // The phone was off for three days: the first part carries the network's time of then.
    std::string parts = mock.receive(modem, "+491512000000", "The first half", 2, days_ago(3));
    mock.receive(modem, "+491512000001", "Never whole", 2, stuck_stamp);
    ASSERT_TRUE(eventually([&] { return mock.message_count(modem) == 1; }));
    EXPECT_EQ(count(FolderKind::Incoming), 0u);
    mock.complete_message(parts, "The first half and the second half");
    ASSERT_TRUE(eventually([&] { return count(FolderKind::Incoming) == 1 && mock.message_count(modem) == 0; }));
    EXPECT_EQ(folder(FolderKind::Incoming)[0].text, u"The first half and the second half");
}

TEST_F(ModemService, AnIncompleteMessageIsRememberedAcrossRestartsAndForgottenWhenModemManagerDeletesIt)
{
    std::string modem = mock.add_modem(registered);
    start_service();
    std::string parts = mock.receive(modem, "+491512000000", "The first half", 2, days_ago(1));
    ASSERT_TRUE(eventually([&] { return incomplete_noted() == 1; }));
    stop_service();
    reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1);
    start_service();
    ASSERT_TRUE(eventually([&] {
        return test::read_utf16_file(device.path() / "Temp" / "velloq-modem.txt").find(u"is arriving in parts, first seen") != std::u16string::npos;
    }));
    mock.delete_message(parts);
    ASSERT_TRUE(eventually([&] { return incomplete_noted() == 0; }));
}

TEST_F(ModemService, TwoEqualMessagesFromOneSenderInOneSecondAreTwoMessages)
{
    std::string modem = mock.add_modem(registered);
    start_service();
    mock.receive(modem, "+4988123", "OK", 3);
    mock.receive(modem, "+4988123", "OK", 3);
    ASSERT_TRUE(eventually([&] { return count(FolderKind::Incoming) == 2 && mock.message_count(modem) == 0; }));
}

TEST_F(ModemService, DataMessagesAndUnmatchedReportsAreLeftOnTheModemForTheirPrograms)
{
    std::string modem = mock.add_modem(registered);
    start_service();
    // The notification of a picture (a WAP push), and a report on a message another program sent.
    mock.receive_data(modem, "+491512007919", { 0x00, 0x06, 0x22, 0x61, 0x70, 0x70, 0x6C, 0x69, 0x63 });
    mock.receive_status_report(modem, "+491512007919", 77, 0x00);
    mock.receive(modem, "+491512007919", "After the picture", 3);
    ASSERT_TRUE(eventually([&] { return count(FolderKind::Incoming) == 1 && mock.message_count(modem) == 2; }));
    EXPECT_EQ(folder(FolderKind::Incoming)[0].text, u"After the picture");
}

TEST_F(ModemService, FlashMessagesAndTimeStampsWithoutAnOffsetAreFiledLikeAnyMessageInLocalTime)
{
    std::string modem = mock.add_modem(registered);
    start_service({ "TZ=Asia/Kolkata" });
    mock.receive_flash(modem, "+491512007919", "Flash");
    mock.receive(modem, "+491512000000", "Local time", 3, "2026-12-08T10:15:30");
    ASSERT_TRUE(eventually([&] { return count(FolderKind::Incoming) == 2 && mock.message_count(modem) == 0; }));
    for (auto const& record : folder(FolderKind::Incoming)) {
        EXPECT_TRUE(record.unread());
        if (record.text == u"Local time") {
            EXPECT_EQ(record.time.filetime(), 134'411'787'300'000'000LL) << "2026-12-08T04:45:30Z";
        }
    }
}

TEST_F(ModemService, AMessageFiledBeforeACrashIsNotFiledAgain)
{
    std::string modem = mock.add_modem(registered);
    std::string path = mock.store_incoming(modem, "+491512007919", "Filed, then the service died");
    std::string no_time = mock.receive(modem, "+491512007919", "Without a time stamp", 3, "");
    // The service committed both and died before deleting them from the modem.
    ReceivedSms filed { u"+491512007919", u"Filed, then the service died", "2026-12-08T10:15:30+01:00", 0, mock.instance(), path };
    filed.filetime = 134'411'949'300'000'000LL; // 2026-12-08T09:15:30Z, the mock's time stamp
    ASSERT_EQ(file_received_sms(*store, filed), platform::ModemFilingLog::Filing::Filed);
    ReceivedSms undated { u"+491512007919", u"Without a time stamp", "", 134'000'000'000'000'000LL, mock.instance(), no_time };
    ASSERT_EQ(file_received_sms(*store, undated), platform::ModemFilingLog::Filing::Filed);
    start_service();
    ASSERT_TRUE(eventually([&] { return mock.message_count(modem) == 0; }));
    EXPECT_EQ(count(FolderKind::Incoming), 2u);
}

TEST_F(ModemService, AThousandMessagesWaitingAtStartAreEachFiledOnce)
{
    std::string modem = mock.add_modem(registered);
    mock.receive_many(modem, 1000);
    start_service();
    ASSERT_TRUE(test::wait_until([&] { return count(FolderKind::Incoming) == 1000 && mock.message_count(modem) == 0; }, 100s));
    std::set<std::u16string> texts;
    for (auto const& record : folder(FolderKind::Incoming))
        texts.insert(record.text);
    EXPECT_EQ(texts.size(), 1000u);
}

TEST_F(ModemService, ASentMessageKeepsItsReferenceAndItsDeliveryReportMarksItDelivered)
{
    reg_set_int(u"HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Inbox\\Settings", u"SMSDeliveryNotify", 1);
    std::string modem = mock.add_modem(registered);
    start_service();
    send(u"+491512007919", u"Report me");
    EXPECT_EQ(transmit(), 0);
    auto sent = mock.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].number, "+491512007919");
    EXPECT_EQ(sent[0].text, "Report me");
    EXPECT_TRUE(sent[0].report_requested);
    ASSERT_EQ(count(FolderKind::Sent), 1u);
    EXPECT_EQ(folder(FolderKind::Sent)[0].send_state(), SendState::Sent);
    // The modem's copy is deleted once the store has the outcome, a moment after.
    EXPECT_TRUE(eventually([&] { return mock.message_count(modem) == 0; }));

    mock.receive_status_report(modem, "+491512007919", sent[0].reference, 0x00);
    ASSERT_TRUE(eventually([&] { return count(FolderKind::Incoming) == 1; }));
    EXPECT_EQ(folder(FolderKind::Sent)[0].send_state(), SendState::Delivered);
    auto report = folder(FolderKind::Incoming)[0];
    EXPECT_EQ(report.report_kind, ReportKind::Delivered);
    EXPECT_EQ(report.text, u"Delivered to +491512007919");
}

TEST_F(ModemService, WithoutARegisteredModemAMessageWaitsAsNotSentAndGoesWhenTheModemComesBack)
{
    std::string modem = mock.add_modem(enabled);
    start_service();
    send(u"+491512000000", u"Wait for the network");
    EXPECT_NE(transmit(), 0);
    ASSERT_EQ(count(FolderKind::Outbox), 1u);
    EXPECT_EQ(folder(FolderKind::Outbox)[0].send_state(), SendState::NotSent);
    EXPECT_TRUE(mock.sent().empty());
    // The network refuses it too.
    mock.set_modem_state(modem, registered);
    mock.set_send_mode("refuse");
    ASSERT_TRUE(eventually([&] { return folder(FolderKind::Outbox).at(0).send_state() == SendState::NotSent; }));
    mock.remove_modem(modem);
    mock.set_send_mode("ok");
    std::string again = mock.add_modem(registered);
    ASSERT_TRUE(eventually([&] { return count(FolderKind::Sent) == 1 && count(FolderKind::Outbox) == 0; }));
    EXPECT_EQ(mock.sent().size(), 1u);
    (void)again;
}

TEST_F(ModemService, ModemManagerRestartingMidSendLeavesTheMessageToBeSentOnceAfterwards)
{
    mock.add_modem(registered);
    start_service();
    mock.set_send_mode("die");
    send(u"+491512000000", u"Through a restart");
    EXPECT_NE(transmit(), 0);
    EXPECT_EQ(count(FolderKind::Outbox), 1u);
    EXPECT_EQ(folder(FolderKind::Outbox)[0].send_state(), SendState::NotSent);
    mock.stop();
    mock.start();
    mock.add_modem(registered);
    ASSERT_TRUE(eventually([&] { return count(FolderKind::Sent) == 1; }));
    EXPECT_EQ(count(FolderKind::Outbox), 0u);
    EXPECT_EQ(mock.sent().size(), 1u);
}

TEST_F(ModemService, AReportWithAWrappedReferenceMarksTheRecentMessageNotTheOldOne)
{
    std::string modem = mock.add_modem(registered);
    start_service();
    // Four days ago a message to the same number went out with reference 0.
    mock.set_reference(255);
    send(u"+491512007919", u"Four days ago");
    EXPECT_EQ(transmit(), 0);
    auto old_one = store->modem_filing().sent_with_reference(0).value_or({});
    ASSERT_EQ(old_one.size(), 1u);
    ASSERT_TRUE(store->set_recipient_properties(old_one[0].entry, 0, { { Tag::SentTime, std::get<int64_t>(old_one[0].properties[Tag::SentTime]) - 4 * 864'000'000'000LL } }));
    // The counter came round: today's message gets reference 0 again.
    mock.set_reference(255);
    send(u"+491512007919", u"Today");
    EXPECT_EQ(transmit(), 0);
    ASSERT_EQ(mock.sent().back().reference, 0u);
    mock.receive_status_report(modem, "+491512007919", 0, 0x00);
    ASSERT_TRUE(eventually([&] { return count(FolderKind::Incoming) == 1; }));
    for (auto const& record : folder(FolderKind::Sent))
        EXPECT_EQ(record.send_state(), record.text == u"Today" ? SendState::Delivered : SendState::Sent) << to_utf8(record.text);
}

TEST_F(ModemService, ASlowSendIsWaitedForWhileTheServiceAnswersAndFilesAndItGoesOutOnce)
{
    std::string modem = mock.add_modem(registered);
    start_service();
    // A local client that connects and says nothing holds nothing up.
    platform::FileDescriptor silent = platform::connect_to((device.path() / "velloq-modem.socket").string());
    ASSERT_TRUE(silent.is_valid());
    // Longer than D-Bus's default 25 s, well within ModemManager's own limit.
    mock.set_send_mode("slow:27");
    send(u"+491512007919", u"Through low signal");
    std::optional<int> transmitted;
    std::thread transmitter([&] { transmitted = transmit(); });
    // The message lies on the modem, being sent.
    ASSERT_TRUE(eventually([&] { return mock.message_count(modem) == 1; }));
    EXPECT_EQ(folder(FolderKind::Outbox).at(0).send_state(), SendState::Sending);
    // Meanwhile the service answers at once and files what arrives.
    EXPECT_TRUE(ping().has_value());
    mock.receive(modem, "+491512000000", "While you were sending", 3);
    EXPECT_TRUE(eventually([&] { return count(FolderKind::Incoming) == 1; }));
    EXPECT_TRUE(ping().has_value());
    EXPECT_TRUE(mock.sent().empty()) << "all of this happened while the send was in flight";
    transmitter.join();
    EXPECT_EQ(transmitted, 0);
    ASSERT_EQ(mock.sent().size(), 1u);
    ASSERT_EQ(count(FolderKind::Sent), 1u);
    EXPECT_EQ(folder(FolderKind::Sent)[0].send_state(), SendState::Sent);
    EXPECT_EQ(transmit(), 0);
    EXPECT_EQ(mock.sent().size(), 1u);
}

TEST_F(ModemService, ASendOfUnknownOutcomeIsNeverRepeatedAndShowsWhatTheModemLaterTells)
{
    std::string modem = mock.add_modem(registered);
    start_service();
    mock.set_send_mode("timeout");
    send(u"+491512007919", u"Did it go?");
    EXPECT_EQ(transmit(), 0);
    ASSERT_EQ(count(FolderKind::Sent), 1u);
    EXPECT_EQ(folder(FolderKind::Sent)[0].send_state(), SendState::Sending);
    ASSERT_EQ(mock.message_count(modem), 1u) << "left on the modem, which will tell";
    // Neither another pass nor the modem coming back sends it again.
    mock.set_send_mode("ok");
    EXPECT_EQ(transmit(), 0);
    mock.set_modem_state(modem, enabled);
    mock.set_modem_state(modem, registered);
    send(u"+491512000000", u"A later message");
    EXPECT_EQ(transmit(), 0);
    ASSERT_EQ(mock.sent().size(), 1u);
    EXPECT_EQ(mock.sent()[0].text, "A later message");
    // The modem tells: it went out after all.
    mock.finish_send("/org/freedesktop/ModemManager1/SMS/1");
    ASSERT_TRUE(eventually([&] { return mock.message_count(modem) == 0; }));
    for (auto const& record : folder(FolderKind::Sent))
        EXPECT_EQ(record.send_state(), SendState::Sent) << to_utf8(record.text);
    auto told = mock.sent().back();
    EXPECT_EQ(told.text, "Did it go?");
    EXPECT_EQ(states_with_reference(told.reference), std::vector { SendState::Sent });

    // Another one whose modem message ModemManager deletes without a word: not known, so not
    // sent; it waits for the user, not for the modem.
    mock.set_send_mode("timeout");
    send(u"+491512007919", u"Lost in the modem");
    EXPECT_EQ(transmit(), 0);
    ASSERT_EQ(mock.message_count(modem), 1u);
    mock.delete_message("/org/freedesktop/ModemManager1/SMS/3");
    ASSERT_TRUE(eventually([&] {
        auto sent = folder(FolderKind::Sent);
        return std::count_if(sent.begin(), sent.end(), [](auto const& record) { return record.send_state() == SendState::NotSent; }) == 1;
    }));
    mock.set_send_mode("ok");
    EXPECT_EQ(transmit(), 0);
    EXPECT_EQ(count(FolderKind::Outbox), 0u);
    EXPECT_EQ(mock.sent().size(), 2u);
}

TEST_F(ModemService, AReportForARecipientReachedIsFiledWhileTheMessageWaitsForAnother)
{
    reg_set_int(u"HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Inbox\\Settings", u"SMSDeliveryNotify", 1);
    std::string modem = mock.add_modem(registered);
    start_service();
    mock.set_send_mode("refuse:+491512000000");
    SmsManager manager;
    ASSERT_TRUE(manager.send({ { {}, u"+491512007919" }, { {}, u"+491512000000" } }, u"To both"));
    EXPECT_NE(transmit(), 0);
    ASSERT_EQ(count(FolderKind::Outbox), 1u);
    auto sent = mock.sent();
    ASSERT_EQ(sent.size(), 1u);
    mock.receive_status_report(modem, "+491512007919", sent[0].reference, 0x00);
    ASSERT_TRUE(eventually([&] { return states_with_reference(sent[0].reference) == std::vector { SendState::Delivered }; }));
    // The modem's copy is deleted once the store has the outcome, a moment after.
    EXPECT_TRUE(eventually([&] { return mock.message_count(modem) == 0; }));
}

TEST_F(ModemService, ASecondServiceForTheSameDeviceStepsBackAndTheFirstEndsAsFailedWhenTheBusGoes)
{
    mock.add_modem(registered);
    start_service();
    auto first = ping();
    test::ChildProcess second({ VELLOQ_PROGRAM_DIR "/velloq-modem" }, environment());
    EXPECT_EQ(second.wait(), 3) << "already running: not restarted by systemd";
    EXPECT_EQ(ping(), first);
    mock.stop();
    mock.stop_bus();
    EXPECT_EQ(service->wait(), 1) << "a failure, so that systemd starts it again";
    service.reset();
}
