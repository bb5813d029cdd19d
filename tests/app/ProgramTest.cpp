#include "shell/Registry.h"
#include "support/ChildProcess.h"
#include "support/Compositor.h"
#include "support/InputMethod.h"
#include "support/TempDevice.h"
#include "support/Wait.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/Process.h"
#include "platform/Utf.h"

using namespace velloq;

namespace {

std::string const program = VELLOQ_PROGRAM_DIR "/velloq";

uint32_t big_endian(std::string const& bytes, size_t at)
{
    return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 | uint32_t(uint8_t(bytes[at + 2])) << 8 | uint8_t(bytes[at + 3]);
}

}

TEST(Program, HeadlessRunDrawsWritesSnapshotsAndEndsOnTerm)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    auto log_file = device.path() / "Temp" / "velloq.txt";
    auto snapshot = device.path() / "frame.png";
    auto environment = test::headless_environment(device.path().string());
    environment.push_back("VELLOQ_SNAPSHOT=" + snapshot.string());
    environment.push_back("VELLOQ_SCREEN=240x400");
    test::ChildProcess velloq({ program }, environment);
    ASSERT_TRUE(test::wait_until([&] { return test::read_utf16_file(log_file).find(u"total_load_time:") != std::u16string::npos; }));

    velloq.signal(SIGUSR1);
    ASSERT_TRUE(test::wait_for_file(snapshot));
    std::string png = test::read_file(snapshot);
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_EQ(big_endian(png, 16), 240u);
    EXPECT_EQ(big_endian(png, 20), 400u);

    velloq.signal(SIGTERM);
    EXPECT_EQ(velloq.wait(), 0);
    std::u16string text = test::read_utf16_file(log_file);
    for (std::u16string line : { u"Application::show_running_instance_open_bracket cmd_line=\n", u"time1: ", u" GameBase 5\n",
             u"Application::Application() this=", u"Display::Create( hwnd = ", u"SDLDriver: Initialize()\n",
             u"Success, returning display params to caller (W:240, H:400, O:0, S:1)\n", u"time2: ", u"time3:", u"Application::~Application()\n" })
        EXPECT_NE(text.find(line), std::u16string::npos) << to_utf8(line) << "\n" << to_utf8(text);
}

TEST(Program, SecondStartEndsAtOnceAndTheFirstKeepsRunning)
{
    test::TempDevice device;
    auto environment = test::headless_environment(device.path().string());
    test::ChildProcess first({ program }, environment);
    ASSERT_TRUE(test::wait_for_file(device.path() / "MavrelClass_Velloq"));
    test::ChildProcess second({ program, "open:+4912345" }, environment);
    EXPECT_EQ(second.wait(), 0);
    EXPECT_FALSE(first.wait(std::chrono::milliseconds(200)));
    first.signal(SIGINT);
    EXPECT_EQ(first.wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(device.path() / "MavrelClass_Velloq"));
}

TEST(Program, OddScreenTextIsLoggedAndIgnored)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    auto environment = test::headless_environment(device.path().string());
    environment.push_back("VELLOQ_SCREEN=huge");
    test::ChildProcess velloq({ program }, environment);
    auto log_file = device.path() / "Temp" / "velloq.txt";
    ASSERT_TRUE(test::wait_until([&] { return test::read_utf16_file(log_file).find(u"total_load_time:") != std::u16string::npos; }));
    velloq.signal(SIGTERM);
    EXPECT_EQ(velloq.wait(), 0);
    EXPECT_NE(test::read_utf16_file(log_file).find(u"GameBase: VELLOQ_SCREEN=huge is not WxH or WxH@DPI; ignored\n"), std::u16string::npos);
}

namespace {

std::string const sms_tool = VELLOQ_PROGRAM_DIR "/velloq-sms";

bool log_has(std::filesystem::path const& log_file, std::u16string const& line)
{
    return test::read_utf16_file(log_file).find(line) != std::u16string::npos;
}

// The processes of the program started with these arguments for this device (the broker starts
// them detached, so no test holds them as children).
std::vector<pid_t> programs_running(std::string const& executable, std::string const& device, std::vector<std::string> const& arguments)
{
    std::vector<pid_t> found;
    for (auto const& entry : std::filesystem::directory_iterator("/proc")) {
        pid_t pid = std::atoi(entry.path().filename().c_str());
        if (pid <= 0)
            continue;
        std::string command = test::read_file(entry.path() / "cmdline");
        std::string expected = executable;
        for (auto const& argument : arguments)
            expected += '\0' + argument;
        expected += '\0';
        std::string environment = test::read_file(entry.path() / "environ");
        if (command == expected && environment.find("VELLOQ_DEVICE=" + device + '\0') != std::string::npos)
            found.push_back(pid);
    }
    return found;
}

void run_to_end(std::vector<std::string> const& arguments, std::vector<std::string> const& environment)
{
    test::ChildProcess tool(arguments, environment);
    ASSERT_EQ(tool.wait(), 0);
}

}

