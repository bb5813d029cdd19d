#include "platform/x11/X11SharedFrames.h"

#include "platform/PixelFormat.h"

#include <SDL_syswm.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>

namespace velloq::platform {

namespace {

// X reports a failed request to an error handler, later; attaching shared memory fails that way
// on a display that cannot reach this process's memory.
bool attach_failed = false;

int note_attach_error(::Display*, XErrorEvent*)
{
    attach_failed = true;
    return 0;
}

bool attach_segment(::Display* display, XShmSegmentInfo& segment)
{
    attach_failed = false;
    auto* previous = XSetErrorHandler(note_attach_error);
    bool attached = XShmAttach(display, &segment) && XSync(display, False) && !attach_failed;
    XSetErrorHandler(previous);
    return attached;
}

// The pixels this process writes (0xAARRGGBB words in memory) as the window's visual reads them.
bool takes_xrgb8888(Visual const* visual, int depth)
{
    return (depth == 24 || depth == 32) && visual && visual->red_mask == 0xFF0000 && visual->green_mask == 0xFF00 && visual->blue_mask == 0xFF;
}

}

struct X11SharedFrames::Connection {
    ::Display* display { nullptr };
    ::Window window { 0 };
    GC gc { nullptr };
    Visual* visual { nullptr };
    int depth { 0 };

    ~Connection()
    {
        if (gc)
            XFreeGC(display, gc);
    }
};

// One image: its shared segment and the serial of the last request that showed it.
struct X11SharedFrames::SharedImage {
    ::Display* display { nullptr };
    XShmSegmentInfo segment {};
    XImage* image { nullptr };
    bool attached { false };
    bool awaiting_read { false };
    unsigned long put_serial { 0 };

    ~SharedImage()
    {
        if (attached)
            XShmDetach(display, &segment);
        if (image)
            XDestroyImage(image);
        if (segment.shmaddr && segment.shmaddr != reinterpret_cast<char*>(-1))
            shmdt(segment.shmaddr);
    }
};

std::unique_ptr<X11SharedFrames> X11SharedFrames::create(SDL_Window* window, int width, int height, std::string& why)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) {
        why = "not an X window";
        return nullptr;
    }
    auto connection = std::make_unique<Connection>();
    connection->display = info.info.x11.display;
    connection->window = info.info.x11.window;
    XWindowAttributes attributes {};
    if (!XShmQueryExtension(connection->display) || !XGetWindowAttributes(connection->display, connection->window, &attributes)) {
        why = "the X server shares no memory";
        return nullptr;
    }
    if (!takes_xrgb8888(attributes.visual, attributes.depth) || std::endian::native != std::endian::little) {
        why = "the window's pixels are not 32-bit RGB";
        return nullptr;
    }
    connection->visual = attributes.visual;
    connection->depth = attributes.depth;
    connection->gc = XCreateGC(connection->display, connection->window, 0, nullptr);
    std::unique_ptr<X11SharedFrames> frames(new X11SharedFrames(std::move(connection), width, height));
    if (width <= 0 || height <= 0 || !frames->make_images(why))
        return nullptr;
    return frames;
}

X11SharedFrames::X11SharedFrames(std::unique_ptr<Connection> connection, int width, int height)
    : m_connection(std::move(connection))
    , m_width(width)
    , m_height(height)
{
}

X11SharedFrames::~X11SharedFrames()
{
    bool attached = std::any_of(m_images.begin(), m_images.end(), [](auto const& image) { return image && image->attached; });
    for (auto& image : m_images)
        image.reset();
    // The server lets go of the segments before they are gone from this process.
    if (attached)
        XSync(m_connection->display, False);
}

bool X11SharedFrames::make_images(std::string& why)
{
    ::Display* display = m_connection->display;
    for (auto& slot : m_images) {
        slot = std::make_unique<SharedImage>();
        SharedImage& made = *slot;
        made.display = display;
        made.image = XShmCreateImage(display, m_connection->visual, static_cast<unsigned>(m_connection->depth), ZPixmap, nullptr, &made.segment,
            static_cast<unsigned>(m_width), static_cast<unsigned>(m_height));
        if (!made.image || made.image->bits_per_pixel != 32 || made.image->byte_order != LSBFirst) {
            why = "the server's images are not 32-bit pixels";
            return false;
        }
        made.segment.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(made.image->bytes_per_line) * m_height, IPC_CREAT | 0600);
        if (made.segment.shmid < 0) {
            why = "no shared memory segment";
            return false;
        }
        made.segment.shmaddr = made.image->data = static_cast<char*>(shmat(made.segment.shmid, nullptr, 0));
        made.segment.readOnly = False;
        made.attached = made.segment.shmaddr != reinterpret_cast<char*>(-1) && attach_segment(display, made.segment);
        // Marked for removal at once: it goes when both sides let go, even if this process dies.
        shmctl(made.segment.shmid, IPC_RMID, nullptr);
        if (!made.attached) {
            why = "the X server could not attach shared memory";
            return false;
        }
    }
    return true;
}

// The server has read an image once a reply or event past its request arrived; what arrived is
// read without waiting, and only an image still not read waits for the server.
void X11SharedFrames::wait_until_read(SharedImage& image)
{
    if (!image.awaiting_read)
        return;
    ::Display* display = m_connection->display;
    if (LastKnownRequestProcessed(display) < image.put_serial)
        XEventsQueued(display, QueuedAfterReading);
    if (LastKnownRequestProcessed(display) < image.put_serial)
        XSync(display, False);
    image.awaiting_read = false;
}

// Only the rows a request names are read from an image, so the rows written are those shown.
void X11SharedFrames::write_rows(SharedImage& image, uint16_t const* pixels, int pitch_bytes, int first, int end)
{
    auto const* frame_bytes = reinterpret_cast<unsigned char const*>(pixels);
    auto* image_bytes = reinterpret_cast<unsigned char*>(image.image->data);
    for (int y = first; y < end; ++y) {
        auto const* from = reinterpret_cast<uint16_t const*>(frame_bytes + static_cast<ptrdiff_t>(y) * pitch_bytes);
        widen_rgb565(from, reinterpret_cast<uint32_t*>(image_bytes + static_cast<ptrdiff_t>(y) * image.image->bytes_per_line), static_cast<size_t>(m_width));
    }
}

// The completion event tells when the server has read the image; it is what moves the serial the
// next use of this image looks at.
bool X11SharedFrames::show_rows(SharedImage& image, int first, int end)
{
    Connection const& connection = *m_connection;
    image.put_serial = NextRequest(connection.display);
    if (!XShmPutImage(connection.display, connection.window, connection.gc, image.image, 0, first, 0, first, static_cast<unsigned>(m_width),
            static_cast<unsigned>(end - first), True))
        return false;
    XFlush(connection.display);
    return true;
}

bool X11SharedFrames::present(uint16_t const* pixels, int pitch_bytes, FrameRect changed)
{
    int first = std::clamp(changed.y, 0, m_height);
    int end = std::clamp(changed.y + changed.height, first, m_height);
    if (first >= end)
        return true;
    SharedImage& image = *m_images[m_next_image];
    wait_until_read(image);
    write_rows(image, pixels, pitch_bytes, first, end);
    if (!show_rows(image, first, end))
        return false;
    image.awaiting_read = true;
    m_next_image = 1 - m_next_image;
    return true;
}

}
