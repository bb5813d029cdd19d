#pragma once

#include "platform/SdlHandles.h"
#include "platform/Window.h"
#include "platform/x11/X11SharedFrames.h"

#include <array>
#include <memory>

namespace velloq::platform {

// Whether SDL's video driver has a desktop (dummy and offscreen have none: no usable area to fit
// a window into, nobody who sees it).
bool sdl_has_desktop();
// What a desktop's window manager takes above a window for its title.
constexpr int window_title_bar = 40;

// The window through SDL (X11). A desktop user may resize it, down to 320×480: the program is then
// laid out for its new size.
class SdlWindow final : public Window {
public:
    // A hidden window appears with the first `raise`.
    static std::unique_ptr<SdlWindow> create(std::string const& title, ScreenMetrics const& screen, std::string& error, bool hidden = false);

    uint32_t id() const override;
    bool prepare_frames(int width, int height, std::string& error) override;
    // A window of another size than the frame (a resized desktop window) shows the whole frame
    // scaled.
    bool present(uint16_t const* pixels, int pitch_bytes, int width, int height, FrameRect changed) override;
    std::pair<int32_t, int32_t> to_frame(int32_t x, int32_t y) const override;
    // The window's pixels once the user resized it, at the density the first window showed.
    std::optional<ScreenMetrics> resized_screen() const override;

    void start_text_input(TextField const&) override;
    void stop_text_input() override;
    bool has_screen_keyboard() const override;
    bool screen_keyboard_shown() const override;
    void raise() override;
    void minimize() override;
    void hide() override;

private:
    SdlWindow(SdlWindowHandle, ScreenMetrics const& asked);
    std::pair<int, int> size_in_pixels() const;
    bool present_scaled(SDL_Surface* frame, SDL_Surface* target);
    SDL_Surface* wrapped_frame(uint16_t const* pixels, int pitch_bytes, int width, int height);
    static bool copy_rgb565_to_xrgb8888(SDL_Surface* frame, SDL_Surface* target, SDL_Rect const& part);
    // Where the frame lies in a window of the given size: as large as fits, in the middle.
    SDL_Rect frame_place(int window_width, int window_height) const;
    static std::pair<int, int> fitting_size(int width, int height);
    // The X server's shared images for frames of this size, made on first use; null where they
    // cannot be had (then SDL's window surface shows the frames).
    X11SharedFrames* shared_frames_for(int width, int height);

    SdlWindowHandle m_window;
    // The last two frames' pixels as SDL surfaces (they do not own them).
    std::array<SdlSurfaceHandle, 2> m_frames;
    int m_frame_width { 0 };
    int m_frame_height { 0 };
    // The screen asked for at the start, and the window's pixels then.
    ScreenMetrics m_asked;
    std::pair<int, int> m_first_size;
    std::unique_ptr<X11SharedFrames> m_shared_frames;
    bool m_shared_frames_refused { false };
    // SDL's surface showed the last frame (scaled): the shared images' next frame goes whole.
    bool m_surface_shown { false };
};

}