namespace {

// A program folder of its own: the executable, its skins and its language files.
std::filesystem::path copy_program_folder(std::filesystem::path const& target)
{
    std::filesystem::path source = VELLOQ_PROGRAM_DIR;
    std::filesystem::create_directories(target);
    std::filesystem::copy_file(source / "velloq", target / "velloq");
    std::filesystem::copy(source / "skins", target / "skins", std::filesystem::copy_options::recursive);
    for (char const* language : { "english.lng", "russian.lng" })
        std::filesystem::copy_file(source / language, target / language);
    return target / "velloq";
}

}

TEST(Program, ADeliveryWhileTheProgramIsNotRunningStartsItInMessageModeWithTheAlert)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    auto log_file = device.path() / "Temp" / "velloq.txt";
    auto environment = test::headless_environment(device.path().string());
    // A program folder of the test's own keeps its chat cache from the other tests.
    std::string const program = copy_program_folder(device.path() / "program").string();
    {
        // A first run registers the program for new messages.
        test::ChildProcess velloq({ program }, environment);
        ASSERT_TRUE(test::wait_until([&] { return log_has(log_file, u"start time2:"); }));
        velloq.signal(SIGTERM);
        ASSERT_EQ(velloq.wait(), 0);
    }
    auto snapshot = device.path() / "alert.png";
    auto delivery_environment = environment;
    delivery_environment.push_back("VELLOQ_SNAPSHOT=" + snapshot.string());
    run_to_end({ sms_tool, "deliver", "--from", "+4915112345678", "--name", "Anna", "Are you coming?" }, delivery_environment);

    ASSERT_TRUE(test::wait_until([&] { return log_has(log_file, u"form_alert message:Are you coming?\n"); }));
    std::u16string text = test::read_utf16_file(log_file);
    EXPECT_NE(text.find(u"cmd_line=message\n"), std::u16string::npos);
    EXPECT_NE(text.find(u"show_alert view_action: message\n"), std::u16string::npos);
    EXPECT_EQ(text.find(u"start time1:"), std::u16string::npos);
    auto started = programs_running(program, device.path().string(), { "message" });
    ASSERT_EQ(started.size(), 1u);
    kill(started.front(), SIGUSR1);
    EXPECT_TRUE(test::wait_for_file(snapshot));
    kill(started.front(), SIGTERM);
    EXPECT_TRUE(test::wait_until([&] { return programs_running(program, device.path().string(), { "message" }).empty(); }));
}

TEST(Program, ASecondStartWithOpenHandsTheNumberToTheRunningProgram)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    auto log_file = device.path() / "Temp" / "velloq.txt";
    auto environment = test::headless_environment(device.path().string());
    run_to_end({ sms_tool, "seed", "--chats", "5", "--messages", "40" }, environment);
    std::string const program = copy_program_folder(device.path() / "program").string();
    test::ChildProcess velloq({ program }, environment);
    ASSERT_TRUE(test::wait_until([&] { return log_has(log_file, u"start time2:"); }));

    run_to_end({ program, "open:+49 170 7654321" }, environment);
    EXPECT_TRUE(test::wait_until([&] { return log_has(log_file, u"FormMain::open_chat: 7654321"); }));
    EXPECT_TRUE(log_has(log_file, u"on_other_instance_started:open:+49 170 7654321\n"));
    EXPECT_TRUE(log_has(log_file, u"view_action:open:+49 170 7654321\n"));

    run_to_end({ program }, environment);
    EXPECT_TRUE(test::wait_until([&] { return log_has(log_file, u"on_other_instance_started:\n"); }));
    velloq.signal(SIGTERM);
    EXPECT_EQ(velloq.wait(), 0);
}


