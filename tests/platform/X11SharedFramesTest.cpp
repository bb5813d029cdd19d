#include "platform/x11/X11SharedFrames.h"

#include "platform/PixelFormat.h"
#include "support/ChildProcess.h"
#include "support/Compositor.h"
#include "support/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <csignal>

#include <random>
#include <string>
#include <vector>

// Xlib's macros (None, Bool, Status) last, after every header they would break.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace velloq;

namespace {

constexpr int width = 97;
constexpr int height = 61;
constexpr int pitch_pixels = width + 3;

// The rows [first, end) of the frame made anew.
void scribble(std::vector<uint16_t>& frame, int first, int end, std::mt19937& random)
{
    for (int y = first; y < end; ++y)
        for (int x = 0; x < pitch_pixels; ++x)
            frame[static_cast<size_t>(y * pitch_pixels + x)] = static_cast<uint16_t>(random());
}

// Where the window's pixels differ from the frame's, as "x,y"; empty when they do not.
std::string first_difference(::Display* display, ::Window window, std::vector<uint16_t> const& frame)
{
    XSync(display, False);
    XImage* shown = XGetImage(display, window, 0, 0, width, height, AllPlanes, ZPixmap);
    if (!shown)
        return "no image";
    std::string where;
    for (int y = 0; y < height && where.empty(); ++y) {
        std::vector<uint32_t> wide(width);
        platform::widen_rgb565(frame.data() + y * pitch_pixels, wide.data(), width);
        for (int x = 0; x < width && where.empty(); ++x)
            if ((XGetPixel(shown, x, y) & 0xFFFFFF) != (wide[static_cast<size_t>(x)] & 0xFFFFFF))
                where = std::to_string(x) + "," + std::to_string(y);
    }
    XDestroyImage(shown);
    return where;
}

}

// Frames go to the window in bands of changed rows from two images in turn, each holding only the
// rows it last showed: after every band the window shows the whole frame as it is.
TEST(X11SharedFrames, TheWindowShowsEveryFrameWhicheverRowsChanged)
{
    if (SDL_WasInit(SDL_INIT_VIDEO))
        GTEST_SKIP() << "SDL's video is already in use in this process";
    std::string display_name;
    auto server = test::start_x_server(display_name);
    if (!server)
        GTEST_SKIP() << "Xvfb is not installed (scripts/bootstrap.sh installs it)";
    // Ended with SIGTERM, however the test ends, so the server takes its display's lock with it.
    struct EndsCleanly {
        test::ChildProcess& server;
        ~EndsCleanly()
        {
            server.signal(SIGTERM);
            server.wait();
        }
    } ends_cleanly { *server };
    test::ScopedEnvironment display_variable("DISPLAY", display_name.c_str());
    test::ScopedEnvironment driver_variable("SDL_VIDEODRIVER", "x11");
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    SDL_Window* window = SDL_CreateWindow("frames", 10, 10, width, height, SDL_WINDOW_SHOWN);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    ASSERT_TRUE(SDL_GetWindowWMInfo(window, &info));
    std::string why;
    auto frames = platform::X11SharedFrames::create(window, width, height, why);
    ASSERT_NE(frames, nullptr) << why;

    std::mt19937 random(5);
    std::vector<uint16_t> frame(static_cast<size_t>(pitch_pixels * height));
    scribble(frame, 0, height, random);
    struct Band {
        int first;
        int end;
    };
    for (Band band : { Band { 0, height }, Band { 10, 20 }, Band { 40, 45 }, Band { 0, 1 }, Band { 60, 61 }, Band { 12, 13 }, Band { 30, 50 } }) {
        scribble(frame, band.first, band.end, random);
        ASSERT_TRUE(frames->present(frame.data(), pitch_pixels * 2, { 0, band.first, width, band.end - band.first }));
        EXPECT_EQ(first_difference(info.info.x11.display, info.info.x11.window, frame), "") << band.first << "-" << band.end;
    }
    frames.reset();
    SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}
