#include "shell/Application.h"

#include "shell/ApplicationListener.h"
#include "shell/EditElement.h"
#include "shell/FrameContent.h"
#include "shell/Registry.h"
#include "support/PngPicture.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDevice.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/Utf.h"
#include "shell/Fatal.h"
#include <vector>

using namespace velloq;

namespace {

// Records what the application hands the shown content.
class RecordingContent final : public FrameContent {
public:
    bool is_empty() const override { return false; }
    void advance(double seconds, int32_t width, int32_t height) override
    {
        advanced.push_back(seconds);
        client_width = width;
        client_height = height;
    }
    bool wants_redraw() const override { return false; }
    void draw(Bitmap565& target) override
    {
        target.fill(Bitmap565::rgb(255, 0, 0));
        ++draws;
    }
    void pointer_move(PointerEvent const& event) override { moves.push_back(event); }
    void pointer_button(PointerEvent const& event) override { buttons.push_back(event); }
    void wheel(PointerEvent const&, int32_t thousandths) override { wheels.push_back(thousandths); }
    void key(KeyEvent const& event) override { keys.push_back(event); }
    void text_input(std::u16string const& text) override { texts.push_back(text); }

    std::vector<double> advanced;
    std::vector<PointerEvent> moves;
    std::vector<PointerEvent> buttons;
    std::vector<int32_t> wheels;
    std::vector<KeyEvent> keys;
    std::vector<std::u16string> texts;
    int draws { 0 };
    int32_t client_width { 0 };
    int32_t client_height { 0 };
};

class KeyListener final : public ApplicationListener {
public:
    void on_other_instance_started(std::u16string const&) override { }
    bool on_close_requested() override
    {
        ++close_requests;
        return true;
    }
    bool on_key(KeyEvent const& event) override
    {
        seen.push_back(event);
        return event.code == Key::SoftLeft;
    }
    std::vector<KeyEvent> seen;
    int close_requests { 0 };
};

class FakeEdit final : public EditElement {
public:
    Rect edit_rect() const override { return { 10, 20, 200, 40 }; }
    bool edit_multi_line() const override { return false; }
    void edit_caret_to_end() override { ++caret_moves; }
    std::u16string const& edit_text() const override { return text; }
    size_t edit_caret() const override { return 0; }
    void edit_compose(std::u16string const&) override { }
    void edit_delete_around(size_t, size_t) override { }
    int caret_moves { 0 };
    std::u16string text;
};

class ApplicationTest : public testing::Test {
protected:
    void SetUp() override
    {
        application = std::make_unique<Application>(u"Velloq");
        application->set_listener(&listener);
        application->set_content(&content);
        application->set_game_input(false);
        application->set_windowed(false);
        application->set_fullscreen(0);
        application->process_pending_messages();
    }
    void TearDown() override { application.reset(); }

    void push_key(SDL_EventType type, SDL_Keycode key, bool repeat = false)
    {
        SDL_Event event {};
        event.type = type;
        event.key.keysym.sym = key;
        event.key.repeat = repeat;
        SDL_PushEvent(&event);
    }
    void push_button(SDL_EventType type, int x, int y)
    {
        SDL_Event event {};
        event.type = type;
        event.button.button = SDL_BUTTON_LEFT;
        event.button.x = x;
        event.button.y = y;
        SDL_PushEvent(&event);
    }
    void push_window(SDL_WindowEventID id)
    {
        SDL_Event event {};
        event.type = SDL_WINDOWEVENT;
        event.window.event = id;
        SDL_PushEvent(&event);
    }

    test::MemoryDisplay display;
    test::ScopedEnvironment screen { "VELLOQ_SCREEN", "480x800" };
    test::TempDevice device;
    RecordingContent content;
    KeyListener listener;
    std::unique_ptr<Application> application;
};

}

TEST_F(ApplicationTest, StartsFullScreenThroughTheDisplayAndDrawsFrames)
{
    ASSERT_NE(application->game().display(), nullptr);
    EXPECT_EQ(application->game().display()->driver_name(), u"SDLDriver");
    EXPECT_EQ(application->client_rect(), (Rect { 0, 0, 480, 800 }));
    application->set_needs_redraw();
    application->process_pending_messages();
    ASSERT_NE(application->game().last_frame(), nullptr);
    EXPECT_EQ(application->game().last_frame()->row(400)[240], Bitmap565::rgb(255, 0, 0));
    EXPECT_GE(content.draws, 1);
    EXPECT_EQ(content.client_width, 480);
    EXPECT_EQ(content.client_height, 800);
}

