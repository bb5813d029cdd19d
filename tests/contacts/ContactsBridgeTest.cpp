#include "ContactMirror.h"
#include "EdsSession.h"
#include "platform/Process.h"
#include "support/ChildProcess.h"
#include "support/TempDevice.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

using namespace velloq;

namespace {

constexpr char const* bridge = VELLOQ_PROGRAM_DIR "/velloq-contacts";
constexpr char const* sms_tool = VELLOQ_PROGRAM_DIR "/velloq-sms";
constexpr char const* chats_tool = VELLOQ_PROGRAM_DIR "/velloq-chats";

std::string read(std::filesystem::path const& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

std::vector<std::string> names_in(std::filesystem::path const& folder)
{
    std::vector<std::string> names;
    for (auto const& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The chats as the program names them: the last seven digits of the number, and the name.
std::map<std::string, std::string> chat_names(test::TempDevice const& device)
{
    auto listed = platform::read_program_output({ "/usr/bin/env", "VELLOQ_DEVICE=" + device.path().string(), chats_tool }, 60'000);
    std::map<std::string, std::string> names;
    std::istringstream lines(listed.value_or(""));
    for (std::string line; std::getline(lines, line);) {
        size_t tab = line.find('\t');
        size_t next = line.find('\t', tab + 1);
        if (tab != std::string::npos && next != std::string::npos)
            names[line.substr(0, tab)] = line.substr(tab + 1, next - tab - 1);
    }
    return names;
}

void deliver(test::TempDevice const& device, std::string const& from)
{
    ASSERT_TRUE(platform::read_program_output({ "/usr/bin/env", "VELLOQ_DEVICE=" + device.path().string(), sms_tool, "deliver", "--from", from, "Hello" }, 60'000));
}

}

// A contact's file is named after its book and itself, escaped so that no identifier reaches
// outside the folder; a card is written whole into place, and rewritten only when it changed.
TEST(ContactMirror, FilesAreNamedSafelyAndWrittenWhole)
{
    test::TempDevice device;
    auto folder = device.path() / "contacts";
    contacts::ContactMirror mirror(folder.string());
    EXPECT_EQ(contacts::ContactMirror::file_name(0, "system-address-book", "pas-id-1"), "eds-000-system%2Daddress%2Dbook-pas%2Did%2D1.vcf");
    EXPECT_EQ(contacts::ContactMirror::file_name(2, "../../etc", "a/b"), "eds-002-..%2F..%2Fetc-a%2Fb.vcf");
    ASSERT_TRUE(mirror.write(0, "book", "anna", "BEGIN:VCARD\r\nFN:Anna\r\nEND:VCARD\r\n"));
    auto written = std::filesystem::last_write_time(folder / "eds-000-book-anna.vcf");
    ASSERT_TRUE(mirror.write(0, "book", "anna", "BEGIN:VCARD\r\nFN:Anna\r\nEND:VCARD\r\n"));
    EXPECT_EQ(std::filesystem::last_write_time(folder / "eds-000-book-anna.vcf"), written);
    EXPECT_EQ(names_in(folder), (std::vector<std::string> { "eds-000-book-anna.vcf" }));
    EXPECT_EQ(read(folder / "eds-000-book-anna.vcf"), "BEGIN:VCARD\r\nFN:Anna\r\nEND:VCARD\r\n");
}

// After a book was read whole, the files of its contacts that are gone go; other books' files,
// and the device's own cards, stay. A book that is gone takes all its files.
TEST(ContactMirror, GoneContactsAndBooksTakeOnlyTheirOwnFiles)
{
    test::TempDevice device;
    auto folder = device.path() / "contacts";
    contacts::ContactMirror mirror(folder.string());
    std::ofstream(folder / "phone.vcf") << "BEGIN:VCARD\r\nFN:Own\r\nEND:VCARD\r\n";
    for (char const* contact : { "anna", "bob", "carl" })
        mirror.write(0, "book", contact, "card");
    mirror.write(1, "work", "anna", "card");
    mirror.write(1, "book2", "dora", "card");
    EXPECT_EQ(mirror.remove_others(0, "book", { "bob" }), 2);
    EXPECT_EQ(names_in(folder), (std::vector<std::string> { "eds-000-book-bob.vcf", "eds-001-book2-dora.vcf", "eds-001-work-anna.vcf", "phone.vcf" }));
    EXPECT_EQ(mirror.remove_book("work"), 1);
    EXPECT_TRUE(mirror.remove(0, "book", "bob"));
    EXPECT_EQ(names_in(folder), (std::vector<std::string> { "eds-001-book2-dora.vcf", "phone.vcf" }));
}

class ContactsBridgeTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!test::eds_installed())
            GTEST_SKIP() << "Evolution Data Server is not installed (scripts/bootstrap.sh installs it)";
        eds = std::make_unique<test::EdsSession>(device.path() / "eds");
        ASSERT_TRUE(eds->running());
        deliver(device, "+4915112345678");
        deliver(device, "0301234567");
        deliver(device, "+4917612345000");
    }
    std::unique_ptr<test::ChildProcess> start_bridge()
    {
        auto environment = eds->environment();
        environment.push_back("VELLOQ_DEVICE=" + device.path().string());
        return std::make_unique<test::ChildProcess>(std::vector<std::string> { bridge }, environment);
    }
    bool named(std::string const& chat, std::string const& name)
    {
        return test::wait_until([&] { return chat_names(device)[chat] == name; });
    }

    test::TempDevice device;
    std::unique_ptr<test::EdsSession> eds;
};

// What GNOME Contacts does reaches the chats: a contact added (its two numbers name two chats),
// renamed, given ten numbers, deleted. The personal book's name wins over another book's for the
// same number.
TEST_F(ContactsBridgeTest, ContactsAddedRenamedAndDeletedInTheAddressBookNameTheChats)
{
    ASSERT_TRUE(eds->change({ "add", "system", "anna", "Анна Schmidt", "+4915112345678", "030 1234567" }));
    auto service = start_bridge();
    EXPECT_TRUE(named("2345678", "Анна Schmidt"));
    EXPECT_TRUE(named("1234567", "Анна Schmidt"));
    ASSERT_TRUE(eds->change({ "rename", "system", "anna", "Anna Müller" }));
    EXPECT_TRUE(named("2345678", "Anna Müller"));
    std::vector<std::string> many { "add", "system", "many", "王小明" };
    for (int i = 0; i < 10; ++i)
        many.push_back("+49176123450" + std::to_string(i) + "0");
    ASSERT_TRUE(eds->change(many));
    EXPECT_TRUE(named("2345000", "王小明"));
    auto work = eds->change({ "new-book", "Work" });
    ASSERT_TRUE(work);
    std::string work_uid = work->substr(0, work->find('\n'));
    ASSERT_TRUE(eds->change({ "add", work_uid, "anna-at-work", "Dr. A. Müller", "+4915112345678" }));
    ASSERT_TRUE(test::wait_until([&] {
        auto files = names_in(device.path() / "contacts");
        return std::any_of(files.begin(), files.end(), [](auto const& name) { return name.find("anna%2Dat%2Dwork") != std::string::npos; });
    }));
    EXPECT_EQ(chat_names(device)["2345678"], "Anna Müller");
    // The personal card gone, the other book's names the number.
    ASSERT_TRUE(eds->change({ "remove", "system", "anna" }));
    EXPECT_TRUE(named("2345678", "Dr. A. Müller"));
    ASSERT_TRUE(eds->change({ "remove", "system", "many" }));
    EXPECT_TRUE(test::wait_until([&] { return chat_names(device)["2345000"] != "王小明"; }));
    service->signal(SIGTERM);
    EXPECT_EQ(service->wait(), 0);
}

// EDS going away leaves the mirrored contacts; the bridge waits and catches up when it is back,
// and as well when only the address-book factory ended and started again.
// Contacts deleted while the bridge did not run are gone from the chats when it runs again.
TEST_F(ContactsBridgeTest, TheMirrorOutlivesEdsAndCatchesUpWhenItIsBack)
{
    ASSERT_TRUE(eds->change({ "add", "system", "anna", "Anna", "+4915112345678" }));
    ASSERT_TRUE(eds->change({ "add", "system", "bob", "Bob", "0301234567" }));
    auto service = start_bridge();
    ASSERT_TRUE(named("2345678", "Anna"));
    eds->stop();
    EXPECT_EQ(chat_names(device)["2345678"], "Anna");
    ASSERT_TRUE(eds->start());
    ASSERT_TRUE(eds->change({ "rename", "system", "anna", "Anna Back" }));
    EXPECT_TRUE(named("2345678", "Anna Back"));
    eds->stop_factory();
    ASSERT_TRUE(eds->start_factory());
    ASSERT_TRUE(eds->change({ "rename", "system", "anna", "Anna Again" }));
    EXPECT_TRUE(named("2345678", "Anna Again"));
    service->signal(SIGTERM);
    EXPECT_EQ(service->wait(), 0);
    ASSERT_TRUE(eds->change({ "remove", "system", "bob" }));
    service = start_bridge();
    EXPECT_TRUE(test::wait_until([&] { return chat_names(device)["1234567"] != "Bob"; }));
    EXPECT_EQ(chat_names(device)["2345678"], "Anna Again");
    service->signal(SIGTERM);
    EXPECT_EQ(service->wait(), 0);
}
