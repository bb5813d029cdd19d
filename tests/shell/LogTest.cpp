#include "shell/Log.h"

#include "platform/Utf.h"
#include "shell/Fatal.h"
#include "shell/Registry.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <atomic>
#include <thread>

using namespace velloq;

namespace {

constexpr char16_t const* ketra = u"HKEY_CURRENT_USER\\Software\\Ketra";

void switch_log(int32_t on) { ASSERT_TRUE(reg_set_int(ketra, u"Log", on)); }

// The log file's bytes as the UTF-16LE text they hold, after checking the byte-order mark.
std::u16string log_text(std::filesystem::path const& path)
{
    std::string bytes = test::read_file(path);
    EXPECT_GE(bytes.size(), 2u);
    if (bytes.size() < 2)
        return {};
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xFE);
    EXPECT_EQ(bytes.size() % 2, 0u);
    return test::read_utf16_file(path);
}

}

TEST(Log, OffWritesNothingAndMakesNoFile)
{
    test::TempDevice device;
    log() << u"nothing" << u"\n";
    EXPECT_FALSE(std::filesystem::exists(device.log_file()));
    switch_log(0);
    log() << u"still nothing\n";
    EXPECT_FALSE(std::filesystem::exists(device.log_file()));
}

TEST(Log, FileIsUtf16LittleEndianWithMarkAndLoneLineFeeds)
{
    test::TempDevice device;
    switch_log(1);
    log() << u"time1: " << 42 << u"\n";
    log() << u"Привет 😀 " << -7 << u" " << 4294967295u << u" " << Key::SoftLeft << u"\n";
    EXPECT_EQ(log_text(device.log_file()), u"time1: 42\nПривет 😀 -7 4294967295 SOFT_LEFT\n");
    std::string bytes = test::read_file(device.log_file());
    EXPECT_EQ(bytes.find('\r'), std::string::npos);
}

TEST(Log, PointersAreWrittenAsDecimalNumbers)
{
    test::TempDevice device;
    switch_log(1);
    int object = 0;
    log() << static_cast<void const*>(&object) << u"\n";
    EXPECT_EQ(log_text(device.log_file()), std::u16string(to_u16_decimal_unsigned(reinterpret_cast<uintptr_t>(&object))) + u"\n");
}

TEST(Log, SwitchingOnStartsAFreshFileAndSwitchingOffStopsIt)
{
    test::TempDevice device;
    switch_log(1);
    log() << u"first run\n";
    switch_log(0);
    log() << u"lost\n";
    EXPECT_EQ(log_text(device.log_file()), u"first run\n");
    switch_log(1);
    log() << u"second run\n";
    EXPECT_EQ(log_text(device.log_file()), u"second run\n");
}

TEST(Log, FileIsPrivateAndSymbolicLinksAreNotFollowed)
{
    test::TempDevice device;
    auto target = device.path() / "elsewhere.txt";
    std::filesystem::create_symlink(target, device.log_file());
    switch_log(1);
    log() << u"not written through the link\n";
    EXPECT_FALSE(std::filesystem::exists(target));

    std::filesystem::remove(device.log_file());
    switch_log(0);
    log() << u"\n";
    switch_log(1);
    log() << u"line\n";
    struct stat info {};
    ASSERT_EQ(stat(device.log_file().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(Log, SecondWriterGetsNoFileWhileTheFirstHoldsIt)
{
    test::TempDevice device;
    switch_log(1);
    log() << u"first holder\n";
    FileLogSink second(u"/Temp/" + device.log_file().filename().u16string());
    EXPECT_FALSE(second.is_open());
    std::u16string text = u"second\n";
    second.write(text.data(), text.data() + text.size());
    EXPECT_EQ(log_text(device.log_file()), u"first holder\n");
}

TEST(Log, InsertionsFromSeveralThreadsStayWhole)
{
    test::TempDevice device;
    switch_log(1);
    auto& sink = log();
    std::u16string a(200, u'a');
    std::u16string b(200, u'b');
    std::thread other([&] { for (int i = 0; i < 200; ++i) sink << a; });
    for (int i = 0; i < 200; ++i)
        sink << b;
    other.join();
    std::u16string text = log_text(device.log_file());
    ASSERT_EQ(text.size(), 200u * 400u);
    for (size_t chunk = 0; chunk < text.size(); chunk += 200)
        EXPECT_EQ(text.substr(chunk, 200).find_first_not_of(text[chunk]), std::u16string::npos);
}

TEST(Log, UnwritableFolderLosesLinesQuietly)
{
    test::TempDevice device;
    std::filesystem::remove_all(device.path() / "Temp");
    std::ofstream(device.path() / "Temp") << "a file where the folder should be";
    switch_log(1);
    log() << u"lost\n";
    log().flush();
    // The file in the folder's place is neither replaced nor written to.
    ASSERT_TRUE(std::filesystem::is_regular_file(device.path() / "Temp"));
    EXPECT_EQ(test::read_file(device.path() / "Temp"), "a file where the folder should be");
}

TEST(FatalDeathTest, WritesItsLineAndEndsWithAFailureCode)
{
    test::TempDevice device;
    switch_log(1);
    EXPECT_EXIT(fatal(u"Singleton::Singleton()", u"Singleton is already instantiated"), testing::ExitedWithCode(fatal_exit_code), "");
    EXPECT_EQ(log_text(device.log_file()), u"Gluck: Singleton is already instantiated @ Singleton::Singleton()\n");
}

TEST(FatalDeathTest, EndsTheProcessWithLoggingOff)
{
    test::TempDevice device;
    EXPECT_EXIT(fatal(u"here", u"what"), testing::ExitedWithCode(fatal_exit_code), "");
    EXPECT_FALSE(std::filesystem::exists(device.log_file()));
}

TEST(Log, SwitchingTheLogWhileAnotherThreadWritesIsSafe)
{
    test::TempDevice device;
    std::atomic<bool> done { false };
    std::thread writer([&] {
        while (!done)
            log() << u"a line from the other thread, long enough to take a while to write\n";
    });
    for (int round = 0; round < 40; ++round)
        reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", round % 2);
    done = true;
    writer.join();
    // The last switch was on: the log holds whole lines only, none torn by a switch.
    std::u16string_view line = u"a line from the other thread, long enough to take a while to write\n";
    log() << line;
    log().flush();
    std::u16string text = test::read_utf16_file(device.log_file());
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(text.size() % line.size(), 0u);
    for (size_t at = 0; at < text.size(); at += line.size())
        ASSERT_EQ(std::u16string_view(text).substr(at, line.size()), line) << "at " << at;
    reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 0);
}

TEST(Log, TheLogFollowsTheDeviceFolder)
{
    test::TempDevice first;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    log() << u"for the first\n";
    {
        test::TempDevice second;
        ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
        log() << u"for the second\n";
        EXPECT_EQ(test::read_utf16_file(second.log_file()), u"for the second\n");
    }
    EXPECT_EQ(test::read_utf16_file(first.log_file()).find(u"for the second"), std::u16string::npos);
}

TEST(Log, TextFromOutsideStaysOnItsLineAndItsLengthIsBounded)
{
    EXPECT_EQ(log_safe(u"sms:+49151?body=hi\nfake line\x1b[2J"), u"sms:+49151?body=hi\\nfake line\\x1b[2J");
    std::u16string huge(4 * 1024 * 1024, u'7');
    std::u16string shown = log_safe(huge, 256);
    EXPECT_EQ(shown.size(), 256u + std::u16string(u"… (4194048 more)").size());
    EXPECT_TRUE(shown.ends_with(u"… (4194048 more)"));
}
