#include "SmsCommand.h"

#include "support/ScopedEnvironment.h"
#include "support/TempDevice.h"

#include "platform/MessageStore.h"
#include "shell/Registry.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

using namespace velloq;
using velloq::tools::SmsExit;

namespace {

struct Outcome {
    SmsExit exit;
    std::string out;
    std::string err;
};

Outcome sms(std::vector<std::string> arguments)
{
    std::ostringstream out, err;
    SmsExit exit = tools::run_sms_command(arguments, out, err);
    return { exit, out.str(), err.str() };
}

}

TEST(VelloqSms, WithoutTheModemServiceAMessageWaitsInTheOutboxAsNotSent)
{
    test::TempDevice device;
    EXPECT_EQ(sms({ "send", "--to", "+4915112345", "Hello" }).exit, SmsExit::Ok);
    auto transmitted = sms({ "transmit" });
    EXPECT_EQ(transmitted.exit, SmsExit::NotSent);
    EXPECT_EQ(transmitted.out, "sent 0, reports 0, failed 1\n");
    EXPECT_NE(transmitted.err.find("velloq-modem"), std::string::npos);
    EXPECT_NE(sms({ "list", "--folder", "outbox" }).out.find("Hello"), std::string::npos);
    EXPECT_EQ(sms({ "list", "--folder", "sent" }).out, "");
    std::string error;
    auto store = platform::MessageStore::open_device(error);
    ASSERT_TRUE(store);
    auto outbox = store->outbox().submitted_messages().value_or({});
    ASSERT_EQ(outbox.size(), 1u);
    auto message = store->open_message(outbox.front());
    ASSERT_TRUE(message && message->recipients.size() == 1);
    EXPECT_EQ(std::get<int64_t>(message->recipients[0][platform::Tag::RecipientState]), static_cast<int64_t>(platform::SendState::NotSent));
    EXPECT_EQ(std::get<std::u16string>(message->recipients[0][platform::Tag::SendError]), u"the modem service is not running");
}