TEST(Program, ADamagedSplashSkinIsSkippedAndAMissingMainSkinEndsTheProgramWithAMessage)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    auto log_file = device.path() / "Temp" / "velloq.txt";
    auto copied = copy_program_folder(device.path() / "program");
    auto skins = copied.parent_path() / "skins" / "bin";
    std::filesystem::resize_file(skins / "splash.skin", 40);
    auto environment = test::headless_environment(device.path().string());
    run_to_end({ sms_tool, "deliver", "--from", "+4915112345678", "hello" }, environment);
    {
        test::ChildProcess velloq({ copied.string() }, environment);
        ASSERT_TRUE(test::wait_until([&] { return log_has(log_file, u"start time2:"); }));
        EXPECT_TRUE(log_has(log_file, u"MessengerApp::splash_step: section FormSplash not found in skin\n"));
        // The chat cache describes the device's store and lies beside it, not in the program folder.
        EXPECT_TRUE(std::filesystem::exists(device.path() / "cache"));
        EXPECT_FALSE(std::filesystem::exists(copied.parent_path() / "cache"));
        velloq.signal(SIGTERM);
        EXPECT_EQ(velloq.wait(), 0);
    }
    // A program that cannot show its main skin says which file failed and ends with a failure.
    std::filesystem::remove(skins / "default.skin");
    {
        test::ChildProcess velloq({ copied.string() }, environment);
        EXPECT_EQ(velloq.wait(), 1);
        EXPECT_TRUE(log_has(log_file, u"MessengerApp::start: the main skin cannot be loaded: " + (skins / "default.skin").u16string()));
    }
    // A FIFO in its place is refused at once rather than waited on.
    ASSERT_EQ(::mkfifo((skins / "default.skin").c_str(), 0600), 0);
    {
        test::ChildProcess velloq({ copied.string() }, environment);
        EXPECT_EQ(velloq.wait(), 1);
        EXPECT_TRUE(log_has(log_file, u"default.skin: not a regular file"));
    }
}

TEST(Program, ADamagedPictureOfTheMainSkinIsNamedAndEndsTheProgramWithAFailure)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    auto log_file = device.path() / "Temp" / "velloq.txt";
    auto copied = copy_program_folder(device.path() / "program");
    // One picture of the main skin, cut short.
    auto damaged = copied.parent_path() / "skins" / "bin" / "default" / "avatar.bmp";
    ASSERT_TRUE(std::filesystem::exists(damaged));
    std::filesystem::resize_file(damaged, 40);
    auto environment = test::headless_environment(device.path().string());
    test::ChildProcess velloq({ copied.string() }, environment);
    EXPECT_EQ(velloq.wait(), 1);
    EXPECT_TRUE(log_has(log_file, damaged.u16string() + u": the picture failed to load"));
}

TEST(Program, WithoutADisplayMessageModeEndsAtOnceAndANormalStartFails)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    auto log_file = device.path() / "Temp" / "velloq.txt";
    // The X11 driver with no display to open, as on a terminal without one.
    std::vector<std::string> environment { "VELLOQ_DEVICE=" + device.path().string(), "SDL_VIDEODRIVER=x11", "DISPLAY=", "WAYLAND_DISPLAY=",
        "SDL_AUDIODRIVER=dummy" };
    {
        test::ChildProcess velloq({ VELLOQ_PROGRAM_DIR "/velloq", "message" }, environment);
        EXPECT_EQ(velloq.wait(), 0);
        EXPECT_TRUE(log_has(log_file, u"message mode: no display to show the alert on; the message waits for the next start\n"));
    }
    test::ChildProcess velloq({ VELLOQ_PROGRAM_DIR "/velloq" }, environment);
    EXPECT_EQ(velloq.wait(), 1);
    // With no driver named SDL falls back to its offscreen one, which nobody sees: the same ends.
    environment[1] = "SDL_VIDEODRIVER=";
    std::filesystem::remove(log_file);
    {
        test::ChildProcess fallen_back({ VELLOQ_PROGRAM_DIR "/velloq", "message" }, environment);
        EXPECT_EQ(fallen_back.wait(), 0);
        EXPECT_TRUE(log_has(log_file, u"message mode: no display to show the alert on; the message waits for the next start\n"));
    }
    test::ChildProcess fallen_back({ VELLOQ_PROGRAM_DIR "/velloq" }, environment);
    EXPECT_EQ(fallen_back.wait(), 1);
}