TEST_F(ApplicationTest, KeysGoToTheListenerFirstThenToTheContent)
{
    push_key(SDL_KEYDOWN, SDLK_ESCAPE);
    push_key(SDL_KEYDOWN, SDLK_BACKSPACE, true);
    push_key(SDL_KEYUP, SDLK_BACKSPACE);
    push_key(SDL_KEYDOWN, SDLK_F1);
    push_key(SDL_KEYDOWN, SDLK_F9);
    application->process_pending_messages();
    ASSERT_EQ(listener.seen.size(), 5u);
    ASSERT_EQ(content.keys.size(), 4u);
    // A keyboard's Escape is its own key (Back that never edits); Backspace is the phone's back key.
    EXPECT_EQ(content.keys[0].code, Key::Esc);
    EXPECT_TRUE(content.keys[0].pressed && content.keys[0].first);
    EXPECT_EQ(content.keys[1].code, Key::Backspace);
    EXPECT_FALSE(content.keys[1].first);
    EXPECT_FALSE(content.keys[2].pressed);
    EXPECT_TRUE(content.keys[2].first);
    EXPECT_EQ(content.keys[3].code, Key::Pound);
}

TEST_F(ApplicationTest, KeyMessagesAreLogged)
{
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    push_key(SDL_KEYDOWN, SDLK_LEFT);
    application->process_pending_messages();
    std::u16string text = test::read_utf16_file(device.log_file());
    EXPECT_NE(text.find(u"WM_KEYDOWN = 37(Left) lParam=1 ticks="), std::u16string::npos) << to_utf8(text);
}

TEST_F(ApplicationTest, CharactersBelowThirtyTwoNeverReachTheContent)
{
    SDL_Event event {};
    event.type = SDL_TEXTINPUT;
    std::strcpy(event.text.text, "a\tb\x01\xF0\x9F\x98\x80");
    SDL_PushEvent(&event);
    application->process_pending_messages();
    EXPECT_EQ(content.texts, (std::vector<std::u16string> { u"a", u"b", u"😀" }));
}

TEST_F(ApplicationTest, PressAndReleaseReachTheContent)
{
    push_button(SDL_MOUSEBUTTONDOWN, 100, 200);
    push_button(SDL_MOUSEBUTTONUP, 110, 210);
    application->process_pending_messages();
    ASSERT_EQ(content.buttons.size(), 2u);
    EXPECT_TRUE(content.buttons[0].pressed);
    EXPECT_EQ(content.buttons[0].x, 100);
    EXPECT_FALSE(content.buttons[1].pressed);
    EXPECT_FALSE(content.buttons[1].cancelled);
    EXPECT_EQ(content.buttons[1].x, 110);
    EXPECT_EQ(content.buttons[1].y, 210);
}

TEST_F(ApplicationTest, PressWhoseReleaseNeverComesIsCancelled)
{
    push_button(SDL_MOUSEBUTTONDOWN, 100, 200);
    push_window(SDL_WINDOWEVENT_FOCUS_LOST);
    application->process_pending_messages();
    ASSERT_EQ(content.buttons.size(), 2u);
    EXPECT_FALSE(content.buttons[1].pressed);
    EXPECT_TRUE(content.buttons[1].cancelled);
    EXPECT_FALSE(application->is_in_front());
    push_window(SDL_WINDOWEVENT_FOCUS_GAINED);
    application->process_pending_messages();
    EXPECT_TRUE(application->is_in_front());
}

TEST_F(ApplicationTest, AsleepUntilTheNextKey)
{
    application->set_asleep();
    EXPECT_FALSE(application->is_in_front());
    push_key(SDL_KEYDOWN, SDLK_a);
    application->process_pending_messages();
    EXPECT_TRUE(application->is_in_front());
}

TEST_F(ApplicationTest, TextEntryRunsWindowedAndStoresTheInputPanelPreference)
{
    FakeEdit edit;
    application->set_edit(&edit, true);
    EXPECT_EQ(application->game().display(), nullptr);
    EXPECT_EQ(edit.caret_moves, 1);
    // Without a keyboard on the screen (a desktop) typing takes no room: the form keeps the screen.
    EXPECT_EQ(application->client_rect(), (Rect { 0, 0, 480, 800 }));
    application->set_edit(&edit, false);
    EXPECT_EQ(edit.caret_moves, 1);
    application->set_edit(nullptr, false);
    EXPECT_NE(application->game().display(), nullptr);
    EXPECT_EQ(application->client_rect(), (Rect { 0, 0, 480, 800 }));
    int32_t preference = -1;
    EXPECT_TRUE(reg_get_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"SIPPreference", preference));
    EXPECT_EQ(preference, 0);
}

