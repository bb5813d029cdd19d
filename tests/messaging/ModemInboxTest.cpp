// What the modem service files into the store: every received message once, and each status
// report onto the right sent message.
#include "messaging/MessageTime.h"
#include "messaging/ModemInbox.h"
#include "messaging/SmsManager.h"
#include "messaging/Transmitter.h"

#include "support/TempDevice.h"

#include <gtest/gtest.h>

using namespace velloq;
namespace Tag = platform::Tag;
using platform::SendState;

namespace {

constexpr int64_t day = 864'000'000'000LL;
constexpr int64_t now = 134'000'000'000'000'000LL;

// A modem whose references count on from `next`, wrapping at 256 as the network's do.
class ReferenceModem final : public ModemBackend {
public:
    explicit ReferenceModem(int64_t next)
        : m_next(next)
    {
    }
    Transmission transmit(std::u16string const&, std::u16string const&, bool) override
    {
        int64_t reference = m_next;
        m_next = (m_next + 1) % 256;
        return { true, reference, {}, std::nullopt };
    }

private:
    int64_t m_next;
};

class ModemInbox : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        store = platform::MessageStore::open_device(error);
        ASSERT_NE(store, nullptr) << error;
    }
    // Sends one message to `number` with the given reference; the time it went out is set to
    // `sent_at`. Its entry id in Sent Items.
    platform::Bytes sent_message(std::u16string const& number, int64_t reference, int64_t sent_at)
    {
        SmsManager manager;
        EXPECT_TRUE(manager.send({ { {}, number } }, u"hello"));
        ReferenceModem modem(reference);
        EXPECT_EQ(transmit_outbox(*store, modem).sent, 1);
        auto sent = store->modem_filing().sent_with_reference(reference).value_or({});
        EXPECT_FALSE(sent.empty());
        EXPECT_TRUE(store->set_recipient_properties(sent.front().entry, 0, { { Tag::SentTime, sent_at } }));
        return sent.front().entry;
    }
    SendState state_of(platform::Bytes const& entry)
    {
        auto message = store->open_message(entry);
        return static_cast<SendState>(std::get<int64_t>(message->recipients.at(0).at(Tag::RecipientState)));
    }
    int64_t inbox_size()
    {
        SmsManager manager;
        return manager.get_length(FolderKind::Incoming);
    }

    test::TempDevice device;
    std::unique_ptr<platform::MessageStore> store;
};

}

TEST_F(ModemInbox, EachModemMessageIsFiledOnceUnreadWithTheNetworksTime)
{
    ReceivedSms sms { u"+491512007919", u"OK", "2026-12-08T10:15:30+01:00", now, ":1.7", "/org/freedesktop/ModemManager1/SMS/4" };
    EXPECT_EQ(file_received_sms(*store, sms), platform::ModemFilingLog::Filing::Filed);
    // The service crashed before it deleted the message from the modem, and finds it again.
    EXPECT_EQ(file_received_sms(*store, sms), platform::ModemFilingLog::Filing::AlreadyFiled);
    ASSERT_EQ(inbox_size(), 1);
    EXPECT_EQ(store->unread_inbox_count(), 1);
    SmsManager manager;
    MessageRecord record;
    ASSERT_TRUE(manager.read_sms(manager.get_id(FolderKind::Incoming, 0), record));
    EXPECT_EQ(record.sender.address, u"+491512007919");
    EXPECT_EQ(record.time.filetime(), now);
    // The same words from the same number in the same second, as another modem message, are a
    // second message (automated senders do this).
    sms.source = "/org/freedesktop/ModemManager1/SMS/5";
    EXPECT_EQ(file_received_sms(*store, sms), platform::ModemFilingLog::Filing::Filed);
    // A restarted ModemManager numbers its messages anew: what it shows is not taken for what
    // the last one showed (at worst a duplicate, never a loss).
    sms.instance = ":1.9";
    EXPECT_EQ(file_received_sms(*store, sms), platform::ModemFilingLog::Filing::Filed);
    EXPECT_EQ(inbox_size(), 3);
}

TEST_F(ModemInbox, AReportIsFinalOnlyWhenTheNetworkIsDone)
{
    struct Case {
        uint32_t delivery_state;
        ReportOutcome outcome;
    };
    for (auto [state, outcome] : { Case { 0x00, ReportOutcome::Delivered }, Case { 0x02, ReportOutcome::Delivered },
             Case { 0x21, ReportOutcome::Pending }, Case { 0x41, ReportOutcome::NotDelivered }, Case { 0x65, ReportOutcome::NotDelivered },
             Case { 0x70, ReportOutcome::NotDelivered }, Case { 0x7F, ReportOutcome::NotDelivered }, Case { 0x100, ReportOutcome::Pending },
             Case { 0x205, ReportOutcome::NotDelivered }, Case { 0x321, ReportOutcome::NotDelivered } }) {
        auto reference = static_cast<int64_t>(state % 256);
        sent_message(u"+491512007919", reference, now - 1000);
        StatusReport report { u"+491512007919", reference, state, now, "/report/" + std::to_string(state) };
        EXPECT_EQ(file_status_report(*store, report, now), outcome) << std::hex << state;
    }
}