namespace {

// The size of the program's frame, as the snapshot it writes on SIGUSR1 has it.
std::pair<int, int> frame_size(test::ChildProcess& velloq, std::filesystem::path const& snapshot)
{
    std::filesystem::remove(snapshot);
    velloq.signal(SIGUSR1);
    EXPECT_TRUE(test::wait_for_file(snapshot));
    auto picture = test::read_png(snapshot.string());
    return picture ? std::pair { picture->width, picture->height } : std::pair { 0, 0 };
}

// The program's environment on a compositor of the test's own, through Wayland alone, with the
// device's log on.
std::vector<std::string> wayland_environment(test::Compositor const& compositor, test::TempDevice const& device)
{
    EXPECT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    auto environment = compositor.client_environment();
    environment.insert(environment.end(), { "VELLOQ_DEVICE=" + device.path().string(), "SDL_VIDEODRIVER=wayland", "DISPLAY=", "SDL_AUDIODRIVER=dummy" });
    return environment;
}

// The same with the compositor's X server too, as on a desktop: the program chooses Wayland
// where it is there, X where it is not.
std::vector<std::string> desktop_environment(test::Compositor const& compositor, test::TempDevice const& device, bool wayland)
{
    auto environment = wayland_environment(compositor, device);
    environment[environment.size() - 3] = "SDL_VIDEODRIVER=";
    environment[environment.size() - 2] = "DISPLAY=" + compositor.x_display();
    if (!wayland)
        environment[1] = "WAYLAND_DISPLAY=";
    return environment;
}

}

// A compositor without a seat (a headless one) can show no window a person uses. Asked for
// Wayland alone, the program says why and fails; asked for nothing, it tries X, and ends as it
// does without any display.
TEST(Program, OnAWaylandCompositorWithoutASeatTheProgramSaysSoInsteadOfCrashing)
{
    if (!test::phoc_installed())
        GTEST_SKIP() << "phoc is not installed (scripts/bootstrap.sh installs it)";
    auto compositor = test::Compositor::start_headless();
    ASSERT_NE(compositor, nullptr);
    test::TempDevice device;
    auto log_file = device.path() / "Temp" / "velloq.txt";
    auto environment = wayland_environment(*compositor, device);
    {
        test::ChildProcess velloq({ program }, environment);
        EXPECT_EQ(velloq.wait(), 1);
        EXPECT_TRUE(log_has(log_file, u"offers no seat (no keyboard, pointer or touch)"));
    }
    std::filesystem::remove(log_file);
    environment[environment.size() - 3] = "SDL_VIDEODRIVER=";
    test::ChildProcess velloq({ program }, environment);
    EXPECT_EQ(velloq.wait(), 1);
    EXPECT_TRUE(log_has(log_file, u"offers no seat (no keyboard, pointer or touch), so Wayland was not used"));
}

