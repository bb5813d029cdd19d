#pragma once

#include "platform/SdlHandles.h"
#include "platform/WaylandProbe.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace velloq::platform {

// The phone's screen as the program sees it.
struct ScreenMetrics {
    int32_t width { 0 };
    int32_t height { 0 };
    int32_t orientation { 0 }; // quarter turns
    int32_t dpi { 96 };        // vertical dots per inch
    bool operator==(ScreenMetrics const&) const = default;
};

// "WxH" or "WxH@DPI" as VELLOQ_SCREEN gives it; nullopt when it is not of that form or its
// numbers are out of range.
std::optional<ScreenMetrics> parse_screen_text(std::string const&);

// SDL's video subsystem for as long as the object lives.
class VideoSystem {
public:
    VideoSystem();
    bool ok() const { return m_subsystems && m_subsystems->ok(); }
    std::string error() const;
    // SDL's video driver ("x11", "wayland", …), empty without one; and why it was chosen, when
    // the program chose it.
    std::string driver() const;
    std::string const& driver_reason() const { return m_wayland.reason; }

    // The screen the program has: VELLOQ_SCREEN when set; the whole display on a phone (a
    // portrait display); otherwise, on a desktop, a 480×800 phone screen at 96 dpi, shorter when
    // the desktop's usable area is.
    ScreenMetrics screen_metrics() const;
    ScreenMetrics desktop_screen() const;
    // Whether VELLOQ_SCREEN was set but could not be read (the caller logs it once).
    bool screen_text_rejected() const;

private:
    // Decided before SDL's video starts, which it may forbid.
    WaylandDriverCheck m_wayland;
    std::optional<SdlSubsystems> m_subsystems;
};

// A part of a frame, in its pixels.
struct FrameRect {
    int x { 0 };
    int y { 0 };
    int width { 0 };
    int height { 0 };
};

// The program's one window. It shows frames of 16-bit 5-6-5 pixels of the screen's size, scaled
// to the window when a desktop user resizes it.
class Window {
public:
    // A hidden window appears with the first `raise`.
    static std::unique_ptr<Window> create(std::string const& title, ScreenMetrics const& screen, std::string& error, bool hidden = false);

    uint32_t id() const;
    // Readies the window for frames of the given size; false when the platform cannot draw
    // into this window.
    bool prepare_frames(int width, int height, std::string& error);
    // Shows the `changed` part of a frame; the rest of the window keeps what it showed. A window
    // of another size than the frame (a resized desktop window) shows the whole frame scaled.
    bool present(uint16_t const* pixels, int pitch_bytes, int width, int height, FrameRect changed);
    // A point of the window in the pixels of the frame it shows (they differ in a resized window).
    std::pair<int32_t, int32_t> to_frame(int32_t x, int32_t y) const;

    void start_text_input(int x, int y, int width, int height);
    void stop_text_input();
    // Whether the platform has a keyboard on the screen that typing brings up (phones).
    bool has_screen_keyboard() const;
    bool screen_keyboard_shown() const;
    void raise();
    void minimize();
    void hide();

private:
    explicit Window(SdlWindowHandle);
    bool present_scaled(SDL_Surface* frame, SDL_Surface* target);
    SDL_Surface* wrapped_frame(uint16_t const* pixels, int pitch_bytes, int width, int height);
    static bool copy_rgb565_to_xrgb8888(SDL_Surface* frame, SDL_Surface* target, SDL_Rect const& part);
    // Where the frame lies in a window of the given size: as large as fits, in the middle.
    SDL_Rect frame_place(int window_width, int window_height) const;
    static std::pair<int, int> fitting_size(int width, int height);

    SdlWindowHandle m_window;
    // The last two frames' pixels as SDL surfaces (they do not own them).
    std::array<SdlSurfaceHandle, 2> m_frames;
    int m_frame_width { 0 };
    int m_frame_height { 0 };
};

// Whether the video system opened a display a person sees: SDL falls back to its offscreen
// driver when no display can be opened, which nobody sees (the caller decides whether running
// without one was asked for).
bool display_opened();
// Whether the display is a desktop's (wider than high) rather than a phone's: a desktop has its
// own notifications beside the program's alert.
bool is_desktop_display();

}
