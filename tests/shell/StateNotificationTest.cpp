#include "shell/StateNotification.h"

#include "shell/Registry.h"
#include "platform/Utf.h"
#include "support/TempDevice.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <vector>

using namespace velloq;

namespace {

constexpr char16_t const* unread_key = u"HKEY_CURRENT_USER\\System\\State\\Messages\\SMS\\Unread";
constexpr char16_t const* name = u"Ketra.Velloq.message";

std::u16string marker_command(std::filesystem::path const& marker)
{
    return u"\"" VELLOQ_TEST_MARKER u"\" \"" + marker.u16string() + u"\" message";
}

// The broker decides while the writing call runs and logs each decision before it returns, so
// what it did not start is seen at once, without waiting for a program that never comes.
class StateNotification : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1)); }

    std::vector<std::u16string> decisions() { return device.log_lines(u"broker "); }

    test::TempDevice device;
};

bool starts_with(std::u16string const& text, std::u16string_view prefix) { return text.starts_with(prefix); }

}

TEST_F(StateNotification, UnreadCountBecomingNonZeroStartsTheProgram)
{
    auto marker = device.path() / "started";
    ASSERT_TRUE(set_app_notification(name, marker_command(marker)));
    ASSERT_TRUE(reg_set_int(unread_key, u"Count", 0));
    EXPECT_EQ(decisions(), std::vector<std::u16string> { u"broker Ketra.Velloq.message: not started: the condition does not hold" });
    ASSERT_TRUE(reg_set_int(unread_key, u"Count", 2));
    ASSERT_EQ(decisions().size(), 2u);
    EXPECT_TRUE(starts_with(decisions()[1], u"broker Ketra.Velloq.message: started pid ")) << to_utf8(decisions()[1]);
    ASSERT_TRUE(test::wait_for_file(marker));
    EXPECT_EQ(test::read_file(marker), "message\n");
}

TEST_F(StateNotification, WritingTheSameValueAgainIsNoChange)
{
    auto marker = device.path() / "started";
    ASSERT_TRUE(reg_set_int(unread_key, u"Count", 3));
    ASSERT_TRUE(set_app_notification(name, marker_command(marker)));
    ASSERT_TRUE(reg_set_int(unread_key, u"count", 3));
    EXPECT_TRUE(decisions().empty());
}

TEST_F(StateNotification, RegisteringTwiceIsTrueBothTimesAndKeepsTheFirst)
{
    auto first = device.path() / "first";
    auto second = device.path() / "second";
    EXPECT_TRUE(set_app_notification(name, marker_command(first)));
    EXPECT_TRUE(set_app_notification(name, marker_command(second)));
    ASSERT_TRUE(reg_set_int(unread_key, u"Count", 1));
    ASSERT_EQ(decisions().size(), 1u);
    EXPECT_NE(decisions()[0].find(first.u16string()), std::u16string::npos);
    EXPECT_EQ(decisions()[0].find(second.u16string()), std::u16string::npos);
    ASSERT_TRUE(test::wait_for_file(first));
}

TEST_F(StateNotification, StoppedRegistrationStartsNothing)
{
    auto marker = device.path() / "started";
    ASSERT_TRUE(set_app_notification(name, marker_command(marker)));
    EXPECT_TRUE(stop_app_notification(name));
    ASSERT_TRUE(reg_set_int(unread_key, u"Count", 5));
    EXPECT_TRUE(decisions().empty());
    EXPECT_TRUE(stop_app_notification(name));
}

TEST_F(StateNotification, LogLines)
{
    set_app_notification(name, u"\"/opt/velloq/velloq\" message");
    set_app_notification(name, u"\"/opt/velloq/velloq\" message");
    stop_app_notification(name);
    EXPECT_EQ(test::read_utf16_file(device.log_file()),
        u"set_app_notification Ketra.Velloq.message \"/opt/velloq/velloq\" message\n"
        u"set_app_notification fun good\n"
        u"set_app_notification result=0\n"
        u"set_app_notification Ketra.Velloq.message \"/opt/velloq/velloq\" message\n"
        u"set_app_notification fun good\n"
        u"set_app_notification result=-2147023654\n"
        u"stop_app_notification Ketra.Velloq.message\n"
        u"stop_app_notification fun good\n"
        u"stop_app_notification result=0\n");
}

