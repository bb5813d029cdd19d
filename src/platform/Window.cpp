#include "platform/Window.h"

#include "platform/Environment.h"
#include "platform/PixelFormat.h"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace velloq::platform {

namespace {

constexpr ScreenMetrics desktop_phone_screen { 480, 800, 0, 96 };
// What a desktop's window manager takes above a window for its title.
constexpr int title_bar = 40;

// Drivers without a desktop (dummy, offscreen) have no usable area to fit a window into.
bool has_desktop()
{
    char const* driver = SDL_GetCurrentVideoDriver();
    return driver && std::string_view(driver) != "dummy" && std::string_view(driver) != "offscreen";
}

constexpr int largest_screen_side = 8192;

// Whether SDL's text input drives the compositor's text-input protocol, whose enable raises a
// phone's on-screen keyboard (Phosh's, Plasma Mobile's): Wayland.
bool text_input_raises_keyboard()
{
    char const* driver = SDL_GetCurrentVideoDriver();
    return driver && std::string_view(driver) == "wayland";
}

// Puts the on-screen keyboard away. SDL stops typed text with it: there, characters typed on a
// hardware keyboard while no field has the input are not taken (keys are). Kept on, the text
// input would be enabled again by SDL whenever the window gains the keyboard focus.
void put_keyboard_away()
{
    SDL_StopTextInput();
}

std::optional<int> parse_number(std::string_view text)
{
    int value = 0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

int orientation_of(SDL_DisplayOrientation orientation)
{
    switch (orientation) {
    case SDL_ORIENTATION_LANDSCAPE:
        return 1;
    case SDL_ORIENTATION_PORTRAIT_FLIPPED:
        return 2;
    case SDL_ORIENTATION_LANDSCAPE_FLIPPED:
        return 3;
    default:
        return 0;
    }
}

}

bool display_opened()
{
    return has_desktop();
}

bool is_desktop_display()
{
    SDL_DisplayMode mode {};
    return has_desktop() && SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w >= mode.h;
}

std::optional<ScreenMetrics> parse_screen_text(std::string const& text)
{
    size_t x = text.find('x');
    if (x == std::string::npos)
        return std::nullopt;
    size_t at = text.find('@', x);
    auto width = parse_number(std::string_view(text).substr(0, x));
    auto height = parse_number(std::string_view(text).substr(x + 1, at == std::string::npos ? std::string::npos : at - x - 1));
    std::optional<int> dpi = 96;
    if (at != std::string::npos)
        dpi = parse_number(std::string_view(text).substr(at + 1));
    if (!width || !height || !dpi || *width < 1 || *height < 1 || *width > largest_screen_side || *height > largest_screen_side
        || *dpi < 1 || *dpi > 1000)
        return std::nullopt;
    return ScreenMetrics { *width, *height, 0, *dpi };
}

VideoSystem::VideoSystem()
    : m_wayland(check_wayland_driver())
{
    constexpr Uint32 flags = SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_TIMER;
    if (m_wayland.refused)
        return;
    m_subsystems.emplace(flags);
    if (m_subsystems->ok() || !m_wayland.wayland_preferred)
        return;
    // The preferred Wayland failed after all: SDL's own order, X first.
    m_subsystems.reset();
    forget_driver_choice();
    m_wayland = {};
    m_subsystems.emplace(flags);
}

std::string VideoSystem::error() const
{
    if (m_wayland.refused)
        return m_wayland.reason + "; SDL's Wayland driver cannot run there";
    std::string error = SDL_GetError();
    if (m_wayland.reason.empty() || m_wayland.wayland_preferred)
        return error;
    return error + " (" + m_wayland.reason + ", so Wayland was not tried)";
}

std::string VideoSystem::driver() const
{
    char const* driver = ok() ? SDL_GetCurrentVideoDriver() : nullptr;
    return driver ? driver : "";
}

bool VideoSystem::screen_text_rejected() const
{
    std::string text = environment_value("VELLOQ_SCREEN");
    return !text.empty() && !parse_screen_text(text);
}

// On a desktop the program shows a phone's screen, as tall as the desktop's usable area lets
// it be (a 768-pixel desktop gets a shorter screen laid out anew, not a shrunken picture).
ScreenMetrics VideoSystem::desktop_screen() const
{
    ScreenMetrics screen = desktop_phone_screen;
    constexpr int lowest = 480;
    if (!ok() || !has_desktop())
        return screen;
    SDL_Rect usable {};
    if (SDL_GetDisplayUsableBounds(0, &usable) == 0 && usable.h - title_bar < screen.height)
        screen.height = std::max(lowest, usable.h - title_bar);
    return screen;
}

ScreenMetrics VideoSystem::screen_metrics() const
{
    if (auto chosen = parse_screen_text(environment_value("VELLOQ_SCREEN")))
        return *chosen;
    SDL_DisplayMode mode {};
    if (!ok() || SDL_GetDesktopDisplayMode(0, &mode) != 0 || mode.w <= 0 || mode.h <= 0)
        return desktop_phone_screen;
    if (mode.h <= mode.w)
        return desktop_screen();
    ScreenMetrics phone { mode.w, mode.h, orientation_of(SDL_GetDisplayOrientation(0)), 96 };
    float vertical_dpi = 0;
    if (SDL_GetDisplayDPI(0, nullptr, nullptr, &vertical_dpi) == 0 && vertical_dpi > 0)
        phone.dpi = static_cast<int32_t>(vertical_dpi + 0.5f);
    return phone;
}

std::unique_ptr<Window> Window::create(std::string const& title, ScreenMetrics const& screen, std::string& error, bool hidden)
{
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    // On X the window's surface goes straight to the server in shared memory, changed rows only;
    // SDL's default there draws it through OpenGL, which without a GPU (a software GL) costs
    // tens of megabytes and a full frame per change. Other drivers (Wayland) keep SDL's choice,
    // an accelerated renderer where there is one.
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
    // SDL starts its text input with the video; on a phone that would raise the keyboard over the
    // chat list until the first field is left.
    if (text_input_raises_keyboard())
        put_keyboard_away();
    return std::unique_ptr<Window>(new Window(std::move(window)));
}

Window::Window(SdlWindowHandle window)
    : m_window(std::move(window))
{
}

uint32_t Window::id() const
{
    return SDL_GetWindowID(m_window.get());
}

// Frames go to the window's own surface: the 5-6-5 pixels of the changed part are converted
// to the window's format and only that part is sent to the display server. Where the video
// driver has no such surface of its own (Wayland, KMS), SDL makes it with the best renderer
// there is, accelerated where the phone has a GPU.
bool Window::prepare_frames(int width, int height, std::string& error)
{
    if (!SDL_GetWindowSurface(m_window.get())) {
        error = SDL_GetError();
        return false;
    }
    m_frame_width = width;
    m_frame_height = height;
    return true;
}

bool Window::present(uint16_t const* pixels, int pitch_bytes, int width, int height, FrameRect changed)
{
    SDL_Surface* target = SDL_GetWindowSurface(m_window.get());
    SDL_Surface* frame = wrapped_frame(pixels, pitch_bytes, width, height);
    if (!target || !frame)
        return false;
    if (target->w != width || target->h != height)
        return present_scaled(frame, target);
    SDL_Rect part { changed.x, changed.y, changed.width, changed.height };
    SDL_Rect place = part;
    bool copied = copy_rgb565_to_xrgb8888(frame, target, part) || SDL_BlitSurface(frame, &part, target, &place) == 0;
    return copied && SDL_UpdateWindowSurfaceRects(m_window.get(), &part, 1) == 0;
}

bool Window::copy_rgb565_to_xrgb8888(SDL_Surface* frame, SDL_Surface* target, SDL_Rect const& part)
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
SDL_Surface* Window::wrapped_frame(uint16_t const* pixels, int pitch_bytes, int width, int height)
{
    for (auto& frame : m_frames) {
        if (frame && frame->pixels == pixels && frame->w == width && frame->h == height && frame->pitch == pitch_bytes)
            return frame.get();
    }
    std::swap(m_frames[0], m_frames[1]);
    m_frames[0].reset(SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint16_t*>(pixels), width, height, 16, pitch_bytes, SDL_PIXELFORMAT_RGB565));
    return m_frames[0].get();
}

