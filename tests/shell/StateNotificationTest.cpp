#include "shell/StateNotification.h"

#include "shell/Registry.h"
#include "support/TempDevice.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

using namespace velloq;

namespace {

constexpr char16_t const* unread_key = u"HKEY_CURRENT_USER\\System\\State\\Messages\\SMS\\Unread";
constexpr char16_t const* name = u"Ketra.Velloq.message";

std::u16string marker_command(std::filesystem::path const& marker)
{
    return u"\"" VELLOQ_TEST_MARKER u"\" \"" + marker.u16string() + u"\" message";
}

// Detached programs cannot be waited for; a short pause shows that none was started.
bool stays_absent(std::filesystem::path const& path)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return !std::filesystem::exists(path);
}

}

TEST(StateNotification, UnreadCountBecomingNonZeroStartsTheProgram)
{
    test::TempDevice device;
    auto marker = device.path() / "started";
    ASSERT_TRUE(set_app_notification(name, marker_command(marker)));
    ASSERT_TRUE(reg_set_int(unread_key, u"Count", 0));
    EXPECT_TRUE(stays_absent(marker));
    ASSERT_TRUE(reg_set_int(unread_key, u"Count", 2));
    ASSERT_TRUE(test::wait_for_file(marker));
    EXPECT_EQ(test::read_file(marker), "message\n");
}

TEST(StateNotification, WritingTheSameValueAgainIsNoChange)
{
    test::TempDevice device;
    auto marker = device.path() / "started";
    ASSERT_TRUE(reg_set_int(unread_key, u"Count", 3));
    ASSERT_TRUE(set_app_notification(name, marker_command(marker)));
    ASSERT_TRUE(reg_set_int(unread_key, u"count", 3));
    EXPECT_TRUE(stays_absent(marker));
}

TEST(StateNotification, RegisteringTwiceIsTrueBothTimesAndKeepsTheFirst)
{
    test::TempDevice device;
    auto first = device.path() / "first";
    auto second = device.path() / "second";
    EXPECT_TRUE(set_app_notification(name, marker_command(first)));
    EXPECT_TRUE(set_app_notification(name, marker_command(second)));
    ASSERT_TRUE(reg_set_int(unread_key, u"Count", 1));
    ASSERT_TRUE(test::wait_for_file(first));
    EXPECT_TRUE(stays_absent(second));
}

TEST(StateNotification, StoppedRegistrationStartsNothing)
{
    test::TempDevice device;
    auto marker = device.path() / "started";
    ASSERT_TRUE(set_app_notification(name, marker_command(marker)));
    EXPECT_TRUE(stop_app_notification(name));
    ASSERT_TRUE(reg_set_int(unread_key, u"Count", 5));
    EXPECT_TRUE(stays_absent(marker));
    EXPECT_TRUE(stop_app_notification(name));
}

TEST(StateNotification, LogLines)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
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

TEST(StateNotification, AnotherProcessWritingTheCountStartsTheProgram)
{
    test::TempDevice device;
    auto marker = device.path() / "started";
    ASSERT_TRUE(set_app_notification(name, marker_command(marker)));
    std::string command = "VELLOQ_DEVICE='" + device.path().string() + "' '" VELLOQ_PROGRAM_DIR "/velloq-reg' set '"
        "HKEY_CURRENT_USER\\System\\State\\Messages\\SMS\\Unread' Count dword 1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_TRUE(test::wait_for_file(marker));
}

TEST(StateNotification, TheProgramIsStartedAgainOnlyAfterItsLastStartEnded)
{
    test::TempDevice device;
    // A program that notes each start and runs for a while, as the program in message mode does.
    auto program = device.path() / "slow-program";
    auto starts = device.path() / "starts";
    std::ofstream(program) << "#!/bin/sh\necho started >> \"$1\"\nsleep 1\n";
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    ASSERT_TRUE(set_app_notification(name, u"\"" + program.u16string() + u"\" \"" + starts.u16string() + u"\""));
    for (int count = 1; count <= 20; ++count)
        ASSERT_TRUE(reg_set_int(unread_key, u"Count", static_cast<int32_t>(count)));
    ASSERT_TRUE(test::wait_for_file(starts));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(test::read_file(starts), "started\n");
    // It has ended: the next change starts it again.
    ASSERT_TRUE(reg_set_int(unread_key, u"Count", 30));
    EXPECT_TRUE(test::wait_until([&] { return test::read_file(starts) == "started\nstarted\n"; }));
}

TEST(StateNotification, AWriterWithoutADisplayStartsTheProgramInTheUsersSession)
{
    test::TempDevice device;
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
