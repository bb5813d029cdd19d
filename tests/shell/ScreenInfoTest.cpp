#include "shell/ScreenInfo.h"

#include "shell/Input.h"
#include "platform/Events.h"
#include "platform/SdlWindow.h"
#include "platform/VideoSystem.h"
#include "support/ScopedEnvironment.h"

#include <gtest/gtest.h>

using namespace velloq;

namespace {

ScreenInfo screen(int32_t width, int32_t height, int32_t dpi)
{
    ScreenInfo info;
    info.screen_width = width;
    info.screen_height = height;
    info.dpi = dpi;
    return info;
}

}

TEST(ClientRect, FullScreenWithoutTypingIsTheWholeScreen)
{
    EXPECT_EQ(client_rect(screen(480, 800, 192), {}), (Rect { 0, 0, 480, 800 }));
}

TEST(ClientRect, TouchDeviceBarsFollowTheDpi)
{
    ClientLayout windowed { false, false, true, false, 0 };
    EXPECT_EQ(client_rect(screen(240, 320, 96), windowed), (Rect { 0, 26, 240, 320 - 52 }));
    EXPECT_EQ(client_rect(screen(480, 640, 97), windowed), (Rect { 0, 52, 480, 640 - 104 }));
    windowed.show_taskbar = false;
    EXPECT_EQ(client_rect(screen(480, 640, 192), windowed), (Rect { 0, 0, 480, 640 - 52 }));
    windowed.input_panel_shown = true;
    windowed.input_panel_top = 400;
    EXPECT_EQ(client_rect(screen(480, 640, 192), windowed), (Rect { 0, 0, 480, 400 }));
}

TEST(ClientRect, SmartphoneBarsFollowTheWidth)
{
    ClientLayout smartphone { false, true, true, false, 0 };
    EXPECT_EQ(client_rect(screen(176, 220, 96), smartphone), (Rect { 0, 20, 176, 220 - 40 }));
    EXPECT_EQ(client_rect(screen(320, 240, 131), smartphone), (Rect { 0, 27, 320, 240 - 54 }));
    EXPECT_EQ(client_rect(screen(352, 416, 131), smartphone), (Rect { 0, 40, 352, 416 - 80 }));
    EXPECT_EQ(client_rect(screen(800, 480, 192), smartphone), (Rect { 0, 54, 800, 480 - 108 }));
    EXPECT_EQ(client_rect(screen(500, 600, 192), smartphone), (Rect { 0, 0, 500, 600 }));
}

TEST(KeyMapping, PlatformKeysBecomeTheProgramsCodes)
{
    namespace VK = platform::VirtualKey;
    EXPECT_EQ(key_code_from_virtual_key(VK::Escape), Key::Backspace);
    EXPECT_EQ(key_code_from_virtual_key(VK::Back), Key::Backspace);
    EXPECT_EQ(key_code_from_virtual_key(VK::LetterA + 25), Key::Z);
    EXPECT_EQ(key_code_from_virtual_key(VK::Digit0 + 7), static_cast<KeyCode>(Key::Digit0 + 7));
    EXPECT_EQ(key_code_from_virtual_key(VK::F1), Key::SoftLeft);
    EXPECT_EQ(key_code_from_virtual_key(VK::F1 + 1), Key::SoftRight);
    EXPECT_EQ(key_code_from_virtual_key(VK::F1 + 2), Key::CallMake);
    EXPECT_EQ(key_code_from_virtual_key(VK::F1 + 3), Key::CallEnd);
    EXPECT_EQ(key_code_from_virtual_key(VK::F1 + 4), Key::None);
    EXPECT_EQ(key_code_from_virtual_key(VK::F1 + 5), Key::VolumeUp);
    EXPECT_EQ(key_code_from_virtual_key(VK::F1 + 6), Key::VolumeDown);
    EXPECT_EQ(key_code_from_virtual_key(VK::F1 + 7), Key::Star);
    EXPECT_EQ(key_code_from_virtual_key(VK::F1 + 8), Key::Pound);
    EXPECT_EQ(key_code_from_virtual_key(VK::Apps), Key::ContextMenu);
    EXPECT_EQ(key_code_from_virtual_key(VK::F1 + 9, true), Key::ContextMenu);
    EXPECT_EQ(key_code_from_virtual_key(VK::F1 + 9, false), Key::None);
    EXPECT_EQ(key_code_from_virtual_key(VK::F1, true), Key::SoftLeft);
    EXPECT_EQ(key_code_from_virtual_key(0x10000 | 'q'), Key::None);
    // Only a desktop keyboard's Escape gives "Esc"; the phone's back key stays "Backspace".
    EXPECT_EQ(key_code_from_virtual_key(VK::KeyboardEscape), Key::Esc);
    for (uint32_t key = 0; key < 0x20000; ++key)
        EXPECT_TRUE(key == VK::KeyboardEscape || key_code_from_virtual_key(key) != Key::Esc);
}

TEST(ScreenText, WidthHeightAndDpi)
{
    EXPECT_EQ(platform::parse_screen_text("480x800"), (platform::ScreenMetrics { 480, 800, 0, 96 }));
    EXPECT_EQ(platform::parse_screen_text("960x1600@192"), (platform::ScreenMetrics { 960, 1600, 0, 192 }));
    for (char const* bad : { "", "480", "x800", "480x", "480x800@", "0x800", "-1x800", "480x800@abc", "99999x800", "480 x 800" })
        EXPECT_FALSE(platform::parse_screen_text(bad)) << bad;
}

// A window of another size than its frame shows it at the largest whole factor that fits, in the
// middle, and shrinks it only when the window is smaller; the pointer lands where it points on the
// frame. The window is never smaller than 320×480.
TEST(WindowScaling, WholeFactorsInTheMiddleAndPointsFollowTheFrame)
{
    test::MemoryDisplay display;
    platform::VideoSystem video;
    ASSERT_TRUE(video.ok()) << video.error();
    std::string error;
    auto window = platform::SdlWindow::create("scaling", { 480, 800, 0, 96 }, error, true);
    ASSERT_NE(window, nullptr) << error;
    ASSERT_TRUE(window->prepare_frames(480, 800, error)) << error;
    SDL_Window* sdl = SDL_GetWindowFromID(window->id());
    SDL_SetWindowSize(sdl, 1000, 1700);
    EXPECT_EQ(window->to_frame(20 + 2 * 100, 50 + 2 * 200), (std::pair<int32_t, int32_t> { 100, 200 }));
    SDL_SetWindowSize(sdl, 700, 900);
    EXPECT_EQ(window->to_frame(110 + 100, 50 + 200), (std::pair<int32_t, int32_t> { 100, 200 }));
    SDL_SetWindowSize(sdl, 320, 500);
    EXPECT_EQ(window->to_frame(10 + 150, 250), (std::pair<int32_t, int32_t> { 240, 400 }));
    // Made smaller than the smallest phone screen, it stays 320×480.
    SDL_SetWindowSize(sdl, 200, 200);
    int width = 0;
    int height = 0;
    SDL_GetWindowSize(sdl, &width, &height);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 480);
}
