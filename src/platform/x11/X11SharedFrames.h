#pragma once

#include "platform/Window.h"

#include <SDL.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace velloq::platform {

// Frames shown in an X window from two images in memory shared with the X server. A frame's
// changed rows are widened to the window's 32-bit pixels and the server told to take them, without
// waiting for it to answer (SDL's own window surface waits for a round trip at every frame): while
// the server reads one image the next frame's rows are written into the other, and an image is
// written again only once the server said it has read it.
class X11SharedFrames {
public:
    // Null, with the reason, where the window is not an X window, the server shares no memory with
    // this process (a remote display) or its pixels are not 32-bit RGB.
    static std::unique_ptr<X11SharedFrames> create(SDL_Window* window, int width, int height, std::string& why);
    ~X11SharedFrames();
    X11SharedFrames(X11SharedFrames const&) = delete;
    X11SharedFrames& operator=(X11SharedFrames const&) = delete;

    int width() const { return m_width; }
    int height() const { return m_height; }
    // Shows the rows `changed` covers of a frame of this size (its columns are taken whole).
    bool present(uint16_t const* pixels, int pitch_bytes, FrameRect changed);

private:
    struct Connection;
    struct SharedImage;
    X11SharedFrames(std::unique_ptr<Connection>, int width, int height);
    bool make_images(std::string& why);
    void wait_until_read(SharedImage& image);
    void write_rows(SharedImage& image, uint16_t const* pixels, int pitch_bytes, int first, int end);
    bool show_rows(SharedImage& image, int first, int end);

    std::unique_ptr<Connection> m_connection;
    std::array<std::unique_ptr<SharedImage>, 2> m_images;
    size_t m_next_image { 0 };
    int m_width;
    int m_height;
};

}