TEST_F(ModemInbox, AReportReachesAMessageStillInTheOutboxForAnotherRecipient)
{
    SmsManager manager;
    ASSERT_TRUE(manager.send({ { {}, u"+491512007919" }, { {}, u"+491512000000" } }, u"to both"));
    // The first recipient gets it with reference 12, the second is refused.
    class HalfModem final : public ModemBackend {
    public:
        Transmission transmit(std::u16string const& address, std::u16string const&, bool) override
        {
            if (address == u"+491512000000")
                return { false, std::nullopt, u"refused" };
            return { true, 12, {} };
        }
    } modem;
    EXPECT_EQ(transmit_outbox(*store, modem).failed, 1);
    ASSERT_EQ(manager.get_length(FolderKind::Outbox), 1);
    StatusReport report { u"+491512007919", 12, 0x00, now, "/org/freedesktop/ModemManager1/SMS/2" };
    EXPECT_EQ(file_status_report(*store, report, MessageTime::now().filetime()), ReportOutcome::Delivered);
    auto outbox = store->modem_filing().sent_with_reference(12).value_or({});
    ASSERT_EQ(outbox.size(), 1u);
    EXPECT_EQ(std::get<int64_t>(outbox[0].properties.at(Tag::RecipientState)), static_cast<int64_t>(SendState::Delivered));
}

TEST_F(ModemInbox, AReportFindsTheNewestMessageWithItsReferenceAndNumber)
{
    auto old_one = sent_message(u"+491512007919", 7, now - 5 * day);
    auto other_number = sent_message(u"+491512000000", 7, now - 1000);
    auto wanted = sent_message(u"+49 151 2007919", 7, now - 2000);
    StatusReport report { u"+491512007919", 7, 0x00, now, "/org/freedesktop/ModemManager1/SMS/9" };
    EXPECT_EQ(file_status_report(*store, report, now), ReportOutcome::Delivered);
    EXPECT_EQ(state_of(wanted), SendState::Delivered);
    EXPECT_EQ(state_of(other_number), SendState::Sent);
    EXPECT_EQ(state_of(old_one), SendState::Sent);
    // Filed as a delivery report naming the number as it was sent, so it joins that chat.
    SmsManager manager;
    MessageRecord record;
    ASSERT_TRUE(manager.read_sms(manager.get_id(FolderKind::Incoming, 0), record));
    EXPECT_EQ(record.report_kind, ReportKind::Delivered);
    EXPECT_EQ(record.text, u"Delivered to +49 151 2007919");
    EXPECT_EQ(file_status_report(*store, report, now), ReportOutcome::AlreadyFiled);
    EXPECT_EQ(inbox_size(), 1);
}

TEST_F(ModemInbox, AReferenceThatWrappedNamesTheRecentMessageNotTheOldOne)
{
    // Reference 255 went out, then 256 more messages; the counter came round to 255 again.
    auto before_wrap = sent_message(u"+491512007919", 255, now - 4 * day);
    auto after_wrap = sent_message(u"+491512007919", 255, now - day / 2);
    StatusReport report { u"+491512007919", 255, 0x41, now, "/org/freedesktop/ModemManager1/SMS/3" };
    EXPECT_EQ(file_status_report(*store, report, now), ReportOutcome::NotDelivered);
    EXPECT_EQ(state_of(after_wrap), SendState::NotDelivered);
    EXPECT_EQ(state_of(before_wrap), SendState::Sent);
}

TEST_F(ModemInbox, PendingAndUnmatchedReportsChangeNothing)
{
    auto sent = sent_message(u"+491512007919", 3, now - 1000);
    EXPECT_EQ(file_status_report(*store, { u"+491512007919", 3, 0x21, now, "a" }, now), ReportOutcome::Pending);
    EXPECT_EQ(file_status_report(*store, { u"+491512007919", 4, 0x00, now, "b" }, now), ReportOutcome::Unmatched);
    EXPECT_EQ(file_status_report(*store, { u"+491519999999", 3, 0x00, now, "c" }, now), ReportOutcome::Unmatched);
    EXPECT_EQ(state_of(sent), SendState::Sent);
    EXPECT_EQ(inbox_size(), 0);
}
