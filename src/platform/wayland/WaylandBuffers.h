#pragma once

#include "platform/wayland/WaylandHandles.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace velloq::platform::wayland {

// The shared-memory buffers a window's frames go to the compositor in. A buffer the compositor
// holds is not written until it lets it go; each buffer knows which rows it lacks of the newest
// frame, so a frame copies only what changed since that buffer was last shown.
class WaylandBuffers {
public:
    struct Buffer;

    // `rgb565`: the compositor takes the frame's own 5-6-5 pixels; otherwise they are widened
    // to XRGB8888, which every compositor takes.
    WaylandBuffers(wl_shm*, bool rgb565);
    ~WaylandBuffers();
    WaylandBuffers(WaylandBuffers const&) = delete;
    WaylandBuffers& operator=(WaylandBuffers const&) = delete;

    // Brings a free buffer (`prefer` when it is still free) up to date with the frame, whose rows
    // [first_row, end_row) changed; null when no buffer could be had.
    Buffer* write(uint16_t const* pixels, int pitch_bytes, int width, int height, int first_row, int end_row, Buffer* prefer = nullptr);
    // The buffer goes to the compositor, which holds it until it releases it.
    static void send(Buffer*, wl_surface*);
    bool rgb565() const { return m_rgb565; }
    size_t count() const { return m_buffers.size(); }

private:
    std::unique_ptr<Buffer> make(int width, int height);
    Buffer* free_buffer(int width, int height, Buffer* prefer);
    static void release(void*, wl_buffer*);

    wl_shm* m_shm;
    bool m_rgb565;
    std::vector<std::unique_ptr<Buffer>> m_buffers;
    int m_frame_width { 0 };
    int m_frame_height { 0 };
};

}
