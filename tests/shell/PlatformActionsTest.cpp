#include "shell/Platform.h"

#include "platform/Utf.h"
#include "shell/Registry.h"
#include "support/TempDevice.h"
#include "support/Wait.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

using namespace velloq;

namespace {

// A stand-in for xdg-open on PATH that records its arguments, one per line, NUL-free.
class RecordingOpener : public testing::Test {
protected:
    void SetUp() override
    {
        bin = device.path() / "bin";
        std::filesystem::create_directories(bin);
        record = device.path() / "opened";
        std::ofstream(bin / "xdg-open") << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" << record.string() << ".part\"\nmv \""
                                         << record.string() << ".part\" \"" << record.string() << "\"\n";
        ::chmod((bin / "xdg-open").c_str(), 0755);
        old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
        ::setenv("PATH", (bin.string() + ":" + old_path).c_str(), 1);
        ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    }
    void TearDown() override { ::setenv("PATH", old_path.c_str(), 1); }
    std::string opened()
    {
        EXPECT_TRUE(test::wait_for_file(record));
        std::string text = test::read_file(record);
        std::filesystem::remove(record);
        return text;
    }

    test::TempDevice device;
    std::filesystem::path bin;
    std::filesystem::path record;
    std::string old_path;
};

}

TEST_F(RecordingOpener, WebMailAndCallGoToTheDesktopOpener)
{
    EXPECT_TRUE(execute_file(u"%windows%/iexplore.exe", u"www.example.org/a?b=1"));
    EXPECT_EQ(opened(), "http://www.example.org/a?b=1\n");
    EXPECT_TRUE(execute_file(u"%windows%/tmail.exe", u"-service \"SMS\" -to anna@example.com"));
    EXPECT_EQ(opened(), "mailto:anna@example.com\n");
    EXPECT_TRUE(execute_file(u"%windows%/tmail.exe", u"mailto:ben@example.org"));
    EXPECT_EQ(opened(), "mailto:ben@example.org\n");
    EXPECT_TRUE(make_call(u"+7 (916) 123-45-67"));
    EXPECT_EQ(opened(), "tel:+7 (916) 123-45-67\n");
    EXPECT_FALSE(make_call(u""));
    EXPECT_NE(test::read_utf16_file(device.log_file()).find(u"} {www.example.org/a?b=1)\n"), std::u16string::npos);
}

TEST_F(RecordingOpener, UntrustedLinksArriveAsOneArgumentAndNeverAsAnOption)
{
    std::u16string hostile = u"--help; rm -rf / $(touch pwned) `id` \"quoted\" 'single'";
    EXPECT_TRUE(execute_file(u"%windows%/iexplore.exe", hostile));
    EXPECT_EQ(opened(), "http://--help; rm -rf / $(touch pwned) `id` \"quoted\" 'single'\n");
    EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST_F(RecordingOpener, HelpPagesOpenAndMissingFilesFail)
{
    std::ofstream(device.path() / "help.htm") << "<p>help</p>";
    EXPECT_TRUE(execute_file((device.path() / "help.htm").u16string(), u""));
    EXPECT_EQ(opened(), (device.path() / "help.htm").string() + "\n");
    EXPECT_FALSE(execute_file((device.path() / "missing.htm").u16string(), u""));
}

TEST_F(RecordingOpener, OnlyWebAddressesGoToTheBrowser)
{
    for (char16_t const* other : { u"file:///etc/passwd.de", u"smb://host/share.com", u"sftp://evil.ru", u"javascript:alert(1).com" }) {
        EXPECT_FALSE(is_web_address(other)) << to_utf8(other);
        EXPECT_FALSE(execute_file(u"%windows%/iexplore.exe", other)) << to_utf8(other);
    }
    for (char16_t const* web : { u"https://example.org/a", u"HTTP://example.org", u"www.example.org", u"example.org:8080/x" })
        EXPECT_TRUE(is_web_address(web)) << to_utf8(web);
    EXPECT_FALSE(std::filesystem::exists(record));
    EXPECT_TRUE(execute_file(u"%windows%/iexplore.exe", u"https://example.org/a b"));
    EXPECT_EQ(opened(), "https://example.org/a b\n");
}

TEST_F(RecordingOpener, AProgramGetsEachArgumentWholeWhateverItHolds)
{
    auto marker = device.path() / "arguments";
    EXPECT_TRUE(run_program(u"" VELLOQ_TEST_MARKER, { marker.u16string(), u"open:x --config=evil.conf" }));
    ASSERT_TRUE(test::wait_for_file(marker));
    EXPECT_EQ(test::read_file(marker), "open:x --config=evil.conf\n");
}
