// What the modem service files into the store: every received message once, and each status
// report onto the right sent message.
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
        return { true, reference, {} };
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
        auto sent = store->sent_with_reference(reference);
        EXPECT_FALSE(sent.empty());
        store->set_recipient_properties(sent.front().entry, 0, { { Tag::SentTime, sent_at } });
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

TEST_F(ModemInbox, AMessageIsFiledOnceUnreadWithTheNetworksTime)
{
    ReceivedSms sms { u"+491512007919", u"Are you coming tonight?", now, "/org/freedesktop/ModemManager1/SMS/4" };
    EXPECT_EQ(file_received_sms(*store, sms), platform::MessageStore::Filing::Filed);
    // The service crashed before it deleted the message from the modem, and finds it again.
    EXPECT_EQ(file_received_sms(*store, sms), platform::MessageStore::Filing::AlreadyFiled);
    sms.source = "/org/freedesktop/ModemManager1/SMS/1";
    EXPECT_EQ(file_received_sms(*store, sms), platform::MessageStore::Filing::AlreadyFiled);
    ASSERT_EQ(inbox_size(), 1);
    EXPECT_EQ(store->unread_inbox_count(), 1);
    SmsManager manager;
    MessageRecord record;
    ASSERT_TRUE(manager.read_sms(manager.get_id(FolderKind::Incoming, 0), record));
    EXPECT_EQ(record.sender.address, u"+491512007919");
    EXPECT_EQ(record.time.filetime(), now);
    // The same words from the same number at another time are another message.
    sms.filetime += 10'000'000;
    EXPECT_EQ(file_received_sms(*store, sms), platform::MessageStore::Filing::Filed);
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
