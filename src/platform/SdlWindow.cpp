#include "platform/SdlWindow.h"

#include "platform/Environment.h"
#include "platform/PixelFormat.h"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

namespace velloq::platform {

namespace {

// The smallest window a user can make: the smallest phone screen the skins are laid out for.
constexpr int smallest_width = 320;
constexpr int smallest_height = 480;

}

bool sdl_has_desktop()
{
    char const* driver = SDL_GetCurrentVideoDriver();
    return driver && std::string_view(driver) != "dummy" && std::string_view(driver) != "offscreen";
}

std::unique_ptr<SdlWindow> SdlWindow::create(std::string const& title, ScreenMetrics const& screen, std::string& error, bool hidden)
{
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    // On X the window's surface goes straight to the server in shared memory, changed rows only;
    // SDL's default there draws it through OpenGL, which without a GPU (a software GL) costs
    // tens of megabytes and a full frame per change.
    char const* driver = SDL_GetCurrentVideoDriver();
    if (driver && std::string_view(driver) == "x11")
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    Uint32 flags = (hidden ? SDL_WINDOW_HIDDEN : SDL_WINDOW_SHOWN) | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI;
    auto [width, height] = fitting_size(screen.width, screen.height);
    SdlWindowHandle window(SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height, flags));
    if (!window) {
        error = SDL_GetError();
        return nullptr;
    }
    SDL_SetWindowMinimumSize(window.get(), std::min(width, smallest_width), std::min(height, smallest_height));
    return std::unique_ptr<SdlWindow>(new SdlWindow(std::move(window), screen));
}

SdlWindow::SdlWindow(SdlWindowHandle window, ScreenMetrics const& asked)
    : m_window(std::move(window))
    , m_asked(asked)
    , m_first_size(size_in_pixels())
{
}

std::pair<int, int> SdlWindow::size_in_pixels() const
{
    int width = 0;
    int height = 0;
    SDL_GetWindowSizeInPixels(m_window.get(), &width, &height);
    return { width, height };
}

// Things keep the size they had on the screen: a first window made smaller than the screen asked
// for keeps that smaller density.
std::optional<ScreenMetrics> SdlWindow::resized_screen() const
{
    auto [width, height] = size_in_pixels();
    if (std::pair { width, height } == m_first_size || width <= 0 || height <= 0 || m_asked.height <= 0)
        return std::nullopt;
    double shown = static_cast<double>(m_first_size.second) / m_asked.height;
    int dpi = std::max(48, static_cast<int>(std::lround(m_asked.dpi * shown)));
    return ScreenMetrics { width, height, 0, dpi };
}

uint32_t SdlWindow::id() const
{
    return SDL_GetWindowID(m_window.get());
}

// On X, frames go to the server through shared images of their own. Elsewhere, and on an X
// server that cannot share them, they go to SDL's window surface: the 5-6-5 pixels of the
// changed part are converted to the window's format and only that part is sent to the display
// server. Where the video driver has no such surface of its own (KMS), SDL makes it with the best
// renderer there is, accelerated where the phone has a GPU.
bool SdlWindow::prepare_frames(int width, int height, std::string& error)
{
    m_frame_width = width;
    m_frame_height = height;
    if (shared_frames_for(width, height))
        return true;
    if (!SDL_GetWindowSurface(m_window.get())) {
        error = SDL_GetError();
        return false;
    }
    return true;
}

X11SharedFrames* SdlWindow::shared_frames_for(int width, int height)
{
    if (m_shared_frames && m_shared_frames->width() == width && m_shared_frames->height() == height)
        return m_shared_frames.get();
    if (m_shared_frames_refused)
        return nullptr;
    char const* driver = SDL_GetCurrentVideoDriver();
    if (!driver || std::string_view(driver) != "x11") {
        m_shared_frames_refused = true;
        return nullptr;
    }
    m_shared_frames.reset();
    std::string why;
    m_shared_frames = X11SharedFrames::create(m_window.get(), width, height, why);
    if (!m_shared_frames) {
        std::fprintf(stderr, "velloq: frames go through SDL's window surface: %s\n", why.c_str());
        m_shared_frames_refused = true;
    }
    // A new set of images holds nothing the window shows.
    m_surface_shown = true;
    return m_shared_frames.get();
}

bool SdlWindow::present(uint16_t const* pixels, int pitch_bytes, int width, int height, FrameRect changed)
{
    if (size_in_pixels() == std::pair { width, height }) {
        if (X11SharedFrames* shared = shared_frames_for(width, height)) {
            if (std::exchange(m_surface_shown, false))
                changed = { 0, 0, width, height };
            return shared->present(pixels, pitch_bytes, changed);
        }
    }
    SDL_Surface* target = SDL_GetWindowSurface(m_window.get());
    SDL_Surface* frame = wrapped_frame(pixels, pitch_bytes, width, height);
    if (!target || !frame)
        return false;
    m_surface_shown = true;
    if (target->w != width || target->h != height)
        return present_scaled(frame, target);
    SDL_Rect part { changed.x, changed.y, changed.width, changed.height };
    SDL_Rect place = part;
    bool copied = copy_rgb565_to_xrgb8888(frame, target, part) || SDL_BlitSurface(frame, &part, target, &place) == 0;
    return copied && SDL_UpdateWindowSurfaceRects(m_window.get(), &part, 1) == 0;
}