TEST_F(ApplicationTest, WindowedModeDrawsThroughTheWindowTimer)
{
    application->set_windowed(true);
    EXPECT_EQ(application->game().display(), nullptr);
    EXPECT_EQ(application->client_rect(), (Rect { 0, 26, 480, 800 - 52 }));
    int before = content.draws;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (content.draws == before && std::chrono::steady_clock::now() < deadline)
        application->process_pending_messages();
    EXPECT_GT(content.draws, before);
    ASSERT_NE(application->game().last_frame(), nullptr);
    // The client is drawn below the top bar; the bar itself stays dark.
    EXPECT_EQ(application->game().last_frame()->row(0)[10], 0);
    EXPECT_EQ(application->game().last_frame()->row(400)[10], Bitmap565::rgb(255, 0, 0));
}

TEST_F(ApplicationTest, CloseRequestEndsTheLoop)
{
    push_window(SDL_WINDOWEVENT_CLOSE);
    // The loop returns (a loop that did not would end the test at its time limit) once the
    // listener agreed to close, and only once it was asked.
    application->run();
    EXPECT_EQ(listener.close_requests, 1);
}

TEST_F(ApplicationTest, SnapshotIsAPngOfTheLastFrame)
{
    application->set_needs_redraw();
    application->process_pending_messages();
    auto path = device.path() / "frame.png";
    ASSERT_TRUE(application->game().write_snapshot(path.string()));
    std::string bytes = test::read_file(path);
    ASSERT_GT(bytes.size(), 24u);
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    auto be32 = [&](size_t at) { return (uint8_t(bytes[at]) << 24) | (uint8_t(bytes[at + 1]) << 16) | (uint8_t(bytes[at + 2]) << 8) | uint8_t(bytes[at + 3]); };
    EXPECT_EQ(be32(16), 480u);
    EXPECT_EQ(be32(20), 800u);
}

// A snapshot asked for (SIGUSR1) before anything was drawn is written with the first frame.
TEST_F(ApplicationTest, ASnapshotAskedForBeforeTheFirstFrameComesWithIt)
{
    auto path = device.path() / "early.png";
    // A new start: no frame until the screen is set up.
    application.reset();
    application = std::make_unique<Application>(u"Velloq");
    application->set_content(&content);
    test::ScopedEnvironment snapshot("VELLOQ_SNAPSHOT", path.c_str());
    platform::EventQueue::post(platform::EventKind::Snapshot);
    application->process_pending_messages();
    ASSERT_EQ(application->game().last_frame(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(path));
    application->set_fullscreen(0);
    application->set_needs_redraw();
    application->process_pending_messages();
    ASSERT_NE(application->game().last_frame(), nullptr);
    EXPECT_EQ(test::read_file(path).substr(1, 3), "PNG");
}

TEST_F(ApplicationTest, SecondApplicationIsFatal)
{
    EXPECT_EXIT(Application(u"Velloq"), testing::ExitedWithCode(fatal_exit_code), "");
}

TEST(FrameClock, ElapsedTimeIsClamped)
{
    EXPECT_DOUBLE_EQ(GameBase::frame_seconds(1040, 1000), 0.04);
    EXPECT_DOUBLE_EQ(GameBase::frame_seconds(1000, 1000), 0.001);
    EXPECT_DOUBLE_EQ(GameBase::frame_seconds(600000, 1000), 0.1);
    EXPECT_DOUBLE_EQ(GameBase::frame_seconds(20, 0xFFFFFFF0u), 0.036);
    EXPECT_DOUBLE_EQ(GameBase::frame_seconds(0xFFFFFFF0u, 20), 0.1);
}

// The frame last shown goes with the display when the screen changes: a snapshot asked for before
// the next frame is of that frame, never of the one that went.
TEST_F(ApplicationTest, ASnapshotAskedForAsTheScreenChangesIsOfTheNewScreen)
{
    application->set_needs_redraw();
    application->process_pending_messages();
    ASSERT_NE(application->game().last_frame(), nullptr);
    test::ScopedEnvironment smaller { "VELLOQ_SCREEN", "320x480" };
    application->game().resolution_changed();
    auto path = device.path() / "snapshot.png";
    application->game().take_snapshot(path.string());
    application->set_needs_redraw();
    application->process_pending_messages();
    auto picture = test::read_png(path.string());
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(picture->width, 320);
    EXPECT_EQ(picture->height, 480);
}