// On a phone's compositor (phoc, with the seat its X server gives it, and a phone keyboard's input
// method), in the program's own Wayland window: the chat list reaches the compositor's output, a
// tap opens the chat, the keyboard is asked for while the reply has the input and put away after;
// what the keyboard commits, composes and deletes lands in the reply, and Enter sends it; the
// clipboard is the compositor's.
TEST(Program, OnAPhoneCompositorTheListShowsATapOpensTheChatTheKeyboardComesAndTypingSends)
{
    if (!test::phoc_installed())
        GTEST_SKIP() << "phoc is not installed (scripts/bootstrap.sh installs it)";
    auto compositor = test::Compositor::start_nested();
    ASSERT_NE(compositor, nullptr);
    auto keyboard = test::InputMethod::connect(compositor->runtime(), test::Compositor::display_name());
    ASSERT_NE(keyboard, nullptr) << compositor->log();
    test::TempDevice device;
    auto log_file = device.path() / "Temp" / "velloq.txt";
    auto environment = wayland_environment(*compositor, device);
    run_to_end({ sms_tool, "deliver", "--from", "+4915112345678", "Are you coming?" }, environment);
    test::ChildProcess velloq({ program }, environment);
    ASSERT_TRUE(test::wait_until([&] { return log_has(log_file, u"chat list on screen:"); }));
    EXPECT_TRUE(log_has(log_file, u"GameBase: video driver wayland (the program's own window on the Wayland compositor"));
    // The phone's keyboard is not asked for until a field takes the input.
    keyboard->read(200);
    EXPECT_FALSE(keyboard->active());

    auto shot = compositor->screenshot();
    ASSERT_TRUE(shot.has_value());
    auto window = test::lit_box(*shot);
    ASSERT_TRUE(window.has_value());
    // The compositor gives the window its whole output, and the list is laid out for it: its
    // white reaches below its one chat.
    EXPECT_EQ(window->width, shot->width);
    size_t below = (static_cast<size_t>(window->y + 400) * static_cast<size_t>(shot->width) + static_cast<size_t>(window->x + 240)) * 3;
    for (size_t channel = 0; channel < 3; ++channel)
        EXPECT_GE(shot->rgb[below + channel], 248) << channel;

    ASSERT_TRUE(compositor->click(window->x + 240, window->y + 92));
    ASSERT_TRUE(test::wait_until([&] { return log_has(log_file, u"FormMain::open_chat: 2345678"); }));
    keyboard->read(200);
    EXPECT_FALSE(keyboard->active());
    ASSERT_TRUE(compositor->click(window->x + 200, window->y + window->height - 34));
    // The reply takes the input: the keyboard is asked for, for free text that may span lines.
    ASSERT_TRUE(test::wait_until([&] { keyboard->read(); return keyboard->active(); }));
    EXPECT_EQ(keyboard->purpose(), 0u);
    auto field_holds = [&](std::string const& text) {
        return test::wait_until([&] { keyboard->read(); return keyboard->surrounding_text() == text && keyboard->cursor() == text.size(); });
    };
    keyboard->commit_string("on my way ");
    EXPECT_TRUE(field_holds("on my way "));
    // Composed text shows in the field but is not yet the field's text.
    keyboard->preedit("tomo");
    EXPECT_TRUE(test::wait_until([&] { return log_has(log_file, u"WM_IME_COMPOSITION 4\n"); }));
    keyboard->commit_string("tomorrow");
    EXPECT_TRUE(field_holds("on my way tomorrow"));
    keyboard->delete_around(9, 0);
    EXPECT_TRUE(field_holds("on my way"));
    ASSERT_TRUE(compositor->type("!"));
    EXPECT_TRUE(field_holds("on my way!"));
    ASSERT_TRUE(compositor->key("Return"));
    auto listed = [&] {
        auto outbox = platform::read_program_output({ "/usr/bin/env", "VELLOQ_DEVICE=" + device.path().string(), sms_tool, "list", "--folder", "outbox" }, 30'000);
        return outbox && outbox->find("\t+4915112345678\ton my way!\n") != std::string::npos;
    };
    EXPECT_TRUE(test::wait_until(listed));
    // The compositor's clipboard: pasted from another program, copied to it.
    EXPECT_TRUE(field_holds(""));
    ASSERT_TRUE(compositor->copy_text("see you at 8"));
    ASSERT_TRUE(compositor->key("ctrl+v"));
    EXPECT_TRUE(field_holds("see you at 8"));
    ASSERT_TRUE(compositor->type(" ok"));
    ASSERT_TRUE(compositor->key("ctrl+c"));
    EXPECT_TRUE(test::wait_until([&] { return compositor->pasted_text() == "see you at 8 ok"; }));
    // Leaving the reply puts the keyboard away.
    ASSERT_TRUE(compositor->key("Escape"));
    EXPECT_TRUE(test::wait_until([&] { keyboard->read(); return !keyboard->active(); }));
    velloq.signal(SIGTERM);
    EXPECT_EQ(velloq.wait(), 0);
}

// On a phone's screen of scale 2 the program fills it with twice as many pixels as the window has
// units, at 192 dpi; turned on its side, the screen is laid out anew for the new shape.
TEST(Program, OnAPhoneOfScaleTwoTheFrameHasTheScreensPixelsAndFollowsItsTurn)
{
    if (!test::phoc_installed())
        GTEST_SKIP() << "phoc is not installed (scripts/bootstrap.sh installs it)";
    auto compositor = test::Compositor::start_nested("720x1440", 2);
    ASSERT_NE(compositor, nullptr);
    test::TempDevice device;
    auto log_file = device.path() / "Temp" / "velloq.txt";
    auto snapshot = device.path() / "frame.png";
    auto environment = wayland_environment(*compositor, device);
    environment[environment.size() - 3] = "SDL_VIDEODRIVER=";
    environment.push_back("VELLOQ_SNAPSHOT=" + snapshot.string());
    test::ChildProcess velloq({ program }, environment);
    ASSERT_TRUE(test::wait_until([&] { return log_has(log_file, u"chat list on screen:"); }));
    EXPECT_EQ(frame_size(velloq, snapshot), (std::pair { 720, 1440 }));
    auto shot = compositor->screenshot();
    ASSERT_TRUE(shot.has_value());
    auto window = test::lit_box(*shot);
    ASSERT_TRUE(window.has_value());
    EXPECT_EQ(window->width, 720);
    EXPECT_EQ(window->height, 1440);

    // Turned and turned back and again: the buffers the compositor still held from the other
    // shape are drawn anew, not in part.
    for (int turn : { 1, 0, 1 }) {
        ASSERT_TRUE(compositor->turn_output(turn));
        auto expected = turn ? std::pair { 1440, 720 } : std::pair { 720, 1440 };
        EXPECT_TRUE(test::wait_until([&] { return frame_size(velloq, snapshot) == expected; })) << turn;
    }
    EXPECT_TRUE(log_has(log_file, u"Application::ResolutionChanged 2"));
    shot = compositor->screenshot();
    ASSERT_TRUE(shot.has_value());
    window = test::lit_box(*shot);
    ASSERT_TRUE(window.has_value());
    EXPECT_EQ(window->width, 1440);
    EXPECT_EQ(window->height, 720);
    velloq.signal(SIGTERM);
    EXPECT_EQ(velloq.wait(), 0);
}

// With the phone's own keyboard (squeekboard, set to come up for every field as Phosh sets it): the
// keyboard comes when the reply takes the input, the shell gives the window the room above it and
// the chat is laid out anew there, the reply field still in sight; leaving the chat puts it away and
// the list has the whole screen again.
TEST(Program, OnAPhoneTheKeyboardTakesItsRoomAndTheChatIsLaidOutAboveIt)
{
    if (!test::phoc_installed() || !test::keyboard_installed())
        GTEST_SKIP() << "phoc or squeekboard is not installed (scripts/bootstrap.sh installs them)";
    auto compositor = test::Compositor::start_nested("720x1440", 2);
    ASSERT_NE(compositor, nullptr);
    ASSERT_TRUE(compositor->start_keyboard()) << compositor->log();
    test::TempDevice device;
    auto log_file = device.path() / "Temp" / "velloq.txt";
    auto snapshot = device.path() / "frame.png";
    auto environment = wayland_environment(*compositor, device);
    environment.push_back("VELLOQ_SNAPSHOT=" + snapshot.string());
    run_to_end({ sms_tool, "deliver", "--from", "+4915112345678", "Are you coming?" }, environment);
    test::ChildProcess velloq({ program }, environment);
    ASSERT_TRUE(test::wait_until([&] { return log_has(log_file, u"chat list on screen:"); }));
    ASSERT_TRUE(compositor->click(360, 180));
    ASSERT_TRUE(test::wait_until([&] { return log_has(log_file, u"FormMain::open_chat: 2345678"); }));
    EXPECT_EQ(frame_size(velloq, snapshot), (std::pair { 720, 1440 }));
    ASSERT_TRUE(compositor->click(300, 1380));
    std::pair<int, int> with_keyboard;
    EXPECT_TRUE(test::wait_until([&] {
        with_keyboard = frame_size(velloq, snapshot);
        return with_keyboard.first == 720 && with_keyboard.second > 0 && with_keyboard.second < 1200;
    })) << with_keyboard.second;
    // The reply, laid out at the bottom of the smaller screen, still takes what is typed.
    ASSERT_TRUE(compositor->type("on my way"));
    ASSERT_TRUE(compositor->key("Return"));
    auto listed = [&] {
        auto outbox = platform::read_program_output({ "/usr/bin/env", "VELLOQ_DEVICE=" + device.path().string(), sms_tool, "list", "--folder", "outbox" }, 30'000);
        return outbox && outbox->find("\t+4915112345678\ton my way\n") != std::string::npos;
    };
    EXPECT_TRUE(test::wait_until(listed));
    ASSERT_TRUE(compositor->key("Escape"));
    ASSERT_TRUE(compositor->key("Escape"));
    EXPECT_TRUE(test::wait_until([&] { return frame_size(velloq, snapshot) == std::pair { 720, 1440 }; }));
    velloq.signal(SIGTERM);
    EXPECT_EQ(velloq.wait(), 0);
}

// Where nothing was asked for, a Wayland compositor gets the program's own Wayland window (also a
// desktop's, beside XWayland), and a desktop of X alone an X window. A second start brings the
// Wayland window to the front the way Wayland allows: it asks the compositor to activate it.
// On an X desktop and in a Wayland window alike, the wheel over the chat list scrolls it; a user
// resizing the X window gets the forms laid out anew for its size, not the old frame scaled.
TEST(Program, TheWheelScrollsTheListAndAResizedWindowIsLaidOutForItsSize)
{
    if (!test::phoc_installed())
        GTEST_SKIP() << "phoc is not installed (scripts/bootstrap.sh installs it)";
    auto compositor = test::Compositor::start_nested();
    ASSERT_NE(compositor, nullptr);
    for (bool wayland : { false, true }) {
        test::TempDevice device;
        auto log_file = device.path() / "Temp" / "velloq.txt";
        auto snapshot = device.path() / "frame.png";
        auto environment = desktop_environment(*compositor, device, wayland);
        environment.insert(environment.end(), { "VELLOQ_SCREEN=480x800", "VELLOQ_SNAPSHOT=" + snapshot.string() });
        run_to_end({ sms_tool, "seed", "--chats", "30", "--messages", "60" }, environment);
        test::ChildProcess velloq({ program }, environment);
        ASSERT_TRUE(test::wait_until([&] { return log_has(log_file, u"chat list on screen:"); })) << wayland;
        auto frame = [&] {
            std::filesystem::remove(snapshot);
            velloq.signal(SIGUSR1);
            EXPECT_TRUE(test::wait_for_file(snapshot));
            return test::read_png(snapshot.string()).value_or(test::RgbPicture {});
        };
        auto before = frame();
        // Three notches down over the list, in the middle of the program's window.
        std::vector<std::string> wheel { "search", "--sync", "--name", "^Velloq$", "mousemove", "--window", "%1", "240", "400", "click", "--repeat", "3", "5" };
        if (wayland)
            wheel = { "mousemove", "512", "400", "click", "--repeat", "3", "5" };
        ASSERT_TRUE(compositor->xdotool(wheel)) << wayland;
        EXPECT_TRUE(test::wait_until([&] {
            auto after = frame();
            return after.width == before.width && test::differing_share(before, after, 8) > 0.02;
        })) << wayland;
        if (!wayland) {
            ASSERT_TRUE(compositor->xdotool({ "search", "--sync", "--name", "^Velloq$", "windowsize", "%1", "360", "640" }));
            EXPECT_TRUE(test::wait_until([&] { return frame_size(velloq, snapshot) == std::pair { 360, 640 }; }));
            EXPECT_TRUE(log_has(log_file, u"Application::ResolutionChanged"));
        }
        velloq.signal(SIGTERM);
        EXPECT_EQ(velloq.wait(), 0);
    }
}

TEST(Program, AWaylandCompositorGetsAWaylandWindowAndAnXDesktopAnXWindow)
{
    if (!test::phoc_installed())
        GTEST_SKIP() << "phoc is not installed (scripts/bootstrap.sh installs it)";
    auto compositor = test::Compositor::start_nested();
    ASSERT_NE(compositor, nullptr);
    for (bool wayland : { true, false }) {
        test::TempDevice device;
        auto log_file = device.path() / "Temp" / "velloq.txt";
        auto environment = desktop_environment(*compositor, device, wayland);
        auto wayland_log = device.path() / "wayland.txt";
        environment.push_back("WAYLAND_DEBUG=1");
        test::ChildProcess velloq({ "/bin/sh", "-c", "exec \"$0\" 2>\"$1\"", program, wayland_log.string() }, environment);
        ASSERT_TRUE(test::wait_until([&] { return log_has(log_file, u"chat list on screen:"); })) << wayland;
        EXPECT_TRUE(log_has(log_file, wayland ? u"GameBase: video driver wayland (" : u"GameBase: video driver x11\n")) << wayland;
        if (wayland) {
            environment.pop_back();
            run_to_end({ program, "open:+4915112345678" }, environment);
            EXPECT_TRUE(test::wait_until([&] { return test::read_file(wayland_log).find("xdg_activation_v1@") != std::string::npos
                && test::read_file(wayland_log).find(".activate(\"") != std::string::npos; }));
        }
        velloq.signal(SIGTERM);
        EXPECT_EQ(velloq.wait(), 0);
    }
}
