#include "platform/wayland/WaylandBuffers.h"

#include "platform/FileDescriptor.h"
#include "platform/PixelFormat.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace velloq::platform::wayland {

namespace {

// Three buffers: one on the screen, one on its way, one being written.
constexpr size_t most_buffers = 3;

}

struct WaylandBuffers::Buffer {
    Handle<wl_buffer> buffer;
    void* memory { MAP_FAILED };
    size_t size { 0 };
    int width { 0 };
    int height { 0 };
    int stride { 0 };
    bool held { false };
    // The rows [dirty_first, dirty_end) differ from the newest frame.
    int dirty_first { 0 };
    int dirty_end { 0 };

    ~Buffer()
    {
        buffer.reset();
        if (memory != MAP_FAILED)
            munmap(memory, size);
    }
    void add_dirty(int first, int end)
    {
        first = std::max(first, 0);
        end = std::min(end, height);
        if (first >= end)
            return;
        if (dirty_first >= dirty_end) {
            dirty_first = first;
            dirty_end = end;
            return;
        }
        dirty_first = std::min(dirty_first, first);
        dirty_end = std::max(dirty_end, end);
    }
};

WaylandBuffers::WaylandBuffers(wl_shm* shm, bool rgb565)
    : m_shm(shm)
    , m_rgb565(rgb565)
{
}

WaylandBuffers::~WaylandBuffers() = default;

std::unique_ptr<WaylandBuffers::Buffer> WaylandBuffers::make(int width, int height)
{
    auto made = std::make_unique<Buffer>();
    made->width = width;
    made->height = height;
    made->stride = width * (m_rgb565 ? 2 : 4);
    made->size = static_cast<size_t>(made->stride) * static_cast<size_t>(height);
    FileDescriptor memory(memfd_create("velloq-frame", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (memory.get() < 0 || ftruncate(memory.get(), static_cast<off_t>(made->size)) != 0)
        return nullptr;
    made->memory = mmap(nullptr, made->size, PROT_READ | PROT_WRITE, MAP_SHARED, memory.get(), 0);
    if (made->memory == MAP_FAILED)
        return nullptr;
    Handle<wl_shm_pool> pool(wl_shm_create_pool(m_shm, memory.get(), static_cast<int32_t>(made->size)));
    uint32_t format = m_rgb565 ? WL_SHM_FORMAT_RGB565 : WL_SHM_FORMAT_XRGB8888;
    made->buffer.reset(wl_shm_pool_create_buffer(pool.get(), 0, width, height, made->stride, format));
    if (!made->buffer)
        return nullptr;
    static constexpr wl_buffer_listener listener { &WaylandBuffers::release };
    wl_buffer_add_listener(made->buffer.get(), &listener, made.get());
    // A new buffer lacks every row.
    made->add_dirty(0, height);
    return made;
}

void WaylandBuffers::release(void* data, wl_buffer*)
{
    static_cast<Buffer*>(data)->held = false;
}

WaylandBuffers::Buffer* WaylandBuffers::free_buffer(int width, int height, Buffer* prefer)
{
    // Buffers of another size (before a resize) go once the compositor lets them go.
    std::erase_if(m_buffers, [&](auto const& buffer) { return !buffer->held && (buffer->width != width || buffer->height != height); });
    if (prefer && !prefer->held && std::any_of(m_buffers.begin(), m_buffers.end(), [prefer](auto const& b) { return b.get() == prefer; }))
        return prefer;
    for (auto const& buffer : m_buffers) {
        if (!buffer->held && buffer->width == width && buffer->height == height)
            return buffer.get();
    }
    if (m_buffers.size() >= most_buffers + 1)
        return nullptr;
    auto made = make(width, height);
    if (!made)
        return nullptr;
    m_buffers.push_back(std::move(made));
    return m_buffers.back().get();
}

WaylandBuffers::Buffer* WaylandBuffers::write(uint16_t const* pixels, int pitch_bytes, int width, int height, int first_row, int end_row, Buffer* prefer)
{
    first_row = std::clamp(first_row, 0, height);
    end_row = std::clamp(end_row, first_row, height);
    // Buffers kept from before frames of another size came (held by the compositor then) hold
    // an old picture: all of it is stale.
    bool resized = width != m_frame_width || height != m_frame_height;
    m_frame_width = width;
    m_frame_height = height;
    for (auto& buffer : m_buffers)
        buffer->add_dirty(resized ? 0 : first_row, resized ? buffer->height : end_row);
    Buffer* target = free_buffer(width, height, prefer);
    if (!target)
        return nullptr;
    auto const* from = reinterpret_cast<uint8_t const*>(pixels);
    auto* to = static_cast<uint8_t*>(target->memory);
    if (m_rgb565 && pitch_bytes == target->stride) {
        // Rows of the same length follow each other in both: one copy.
        size_t first = static_cast<size_t>(target->dirty_first) * static_cast<size_t>(pitch_bytes);
        size_t end = static_cast<size_t>(target->dirty_end) * static_cast<size_t>(pitch_bytes);
        if (end > first)
            std::memcpy(to + first, from + first, end - first);
        target->dirty_first = target->dirty_end = 0;
        return target;
    }
    for (int y = target->dirty_first; y < target->dirty_end; ++y) {
        auto const* row = reinterpret_cast<uint16_t const*>(from + static_cast<size_t>(y) * static_cast<size_t>(pitch_bytes));
        uint8_t* out = to + static_cast<size_t>(y) * static_cast<size_t>(target->stride);
        if (m_rgb565)
            std::memcpy(out, row, static_cast<size_t>(width) * 2);
        else
            widen_rgb565(row, reinterpret_cast<uint32_t*>(out), static_cast<size_t>(width));
    }
    target->dirty_first = target->dirty_end = 0;
    return target;
}

void WaylandBuffers::send(Buffer* buffer, wl_surface* surface)
{
    buffer->held = true;
    wl_surface_attach(surface, buffer->buffer.get(), 0, 0);
}

}
