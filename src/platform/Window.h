#pragma once

#include <cstdint>
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

// A part of a frame, in its pixels.
struct FrameRect {
    int x { 0 };
    int y { 0 };
    int width { 0 };
    int height { 0 };
};

// A field that takes typed text: where it is (in the frame's pixels), and whether Enter there
// may start a new line, which an on-screen keyboard shows on its Enter key.
struct TextField {
    FrameRect place;
    bool multi_line { false };
};

// The program's one window. It shows frames of 16-bit 5-6-5 pixels of the screen's size.
class Window {
public:
    virtual ~Window() = default;

    virtual uint32_t id() const = 0;
    // Readies the window for frames of the given size; false when the platform cannot draw
    // into this window.
    virtual bool prepare_frames(int width, int height, std::string& error) = 0;
    // Shows the `changed` part of a frame; the rest of the window keeps what it showed.
    virtual bool present(uint16_t const* pixels, int pitch_bytes, int width, int height, FrameRect changed) = 0;
    // A point of the window in the pixels of the frame it shows (they differ in a resized window
    // and on a screen of more pixels than the window's units).
    virtual std::pair<int32_t, int32_t> to_frame(int32_t x, int32_t y) const = 0;
    // The screen the window gives the program now, where the window decides it (a window that
    // follows its compositor's size and scale); nullopt where the display decides.
    virtual std::optional<ScreenMetrics> screen() const { return std::nullopt; }
    // The screen a user made by resizing the window, which outranks any size asked for at the
    // start; nullopt while the window has the size it was made with.
    virtual std::optional<ScreenMetrics> resized_screen() const { return std::nullopt; }

    virtual void start_text_input(TextField const&) = 0;
    // The text of the field that takes input and its caret (UTF-16 offsets), for an input method
    // that completes and corrects words.
    virtual void set_input_text(std::u16string const&, size_t) { }
    virtual void stop_text_input() = 0;
    // Whether the platform has a keyboard on the screen that typing brings up over the window,
    // which the layout must leave room for (phones).
    virtual bool has_screen_keyboard() const = 0;
    // Whether the window is used by touch first (a phone's screen): a field then takes the input
    // only when tapped, since taking it brings the on-screen keyboard over half the screen.
    virtual bool touch_first() const { return has_screen_keyboard(); }
    virtual bool screen_keyboard_shown() const = 0;
    virtual void raise() = 0;
    virtual void minimize() = 0;
    virtual void hide() = 0;
};

}