TEST(VelloqSms, DeliverListSendTransmit)
{
    test::TempDevice device;
    test::ScopedEnvironment zone("TZ", "UTC");
    reg_set_string(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Modem", u"loopback");
    EXPECT_EQ(sms({ "deliver", "--from", "+4915112345", "--name", "Anna", "--time", "2026-03-29T02:30:00Z", "Hi\nthere" }).exit, SmsExit::Ok);
    EXPECT_EQ(sms({ "send", "--to", "+4915112345,+7912", "Reply" }).exit, SmsExit::Ok);
    auto listed = sms({ "list" });
    // An id is "VQMS", the store's own eight-byte tag and the row number.
    std::string tag = listed.out.substr(listed.out.find('\t') + 1 + 8, 16);
    std::string first_id = "56514d53" + tag + "0000000000000001";
    EXPECT_EQ(listed.out,
        "inbox\t" + first_id + "\t0x0\t2026-03-29T02:30:00\tAnna <+4915112345>\tHi\\nthere\n"
        "outbox\t56514d53" + tag + "0000000000000002\t0x28\t"
            + listed.out.substr(listed.out.find("0x28\t") + 5, 19) + "\t+4915112345\tReply\n");
    EXPECT_EQ(sms({ "transmit" }).out, "sent 1, reports 0, failed 0\n");
    EXPECT_EQ(sms({ "list", "--folder", "outbox" }).out, "");
    EXPECT_NE(sms({ "list", "--folder", "sent" }).out.find("\t0x21\t"), std::string::npos);
    EXPECT_EQ(sms({ "mark-read", first_id }).exit, SmsExit::Ok);
    EXPECT_NE(sms({ "list", "--folder", "inbox" }).out.find("\t0x1\t"), std::string::npos);
    // An id of the same row made by another store is not this store's message.
    EXPECT_EQ(sms({ "delete", "56514d530000000000000000000000000000000001" }).exit, SmsExit::StoreUnavailable);
    EXPECT_EQ(sms({ "delete", first_id }).exit, SmsExit::Ok);
    EXPECT_EQ(sms({ "list", "--folder", "inbox" }).out, "");
}

TEST(VelloqSms, SeedIsDeterministic)
{
    std::string first, second;
    for (std::string* listing : { &first, &second }) {
        test::TempDevice device;
        EXPECT_EQ(sms({ "seed", "--chats", "20", "--messages", "300", "--seed", "7" }).exit, SmsExit::Ok);
        auto listed = sms({ "list" }).out;
        // Times follow the present and ids carry each store's own tag; everything else must repeat.
        std::istringstream lines(listed);
        std::string line;
        while (std::getline(lines, line)) {
            size_t id_at = line.find('\t') + 1;
            line.replace(id_at + 8, 16, 16, '.');
            auto fields = line.substr(0, line.find('\t', line.find('\t', line.find('\t') + 1) + 1));
            *listing += fields + line.substr(line.find('\t', line.find('\t', line.find('\t', line.find('\t') + 1) + 1) + 1)) + "\n";
        }
    }
    EXPECT_EQ(first, second);
    EXPECT_NE(first.find("inbox"), std::string::npos);
    EXPECT_NE(first.find("sent"), std::string::npos);
    EXPECT_NE(first.find("Привет"), std::string::npos);
}

TEST(VelloqSms, BadArgumentsAndABrokenStore)
{
    test::TempDevice device;
    for (auto const& arguments : std::vector<std::vector<std::string>> { {}, { "frob" }, { "deliver", "text" }, { "deliver", "--from" },
             { "deliver", "--from", "1", "--time", "yesterday", "x" }, { "list", "--folder", "spam" }, { "send", "x" },
             { "send", "--to", "1,,2", "x" }, { "delete" }, { "delete", "xyz" }, { "seed", "--chats", "-1", "--messages", "5" },
             { "deliver", "--report", "maybe", "--from", "1", "x" } }) {
        auto outcome = sms(arguments);
        EXPECT_EQ(outcome.exit, SmsExit::BadArguments);
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    }
    std::ofstream(device.path() / "messages.db", std::ios::binary) << std::string(4096, 'x');
    auto broken = sms({ "list" });
    EXPECT_EQ(broken.exit, SmsExit::StoreUnavailable);
    EXPECT_NE(broken.err.find("not a database"), std::string::npos);
}

TEST(VelloqSms, IsoTimes)
{
    test::ScopedEnvironment zone("TZ", "Asia/Kolkata");
    EXPECT_EQ(tools::parse_iso_time("2000-11-22T13:05:09Z"), 974898309000LL);
    EXPECT_EQ(tools::parse_iso_time("2000-11-22T18:35:09"), 974898309000LL);
    EXPECT_EQ(tools::parse_iso_time("2000-11-22T14:05:09+01:00"), 974898309000LL);
    EXPECT_FALSE(tools::parse_iso_time("2000-13-22T14:05"));
    EXPECT_FALSE(tools::parse_iso_time("22.11.2000"));
}

TEST(VelloqSms, SeededPeopleNeverShareAChatKey)
{
    test::TempDevice device;
    ASSERT_EQ(sms({ "seed", "--chats", "3000", "--messages", "0", "--contacts", "3000" }).exit, SmsExit::Ok);
    std::set<std::string> keys;
    for (auto const& card : std::filesystem::directory_iterator(device.path() / "contacts")) {
        std::string text = test::read_file(card.path());
        size_t tel = text.find("\r\nTEL");
        ASSERT_NE(tel, std::string::npos);
        std::string number = text.substr(text.find(':', tel) + 1, text.find("\r\n", tel + 2) - text.find(':', tel) - 1);
        std::string digits;
        for (char c : number)
            digits += std::isdigit(static_cast<unsigned char>(c)) ? std::string(1, c) : std::string();
        EXPECT_TRUE(keys.insert(digits.substr(digits.size() - 7)).second) << number;
    }
    EXPECT_EQ(keys.size(), 3000u);
}

TEST(VelloqSms, ADeliveryWhoseUnreadCountCannotBeWrittenSaysSoAndTheNextOneRepairsIt)
{
    test::TempDevice device;
    EXPECT_EQ(sms({ "deliver", "--from", "+4915112345", "first" }).exit, SmsExit::Ok);
    // Another program holds the registry's write lock for longer than a writer waits.
    sqlite3* registry = nullptr;
    ASSERT_EQ(sqlite3_open((device.path() / "registry.db").c_str(), &registry), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(registry, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    auto blocked = sms({ "deliver", "--from", "+4915112345", "second" });
    EXPECT_EQ(blocked.exit, SmsExit::StoreUnavailable);
    EXPECT_NE(blocked.err.find("the unread count could not be written"), std::string::npos) << blocked.err;
    sqlite3_exec(registry, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(registry);
    EXPECT_EQ(sms({ "deliver", "--from", "+4915112345", "third" }).exit, SmsExit::Ok);
    int32_t count = 0;
    ASSERT_TRUE(reg_get_int(u"HKEY_CURRENT_USER\\System\\State\\Messages\\SMS\\Unread", u"Count", count));
    EXPECT_EQ(count, 3);
}

TEST(VelloqSms, AMessageCannotDriveTheTerminal)
{
    test::TempDevice device;
    ASSERT_EQ(sms({ "deliver", "--from", "+49151\x1b[2J", "--name", "Eve\x1b]0;x\x07", "\x1b[31mred\x9b" }).exit, SmsExit::Ok);
    std::string listed = sms({ "list" }).out;
    EXPECT_EQ(listed.find('\x1b'), std::string::npos) << listed;
    EXPECT_EQ(listed.find('\x07'), std::string::npos);
    EXPECT_NE(listed.find("Eve\\x1b]0;x\\x07 <+49151\\x1b[2J>\t\\x1b[31mred"), std::string::npos) << listed;
}
