#include "platform/SingleInstance.h"
#include "shell/Registry.h"
#include "shell/SingleInstancePaths.h"
#include "support/ChildProcess.h"
#include "support/TempDevice.h"
#include "support/Wait.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/Utf.h"

using namespace velloq;

namespace {

// Whether another process holds the start-up lock: a lock of our own cannot be had then.
bool lock_is_held(std::filesystem::path const& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

class SingleInstance : public testing::Test {
protected:
    std::unique_ptr<test::ChildProcess> start(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), VELLOQ_TEST_HOST);
        return std::make_unique<test::ChildProcess>(arguments, test::headless_environment(device.path().string()));
    }

    std::unique_ptr<test::ChildProcess> start_first()
    {
        auto first = start({});
        EXPECT_TRUE(test::wait_for_file(device.path() / "ready"));
        return first;
    }

    // Ends the first instance through the hand-over itself, so its queue is flushed first.
    void quit(test::ChildProcess& first)
    {
        EXPECT_EQ(start({ "quit" })->wait(), 0);
        EXPECT_EQ(first.wait(), 0);
    }

    std::string received() { return test::read_file(device.path() / "received.txt"); }
    std::string socket_path() { return device.path().string() + "/MavrelClass_Velloq"; }

    test::TempDevice device;
};

}

TEST_F(SingleInstance, SecondStartHandsOverItsCommandLineAndEnds)
{
    auto first = start_first();
    EXPECT_EQ(start({ "open:+4912345678" })->wait(), 0);
    EXPECT_EQ(start({})->wait(), 0);
    quit(*first);
    EXPECT_EQ(received(), "open:+4912345678\n<empty>\nquit\n");
}

TEST_F(SingleInstance, QuickStartsArriveInTheirOrder)
{
    auto first = start_first();
    for (char const* line : { "message", "open:+1", "open:+2" })
        EXPECT_EQ(start({ line })->wait(), 0);
    quit(*first);
    EXPECT_EQ(received(), "message\nopen:+1\nopen:+2\nquit\n");
}

TEST_F(SingleInstance, SecondStartWaitsWhileTheFirstIsStillStarting)
{
    auto first = start({ "", "1500" });
    // The lock file appears just before the first takes the lock.
    ASSERT_TRUE(test::wait_for_file(device.path() / "Velloq.lock"));
    ASSERT_TRUE(test::wait_until([&] { return lock_is_held(device.path() / "Velloq.lock"); }));
    auto second = start({ "message" });
    EXPECT_EQ(second->wait(), 0);
    // Had the second not waited for the first, it would have found no instance and run as one.
    EXPECT_TRUE(test::wait_for_file(device.path() / "ready"));
    quit(*first);
    EXPECT_EQ(received(), "message\nquit\n");
}

TEST_F(SingleInstance, StaleSocketOfADeadInstanceIsNoInstance)
{
    {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, socket_path().c_str());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        close(fd);
    }
    auto first = start_first();
    EXPECT_EQ(start({ "message" })->wait(), 0);
    quit(*first);
    EXPECT_EQ(received(), "message\nquit\n");
}

TEST_F(SingleInstance, StartAfterACrashStartsNormally)
{
    auto crashed = start_first();
    crashed->signal(SIGKILL);
    crashed->wait();
    std::filesystem::remove(device.path() / "ready");
    auto first = start_first();
    quit(*first);
    EXPECT_EQ(received(), "quit\n");
}

TEST_F(SingleInstance, LongAndOddCommandLinesArriveWholeOrAreRefusedWithALogLine)
{
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    auto first = start_first();
    std::u16string odd = u"open:\"+49 1\"\n\tüñí😀 ";
    std::u16string huge;
    while (huge.size() < 1024 * 1024)
        huge += odd;
    int32_t peer = 0;
    EXPECT_EQ(platform::hand_over_to_running_instance(socket_path(), huge, peer), platform::HandOver::Delivered);
    EXPECT_EQ(peer, first->pid());
    EXPECT_EQ(platform::hand_over_to_running_instance(socket_path(), std::u16string(platform::max_handed_over_units + 1, u'x'), peer),
        platform::HandOver::Refused);
    quit(*first);
    EXPECT_EQ(received(), to_utf8(huge) + "\nquit\n");
    EXPECT_NE(test::read_utf16_file(device.path() / "Temp" / "velloq-test-host.txt").find(u"Application::copy_data refused a command line of 4194305 characters\n"),
        std::u16string::npos);
    // A megabyte of command line leaves a line of its beginning in the log, not the megabyte.
    EXPECT_LT(std::filesystem::file_size(device.path() / "Temp" / "velloq-test-host.txt"), 64u * 1024);
}

TEST_F(SingleInstance, AClientThatConnectsAndSaysNothingHoldsUpNoStart)
{
    auto first = start_first();
    int silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(silent, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_path().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::connect(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    // While it stays connected and silent, starts are handed over as ever.
    for (char const* command : { "open:+4911111111", "open:+4922222222" }) {
        int32_t peer = 0;
        EXPECT_EQ(platform::hand_over_to_running_instance(socket_path(), to_utf16(command), peer), platform::HandOver::Delivered) << command;
    }
    ::close(silent);
    quit(*first);
    EXPECT_EQ(received(), "open:+4911111111\nopen:+4922222222\nquit\n");
}

TEST_F(SingleInstance, NoInstanceWhenNobodyListens)
{
    int32_t peer = 0;
    EXPECT_EQ(platform::hand_over_to_running_instance(socket_path(), u"message", peer), platform::HandOver::NoInstance);
}