bool SdlWindow::copy_rgb565_to_xrgb8888(SDL_Surface* frame, SDL_Surface* target, SDL_Rect const& part)
{
    Uint32 format = target->format->format;
    if ((format != SDL_PIXELFORMAT_XRGB8888 && format != SDL_PIXELFORMAT_ARGB8888) || SDL_MUSTLOCK(target))
        return false;
    for (int y = part.y; y < part.y + part.h; ++y) {
        auto const* from = reinterpret_cast<uint16_t const*>(static_cast<uint8_t const*>(frame->pixels) + y * frame->pitch) + part.x;
        auto* to = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(target->pixels) + y * target->pitch) + part.x;
        widen_rgb565(from, to, static_cast<size_t>(part.w));
    }
    return true;
}

// The frames' pixels are wrapped once, not at every present; frames come from two buffers in turn.
SDL_Surface* SdlWindow::wrapped_frame(uint16_t const* pixels, int pitch_bytes, int width, int height)
{
    for (auto& frame : m_frames) {
        if (frame && frame->pixels == pixels && frame->w == width && frame->h == height && frame->pitch == pitch_bytes)
            return frame.get();
    }
    std::swap(m_frames[0], m_frames[1]);
    m_frames[0].reset(SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint16_t*>(pixels), width, height, 16, pitch_bytes, SDL_PIXELFORMAT_RGB565));
    return m_frames[0].get();
}

SDL_Rect SdlWindow::frame_place(int window_width, int window_height) const
{
    if (m_frame_width <= 0 || m_frame_height <= 0)
        return { 0, 0, window_width, window_height };
    double scale = std::min(static_cast<double>(window_width) / m_frame_width, static_cast<double>(window_height) / m_frame_height);
    // Whole pixels stay sharp: a larger window shows the frame at the largest whole factor that
    // fits; only a window smaller than the frame shrinks it.
    if (scale >= 1.0)
        scale = std::floor(scale);
    int width = std::max(1, static_cast<int>(m_frame_width * scale));
    int height = std::max(1, static_cast<int>(m_frame_height * scale));
    return { (window_width - width) / 2, (window_height - height) / 2, width, height };
}

// The first window is the phone's screen, made smaller (same shape) when the desktop's usable
// area (without panels, less a title bar) cannot hold it.
std::pair<int, int> SdlWindow::fitting_size(int width, int height)
{
    SDL_Rect usable {};
    if (!sdl_has_desktop() || SDL_GetDisplayUsableBounds(0, &usable) != 0 || usable.w <= 0 || usable.h <= window_title_bar || width <= 0 || height <= 0)
        return { width, height };
    double scale = std::min({ 1.0, double(usable.w) / width, double(usable.h - window_title_bar) / height });
    return { std::max(1, static_cast<int>(width * scale)), std::max(1, static_cast<int>(height * scale)) };
}

std::pair<int32_t, int32_t> SdlWindow::to_frame(int32_t x, int32_t y) const
{
    int width = 0;
    int height = 0;
    int units_width = 0;
    int units_height = 0;
    SDL_GetWindowSizeInPixels(m_window.get(), &width, &height);
    SDL_GetWindowSize(m_window.get(), &units_width, &units_height);
    if (m_frame_width <= 0 || units_width <= 0 || units_height <= 0)
        return { x, y };
    // Pointer positions come in window units, which a high-density screen makes larger than pixels.
    double pixel_x = x * static_cast<double>(width) / units_width;
    double pixel_y = y * static_cast<double>(height) / units_height;
    SDL_Rect place = frame_place(width, height);
    return { static_cast<int32_t>((pixel_x - place.x) * m_frame_width / place.w), static_cast<int32_t>((pixel_y - place.y) * m_frame_height / place.h) };
}

// The whole frame, as large as fits, in the middle of dark bars.
bool SdlWindow::present_scaled(SDL_Surface* frame, SDL_Surface* target)
{
    SDL_Rect place = frame_place(target->w, target->h);
    SDL_FillRect(target, nullptr, SDL_MapRGB(target->format, 0, 0, 0));
    return SDL_BlitScaled(frame, nullptr, target, &place) == 0 && SDL_UpdateWindowSurface(m_window.get()) == 0;
}

void SdlWindow::start_text_input(TextField const& field)
{
    SDL_Rect rect { field.place.x, field.place.y, field.place.width, field.place.height };
    SDL_SetTextInputRect(&rect);
    SDL_StartTextInput();
}

void SdlWindow::stop_text_input()
{
    // Desktops deliver typed characters without an edit too, as the device does; only the
    // on-screen keyboard is put away.
    if (SDL_HasScreenKeyboardSupport())
        SDL_StopTextInput();
}

bool SdlWindow::has_screen_keyboard() const
{
    return SDL_HasScreenKeyboardSupport() == SDL_TRUE;
}

bool SdlWindow::screen_keyboard_shown() const
{
    return SDL_IsScreenKeyboardShown(m_window.get()) == SDL_TRUE;
}

void SdlWindow::raise()
{
    SDL_ShowWindow(m_window.get());
    SDL_RestoreWindow(m_window.get());
    SDL_RaiseWindow(m_window.get());
}

void SdlWindow::minimize()
{
    SDL_MinimizeWindow(m_window.get());
}

void SdlWindow::hide()
{
    SDL_HideWindow(m_window.get());
}


}