SDL_Rect Window::frame_place(int window_width, int window_height) const
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
std::pair<int, int> Window::fitting_size(int width, int height)
{
    SDL_Rect usable {};
    if (!has_desktop() || SDL_GetDisplayUsableBounds(0, &usable) != 0 || usable.w <= 0 || usable.h <= title_bar || width <= 0 || height <= 0)
        return { width, height };
    double scale = std::min({ 1.0, double(usable.w) / width, double(usable.h - title_bar) / height });
    return { std::max(1, static_cast<int>(width * scale)), std::max(1, static_cast<int>(height * scale)) };
}

std::pair<int32_t, int32_t> Window::to_frame(int32_t x, int32_t y) const
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
bool Window::present_scaled(SDL_Surface* frame, SDL_Surface* target)
{
    SDL_Rect place = frame_place(target->w, target->h);
    SDL_FillRect(target, nullptr, SDL_MapRGB(target->format, 0, 0, 0));
    return SDL_BlitScaled(frame, nullptr, target, &place) == 0 && SDL_UpdateWindowSurface(m_window.get()) == 0;
}

void Window::start_text_input(int x, int y, int width, int height)
{
    SDL_Rect rect { x, y, width, height };
    SDL_SetTextInputRect(&rect);
    SDL_StartTextInput();
}

void Window::stop_text_input()
{
    // Desktops deliver typed characters without an edit too, as the device does; only the
    // on-screen keyboard is put away.
    if (SDL_HasScreenKeyboardSupport())
        SDL_StopTextInput();
    else if (text_input_raises_keyboard())
        put_keyboard_away();
}

bool Window::has_screen_keyboard() const
{
    return SDL_HasScreenKeyboardSupport() == SDL_TRUE;
}

bool Window::screen_keyboard_shown() const
{
    return SDL_IsScreenKeyboardShown(m_window.get()) == SDL_TRUE;
}

void Window::raise()
{
    SDL_ShowWindow(m_window.get());
    SDL_RestoreWindow(m_window.get());
    SDL_RaiseWindow(m_window.get());
}

void Window::minimize()
{
    SDL_MinimizeWindow(m_window.get());
}

void Window::hide()
{
    SDL_HideWindow(m_window.get());
}


}