TEST_F(StateNotification, AnotherProcessWritingTheCountStartsTheProgram)
{
    auto marker = device.path() / "started";
    ASSERT_TRUE(set_app_notification(name, marker_command(marker)));
    std::string command = "VELLOQ_DEVICE='" + device.path().string() + "' '" VELLOQ_PROGRAM_DIR "/velloq-reg' set '"
        "HKEY_CURRENT_USER\\System\\State\\Messages\\SMS\\Unread' Count dword 1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_TRUE(test::wait_for_file(marker));
}

TEST_F(StateNotification, TheProgramIsStartedAgainOnlyAfterItsLastStartEnded)
{
    // A program that notes each start and runs until the test lets it go, as the program in
    // message mode runs until the user leaves the alert.
    auto program = device.path() / "slow-program";
    auto starts = device.path() / "starts";
    auto go = device.path() / "go";
    ASSERT_EQ(::mkfifo(go.c_str(), 0600), 0);
    std::ofstream(program) << "#!/bin/sh\necho started >> \"$1\"\nread line < \"$2\"\n";
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    ASSERT_TRUE(set_app_notification(name, u"\"" + program.u16string() + u"\" \"" + starts.u16string() + u"\" \"" + go.u16string() + u"\""));
    for (int count = 1; count <= 20; ++count)
        ASSERT_TRUE(reg_set_int(unread_key, u"Count", static_cast<int32_t>(count)));
    auto lines = decisions();
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_TRUE(starts_with(lines[0], u"broker Ketra.Velloq.message: started pid ")) << to_utf8(lines[0]);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_TRUE(starts_with(lines[i], u"broker Ketra.Velloq.message: not started: pid ")) << to_utf8(lines[i]);
    ASSERT_TRUE(test::wait_for_file(starts));
    // Once it has ended, the next change starts it again.
    std::ofstream(go) << "go\n";
    int32_t count = 30;
    EXPECT_TRUE(test::wait_until([&] {
        reg_set_int(unread_key, u"Count", ++count);
        return test::read_file(starts) == "started\nstarted\n";
    }));
    if (test::read_file(starts) == "started\nstarted\n")
        std::ofstream(go) << "go\n";
}

TEST_F(StateNotification, AWriterWithoutADisplayStartsTheProgramInTheUsersSession)
{
    // The user manager's environment, which the desktop session fills, as systemctl shows it.
    auto bin = device.path() / "bin";
    std::filesystem::create_directories(bin);
    std::ofstream(bin / "systemctl") << "#!/bin/sh\nprintf 'HOME=/home/u\\nDISPLAY=:77\\nWAYLAND_DISPLAY=wayland-9\\nXDG_SESSION_TYPE=wayland\\n'\n";
    std::filesystem::permissions(bin / "systemctl", std::filesystem::perms::owner_all);
    auto program = device.path() / "show-display";
    auto seen = device.path() / "seen";
    std::ofstream(program) << "#!/bin/sh\necho \"$DISPLAY $WAYLAND_DISPLAY $XDG_SESSION_TYPE\" > \"$1.part\" && mv \"$1.part\" \"$1\"\n";
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    ASSERT_TRUE(set_app_notification(name, u"\"" + program.u16string() + u"\" \"" + seen.u16string() + u"\""));
    // A delivery from a process with an empty environment but for the device and the tools.
    std::string command = "env -i VELLOQ_DEVICE='" + device.path().string() + "' PATH='" + bin.string() + ":/usr/bin:/bin' '" VELLOQ_PROGRAM_DIR
                          "/velloq-reg' set 'HKEY_CURRENT_USER\\System\\State\\Messages\\SMS\\Unread' Count dword 4";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_TRUE(test::wait_for_file(seen));
    EXPECT_EQ(test::read_file(seen), ":77 wayland-9 wayland\n");
}
