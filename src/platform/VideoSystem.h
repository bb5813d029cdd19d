#pragma once

#include "platform/Events.h"
#include "platform/SdlHandles.h"
#include "platform/Window.h"

#include <memory>
#include <optional>
#include <string>

namespace velloq::platform {

namespace wayland {
class WaylandConnection;
}

// The display the program's window goes to, for as long as the object lives: the Wayland
// compositor through the program's own connection where WAYLAND_DISPLAY names one with a seat,
// otherwise SDL's video (X11, or SDL's offscreen driver).
class VideoSystem {
public:
    VideoSystem();
    ~VideoSystem();
    VideoSystem(VideoSystem const&) = delete;
    VideoSystem& operator=(VideoSystem const&) = delete;

    bool ok() const;
    std::string error() const;
    // The video driver ("wayland", "x11", …), empty without one; and why it was chosen, when
    // the program chose it.
    std::string driver() const;
    std::string const& driver_reason() const { return m_reason; }
    // Whether a display a person sees was opened (SDL falls back to its offscreen driver, which
    // nobody sees), and whether it is a desktop's (wider than high) rather than a phone's.
    bool display_opened() const;
    bool is_desktop_display() const;
    // Events the program reads from its own display connection (null: SDL's queue has them all).
    EventSource* event_source() const;

    // The screen the program has: VELLOQ_SCREEN when set; what the window gives, where it
    // decides (it follows its compositor); the whole display on a phone (a portrait display);
    // otherwise, on a desktop, a 480×800 phone screen at 96 dpi (times the display's scale),
    // shorter when the desktop's usable area is.
    ScreenMetrics screen_metrics(Window const* window = nullptr) const;
    // Whether VELLOQ_SCREEN was set but could not be read (the caller logs it once).
    bool screen_text_rejected() const;

    // A hidden window appears with the first `raise`.
    std::unique_ptr<Window> create_window(std::string const& title, ScreenMetrics const& screen, std::string& error, bool hidden = false);

private:
    ScreenMetrics desktop_screen() const;
    ScreenMetrics wayland_screen() const;
    bool connect_wayland(std::string const& asked);

    std::unique_ptr<wayland::WaylandConnection> m_wayland;
    std::string m_wayland_error;
    bool m_refused { false };
    std::string m_reason;
    std::optional<SdlSubsystems> m_subsystems;
};

}
