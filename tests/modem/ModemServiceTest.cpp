// The modem service against a mock ModemManager on a private system bus: what a phone's modem
// receives reaches the store once, and what the user sends goes out once, or waits.
#include "MockModemManager.h"

#include "messaging/ModemInbox.h"
#include "messaging/SmsManager.h"
#include "platform/MessageStore.h"
#include "platform/Utf.h"
#include "shell/Registry.h"
#include "support/ChildProcess.h"
#include "support/TempDevice.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

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
    void start_service()
    {
        service = std::make_unique<test::ChildProcess>(std::vector<std::string> { VELLOQ_PROGRAM_DIR "/velloq-modem" }, environment());
        ASSERT_TRUE(test::wait_until([&] { return std::filesystem::exists(device.path() / "velloq-modem.socket"); }));
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

TEST_F(ModemService, AMessageInPartsIsFiledWhenItsLastPartArrivesAndOneStuckForDaysIsDropped)
{
    std::string modem = mock.add_modem(registered);
    start_service();
    std::string parts = mock.receive(modem, "+491512000000", "The first half", 2);
    // A message whose first part came three days ago and never its last.
    mock.receive(modem, "+491512000001", "Never whole", 2, days_ago(3));
    ASSERT_TRUE(eventually([&] { return mock.message_count(modem) == 1; }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(count(FolderKind::Incoming), 0u);
    mock.complete_message(parts, "The first half and the second half");
    ASSERT_TRUE(eventually([&] { return count(FolderKind::Incoming) == 1 && mock.message_count(modem) == 0; }));
    EXPECT_EQ(folder(FolderKind::Incoming)[0].text, u"The first half and the second half");
}

TEST_F(ModemService, AMessageFiledBeforeACrashIsNotFiledAgain)
{
    std::string modem = mock.add_modem(registered);
    std::string path = mock.store_incoming(modem, "+491512007919", "Filed, then the service died");
    // The service committed it and died before deleting it from the modem.
    ReceivedSms filed { u"+491512007919", u"Filed, then the service died", 0, path };
    filed.filetime = 134'411'949'300'000'000LL; // 2026-12-08T09:15:30Z, the mock's time stamp
    ASSERT_EQ(file_received_sms(*store, filed), platform::MessageStore::Filing::Filed);
    start_service();
    ASSERT_TRUE(eventually([&] { return mock.message_count(modem) == 0; }));
    EXPECT_EQ(count(FolderKind::Incoming), 1u);
}

TEST_F(ModemService, AThousandMessagesWaitingAtStartAreEachFiledOnce)
{
    std::string modem = mock.add_modem(registered);
    mock.receive_many(modem, 1000);
    start_service();
    ASSERT_TRUE(test::wait_until([&] { return count(FolderKind::Incoming) == 1000 && mock.message_count(modem) == 0; }, 180s));
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
    EXPECT_EQ(mock.message_count(modem), 0u);

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
    auto old_one = store->sent_with_reference(0);
    ASSERT_EQ(old_one.size(), 1u);
    store->set_recipient_properties(old_one[0].entry, 0, { { Tag::SentTime, std::get<int64_t>(old_one[0].properties[Tag::SentTime]) - 4 * 864'000'000'000LL } });
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
