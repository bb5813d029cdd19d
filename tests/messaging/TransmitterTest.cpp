// The transmitter never strands a message in the outbox and never sends one twice to anyone.
#include "messaging/SmsManager.h"
#include "messaging/Transmitter.h"

#include "support/TempDevice.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

using namespace velloq;
using platform::Bytes;
namespace Tag = platform::Tag;

namespace {

// A modem that refuses the numbers it is told to, and counts what it sent to each number.
class CountingModem final : public ModemBackend {
public:
    Transmission transmit(std::u16string const& address, std::u16string const&, bool) override
    {
        if (refused.contains(address))
            return { false, std::nullopt, u"refused" };
        ++sent[address];
        return { true, static_cast<int64_t>(sent.size()), {} };
    }
    std::set<std::u16string> refused;
    std::map<std::u16string, int> sent;
};

// A modem that, while it sends, lets another connection take the store's write lock and keep it
// for a few seconds, as a full or busy disk makes every later write of the transmitter fail.
class StoreLockingModem final : public ModemBackend {
public:
    explicit StoreLockingModem(std::string path)
        : m_path(std::move(path))
    {
    }
    ~StoreLockingModem() override
    {
        if (m_database) {
            sqlite3_exec(m_database, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(m_database);
        }
    }
    Transmission transmit(std::u16string const&, std::u16string const&, bool) override
    {
        if (!m_database && sqlite3_open(m_path.c_str(), &m_database) == SQLITE_OK)
            sqlite3_exec(m_database, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        return { true, std::nullopt, {} };
    }

private:
    std::string m_path;
    sqlite3* m_database { nullptr };
};

class Transmitter : public testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        store = platform::MessageStore::open_device(error);
        ASSERT_NE(store, nullptr) << error;
    }
    void send_to(std::vector<std::u16string> const& numbers)
    {
        std::vector<Correspondent> recipients;
        for (auto const& number : numbers)
            recipients.push_back({ {}, number });
        SmsManager manager;
        ASSERT_TRUE(manager.send(recipients, u"hello"));
    }
    int32_t length(FolderKind folder)
    {
        SmsManager manager;
        return manager.get_length(folder);
    }
    // The recipients' states of the first message of a folder, as the chats read them.
    std::vector<platform::SendState> read_states(FolderKind folder)
    {
        SmsManager manager;
        MessageRecord record;
        record.folder = folder;
        EXPECT_TRUE(manager.read_sms(manager.get_id(folder, 0), record));
        return record.recipient_states;
    }
    // Runs `work` in a child process that then ends as a killed one would, without clean-up.
    template<typename Work>
    void in_a_process_that_dies(Work work)
    {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::string error;
            auto own = platform::MessageStore::open_device(error);
            _exit(own && work(*own) ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    test::TempDevice device;
    std::unique_ptr<platform::MessageStore> store;
};

}

TEST_F(Transmitter, TheClaimOfAKilledTransmitterIsGivenBack)
{
    send_to({ u"+4915100001" });
    send_to({ u"+4915100002" });
    in_a_process_that_dies([](platform::MessageStore& own) {
        auto waiting = own.outbox().submitted_messages().value_or({});
        return waiting.size() == 2 && own.outbox().claim_for_sending(waiting[0]) == true && own.outbox().claim_for_sending(waiting[1]) == true;
    });
    CountingModem modem;
    TransmitResult result = transmit_outbox(*store, modem);
    EXPECT_EQ(result.sent, 2);
    EXPECT_EQ(length(FolderKind::Outbox), 0);
    EXPECT_EQ(length(FolderKind::Sent), 2);
}

TEST_F(Transmitter, ALivingTransmittersClaimIsNeverTakenOver)
{
    send_to({ u"+4915100001" });
    auto waiting = store->outbox().submitted_messages().value_or({});
    ASSERT_EQ(waiting.size(), 1u);
    // This process is alive and holds the claim: another transmitter run leaves the message be.
    ASSERT_TRUE(store->outbox().claim_for_sending(waiting[0]) == true);
    std::string error;
    auto other = platform::MessageStore::open_device(error);
    CountingModem modem;
    EXPECT_EQ(transmit_outbox(*other, modem).sent, 0);
    EXPECT_TRUE(modem.sent.empty());
    ASSERT_TRUE(store->outbox().release_claim(waiting[0]) == true);
    EXPECT_EQ(transmit_outbox(*other, modem).sent, 1);
}

TEST_F(Transmitter, AMessageThatFailedPartWayGoesOnlyToThoseWhoDidNotGetIt)
{
    send_to({ u"+4915100001", u"+4915100002", u"+4915100003" });
    CountingModem modem;
    modem.refused = { u"+4915100002" };
    TransmitResult first = transmit_outbox(*store, modem);
    EXPECT_EQ(first.sent, 0);
    EXPECT_EQ(first.failed, 1);
    EXPECT_EQ(length(FolderKind::Outbox), 1);
    // Each recipient's copy in the chats says how far it got.
    using platform::SendState;
    EXPECT_EQ(read_states(FolderKind::Outbox), (std::vector<SendState> { SendState::Sent, SendState::NotSent, SendState::Sent }));
    modem.refused.clear();
    TransmitResult second = transmit_outbox(*store, modem);
    EXPECT_EQ(second.sent, 1);
    EXPECT_EQ(modem.sent, (std::map<std::u16string, int> { { u"+4915100001", 1 }, { u"+4915100002", 1 }, { u"+4915100003", 1 } }));
    EXPECT_EQ(length(FolderKind::Sent), 1);
    EXPECT_EQ(read_states(FolderKind::Sent), (std::vector<SendState> { SendState::Sent, SendState::Sent, SendState::Sent }));
    // The modem's references stay with the sent message, so reports can find it.
    EXPECT_EQ(store->modem_filing().sent_with_reference(2).value_or({}).size(), 1u);
}

// Whom a message already went to must be known before it goes out again: when the store cannot
// say, nothing is sent and the message waits in the outbox for a pass that can read it.
TEST_F(Transmitter, AMessageWhoseRecipientsSentToCannotBeReadIsNotSentAgain)
{
    send_to({ u"+4915100001", u"+4915100002" });
    CountingModem modem;
    modem.refused = { u"+4915100002" };
    EXPECT_EQ(transmit_outbox(*store, modem).failed, 1);
    modem.refused.clear();
    auto hide_transmissions = [&](char const* sql) {
        sqlite3* database = nullptr;
        ASSERT_EQ(sqlite3_open((device.path() / "messages.db").c_str(), &database), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(database, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(database);
        sqlite3_close(database);
    };
    hide_transmissions("ALTER TABLE transmitted RENAME TO transmitted_hidden");
    TransmitResult blind = transmit_outbox(*store, modem);
    EXPECT_EQ(blind.sent, 0);
    EXPECT_EQ(blind.failed, 1);
    EXPECT_EQ(modem.sent, (std::map<std::u16string, int> { { u"+4915100001", 1 } }));
    hide_transmissions("ALTER TABLE transmitted_hidden RENAME TO transmitted");
    EXPECT_EQ(length(FolderKind::Outbox), 1);
    EXPECT_EQ(transmit_outbox(*store, modem).sent, 1);
    EXPECT_EQ(modem.sent, (std::map<std::u16string, int> { { u"+4915100001", 1 }, { u"+4915100002", 1 } }));
}

TEST_F(Transmitter, WithoutAModemAMessageStaysInTheOutboxNotSentUntilAModemSendsIt)
{
    send_to({ u"+4915100001" });
    AbsentModem absent(u"no modem");
    EXPECT_EQ(transmit_outbox(*store, absent).failed, 1);
    EXPECT_EQ(read_states(FolderKind::Outbox), std::vector<platform::SendState> { platform::SendState::NotSent });
    CountingModem modem;
    EXPECT_EQ(transmit_outbox(*store, modem).sent, 1);
    EXPECT_EQ(read_states(FolderKind::Sent), std::vector<platform::SendState> { platform::SendState::Sent });
}

TEST_F(Transmitter, AMoveThatFailsIsReportedAndTheMessageIsSentLater)
{
    send_to({ u"+4915100001" });
    std::string path = (device.path() / "messages.db").string();
    in_a_process_that_dies([&](platform::MessageStore& own) {
        StoreLockingModem modem(path);
        TransmitResult result = transmit_outbox(own, modem);
        return result.sent == 0 && result.failed == 1;
    });
    EXPECT_EQ(length(FolderKind::Outbox), 1);
    CountingModem modem;
    EXPECT_EQ(transmit_outbox(*store, modem).sent, 1);
    EXPECT_EQ(length(FolderKind::Outbox), 0);
}

TEST_F(Transmitter, ARecipientWhoseSendTimedOutIsOnItsWayUntilSettledAndNeverSentAgain)
{
    send_to({ u"+4915100001", u"+4915100002" });
    class TimingOutModem final : public ModemBackend {
    public:
        Transmission transmit(std::u16string const& address, std::u16string const&, bool) override
        {
            if (address == u"+4915100002")
                return { false, std::nullopt, {}, Transmission::Unsettled { ":1.4", "/org/freedesktop/ModemManager1/SMS/7" } };
            return { true, 1, {} };
        }
    } modem;
    TransmitResult first = transmit_outbox(*store, modem);
    EXPECT_EQ(first.sent, 1);
    EXPECT_EQ(first.unsettled, 1);
    ASSERT_EQ(length(FolderKind::Sent), 1);
    EXPECT_EQ(read_states(FolderKind::Sent), (std::vector { platform::SendState::Sent, platform::SendState::Sending }));
    ASSERT_EQ(store->outbox().unsettled_sends().value_or({}).size(), 1u);

    CountingModem counting;
    EXPECT_EQ(transmit_outbox(*store, counting).sent, 0);
    EXPECT_TRUE(counting.sent.empty());
    // The modem tells, and the send is forgotten.
    EXPECT_EQ(store->outbox().settle_send(":1.4", "/org/freedesktop/ModemManager1/SMS/7",
                  { { platform::Tag::RecipientState, static_cast<int64_t>(platform::SendState::Sent) } }),
        true);
    EXPECT_EQ(read_states(FolderKind::Sent), (std::vector { platform::SendState::Sent, platform::SendState::Sent }));
    EXPECT_TRUE(store->outbox().unsettled_sends().value_or({}).empty());
    EXPECT_EQ(store->outbox().settle_send(":1.4", "/org/freedesktop/ModemManager1/SMS/7", {}), false);
}
