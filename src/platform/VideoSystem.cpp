#include "platform/VideoSystem.h"

#include "platform/Clipboard.h"
#include "platform/Environment.h"
#include "platform/SdlWindow.h"
#include "platform/wayland/WaylandClipboard.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandSeat.h"
#include "platform/wayland/WaylandWindow.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace velloq::platform {

namespace {

constexpr ScreenMetrics desktop_phone_screen { 480, 800, 0, 96 };
constexpr int largest_screen_side = 8192;
// The shortest screen the forms are laid out for.
constexpr int lowest_screen = 480;

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

// Whether the program's Wayland window may be used: asked for by name, or nothing asked for.
bool wayland_may_be_chosen(std::string const& asked)
{
    return asked.empty() || asked.find("wayland") != std::string::npos;
}

bool only_wayland_asked(std::string const& asked)
{
    return !asked.empty() && asked.find("x11") == std::string::npos && asked.find("wayland") != std::string::npos;
}

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
{
    std::string asked = environment_value("SDL_VIDEODRIVER");
    if (!headless_requested() && wayland_may_be_chosen(asked) && !environment_value("WAYLAND_DISPLAY").empty()) {
        if (connect_wayland(asked) || m_refused)
            return;
    }
    m_subsystems.emplace(SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_TIMER);
}

VideoSystem::~VideoSystem()
{
    if (m_wayland)
        use_clipboard(nullptr);
}

// The program's own window on the compositor. Where it cannot be had, X (XWayland) is the
// fallback unless Wayland alone was asked for; SDL's own Wayland driver is never started (its
// 2.26 crashes on a compositor without a seat).
bool VideoSystem::connect_wayland(std::string const& asked)
{
    m_wayland = wayland::WaylandConnection::connect(m_wayland_error);
    if (m_wayland) {
        m_subsystems.emplace(SDL_INIT_EVENTS | SDL_INIT_TIMER);
        m_reason = "the program's own window on the Wayland compositor " + environment_value("WAYLAND_DISPLAY")
            + (m_wayland->rgb565_offered() ? ", frames in 5-6-5 as drawn" : ", frames widened to XRGB8888");
        use_clipboard(m_wayland->seat().clipboard());
        return true;
    }
    if (only_wayland_asked(asked)) {
        m_refused = true;
        return false;
    }
    m_reason = m_wayland_error;
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "x11", SDL_HINT_OVERRIDE);
    return false;
}

bool VideoSystem::ok() const
{
    return !m_refused && m_subsystems && m_subsystems->ok();
}

std::string VideoSystem::error() const
{
    if (m_refused)
        return m_wayland_error;
    std::string error = SDL_GetError();
    if (m_reason.empty() || m_wayland)
        return error;
    return error + " (" + m_reason + ", so Wayland was not used)";
}

std::string VideoSystem::driver() const
{
    if (m_wayland)
        return ok() ? "wayland" : "";
    char const* driver = ok() ? SDL_GetCurrentVideoDriver() : nullptr;
    return driver ? driver : "";
}

bool VideoSystem::display_opened() const
{
    return ok() && (m_wayland || sdl_has_desktop());
}

bool VideoSystem::is_desktop_display() const
{
    if (m_wayland)
        return !m_wayland->portrait_output();
    SDL_DisplayMode mode {};
    return ok() && sdl_has_desktop() && SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w >= mode.h;
}

EventSource* VideoSystem::event_source() const
{
    return m_wayland.get();
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
    if (!ok() || !sdl_has_desktop())
        return screen;
    SDL_Rect usable {};
    if (SDL_GetDisplayUsableBounds(0, &usable) == 0 && usable.h - window_title_bar < screen.height)
        screen.height = std::max(lowest_screen, usable.h - window_title_bar);
    return screen;
}

// Before the window has its size: a phone's whole output, or a desktop's phone-sized window;
// in the output's pixels either way (its scale times its units).
ScreenMetrics VideoSystem::wayland_screen() const
{
    int32_t scale = m_wayland->largest_scale();
    if (auto const* phone = m_wayland->portrait_output())
        return { phone->seen_width(), phone->seen_height(), 0, 96 * phone->scale };
    // A desktop's window, shorter where the output is (less its title bar).
    int32_t height = desktop_phone_screen.height;
    if (auto const* output = m_wayland->tallest_output(); output && output->seen_height() / output->scale - window_title_bar < height)
        height = std::max(lowest_screen, output->seen_height() / output->scale - window_title_bar);
    return { desktop_phone_screen.width * scale, height * scale, 0, 96 * scale };
}

ScreenMetrics VideoSystem::screen_metrics(Window const* window) const
{
    if (auto resized = window ? window->resized_screen() : std::nullopt)
        return *resized;
    if (auto chosen = parse_screen_text(environment_value("VELLOQ_SCREEN")))
        return *chosen;
    if (auto given = window ? window->screen() : std::nullopt)
        return *given;
    if (m_wayland)
        return wayland_screen();
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

std::unique_ptr<Window> VideoSystem::create_window(std::string const& title, ScreenMetrics const& screen, std::string& error, bool hidden)
{
    if (m_wayland)
        return wayland::WaylandWindow::create(*m_wayland, title, screen, error, hidden);
    return SdlWindow::create(title, screen, error, hidden);
}

}
