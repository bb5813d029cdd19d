#include "platform/wayland/WaylandConnection.h"

#include "platform/Environment.h"
#include "platform/wayland/WaylandSeat.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velloq::platform::wayland {

namespace {

bool quarter_turned(int32_t transform)
{
    return transform == WL_OUTPUT_TRANSFORM_90 || transform == WL_OUTPUT_TRANSFORM_270 || transform == WL_OUTPUT_TRANSFORM_FLIPPED_90
        || transform == WL_OUTPUT_TRANSFORM_FLIPPED_270;
}

void output_geometry(void* data, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, char const*, char const*, int32_t transform)
{
    static_cast<Output*>(data)->transform = transform;
}

void output_mode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t)
{
    if (!(flags & WL_OUTPUT_MODE_CURRENT))
        return;
    auto* output = static_cast<Output*>(data);
    output->mode_width = width;
    output->mode_height = height;
}

void output_done(void*, wl_output*)
{
}

void output_scale(void* data, wl_output*, int32_t scale)
{
    static_cast<Output*>(data)->scale = std::clamp(scale, 1, 8);
}

constexpr wl_output_listener output_listener { output_geometry, output_mode, output_done, output_scale };

template <typename T>
Handle<T> bind(wl_registry* registry, uint32_t name, wl_interface const& interface, uint32_t offered, uint32_t wanted)
{
    return Handle<T>(static_cast<T*>(wl_registry_bind(registry, name, &interface, std::min(offered, wanted))));
}

}

int32_t Output::seen_width() const
{
    return quarter_turned(transform) ? mode_height : mode_width;
}

int32_t Output::seen_height() const
{
    return quarter_turned(transform) ? mode_width : mode_height;
}

std::unique_ptr<WaylandConnection> WaylandConnection::connect(std::string& error)
{
    std::string name = environment_value("WAYLAND_DISPLAY");
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection());
    connection->m_display.reset(wl_display_connect(nullptr));
    if (!connection->m_display) {
        error = "the Wayland compositor " + name + " cannot be reached";
        return nullptr;
    }
    if (!connection->bind_globals(error))
        return nullptr;
    return connection;
}

WaylandConnection::~WaylandConnection()
{
    m_seat.reset();
    m_outputs.clear();
}

bool WaylandConnection::bind_globals(std::string& error)
{
    static constexpr wl_registry_listener registry_listener { &WaylandConnection::global, &WaylandConnection::global_remove };
    m_registry.reset(wl_display_get_registry(m_display.get()));
    wl_registry_add_listener(m_registry.get(), &registry_listener, this);
    // The first round trip gives the globals, the second what the outputs, the seat and the
    // shared memory say of themselves.
    if (!roundtrip() || !roundtrip()) {
        error = "the Wayland compositor closed the connection";
        return false;
    }
    std::string name = environment_value("WAYLAND_DISPLAY");
    if (!m_compositor || !m_shm || !m_shell) {
        error = "the Wayland compositor " + name + " offers no desktop windows (wl_compositor, wl_shm and xdg_wm_base are needed)";
        return false;
    }
    if (!m_seat) {
        error = "the Wayland compositor " + name + " offers no seat (no keyboard, pointer or touch)";
        return false;
    }
    // The text input and the clipboard hear of the keyboard's focus and the selection only when
    // they exist before the window has the focus.
    m_seat->text_input();
    m_seat->clipboard();
    return true;
}

void WaylandConnection::global(void* data, wl_registry* registry, uint32_t name, char const* interface, uint32_t version)
{
    auto& self = *static_cast<WaylandConnection*>(data);
    std::string_view which = interface;
    if (which == wl_compositor_interface.name) {
        self.m_compositor = bind<wl_compositor>(registry, name, wl_compositor_interface, version, 4);
    } else if (which == wl_shm_interface.name) {
        self.m_shm = bind<wl_shm>(registry, name, wl_shm_interface, version, 1);
        static constexpr wl_shm_listener shm_listener { &WaylandConnection::shm_format };
        wl_shm_add_listener(self.m_shm.get(), &shm_listener, &self);
    } else if (which == xdg_wm_base_interface.name) {
        self.m_shell = bind<xdg_wm_base>(registry, name, xdg_wm_base_interface, version, 2);
        static constexpr xdg_wm_base_listener shell_listener { &WaylandConnection::ping };
        xdg_wm_base_add_listener(self.m_shell.get(), &shell_listener, &self);
    } else if (which == wl_seat_interface.name && !self.m_seat) {
        self.m_seat = std::make_unique<WaylandSeat>(self, bind<wl_seat>(registry, name, wl_seat_interface, version, 5));
    } else if (which == wl_output_interface.name) {
        auto output = std::make_unique<Output>();
        output->name = name;
        output->output = bind<wl_output>(registry, name, wl_output_interface, version, 3);
        wl_output_add_listener(output->output.get(), &output_listener, output.get());
        self.m_outputs.push_back(std::move(output));
    } else if (which == wp_viewporter_interface.name) {
        self.m_viewporter = bind<wp_viewporter>(registry, name, wp_viewporter_interface, version, 1);
    } else if (which == wp_fractional_scale_manager_v1_interface.name) {
        self.m_fractional_scale = bind<wp_fractional_scale_manager_v1>(registry, name, wp_fractional_scale_manager_v1_interface, version, 1);
    } else if (which == zxdg_decoration_manager_v1_interface.name) {
        self.m_decorations = bind<zxdg_decoration_manager_v1>(registry, name, zxdg_decoration_manager_v1_interface, version, 1);
    } else if (which == zwp_text_input_manager_v3_interface.name) {
        self.m_text_input = bind<zwp_text_input_manager_v3>(registry, name, zwp_text_input_manager_v3_interface, version, 1);
    } else if (which == xdg_activation_v1_interface.name) {
        self.m_activation = bind<xdg_activation_v1>(registry, name, xdg_activation_v1_interface, version, 1);
    } else if (which == wl_data_device_manager_interface.name) {
        self.m_data_devices = bind<wl_data_device_manager>(registry, name, wl_data_device_manager_interface, version, 3);
    }
}

void WaylandConnection::global_remove(void* data, wl_registry*, uint32_t name)
{
    auto& outputs = static_cast<WaylandConnection*>(data)->m_outputs;
    auto gone = std::find_if(outputs.begin(), outputs.end(), [name](auto const& output) { return output->name == name; });
    if (gone == outputs.end())
        return;
    outputs.erase(gone);
    // A screen unplugged or turned off: the window's place and scale may change.
    static_cast<WaylandConnection*>(data)->push(Event { EventKind::DisplayChanged });
}

void WaylandConnection::shm_format(void* data, wl_shm*, uint32_t format)
{
    if (format == WL_SHM_FORMAT_RGB565)
        static_cast<WaylandConnection*>(data)->m_rgb565 = true;
}

void WaylandConnection::ping(void*, xdg_wm_base* shell, uint32_t serial)
{
    xdg_wm_base_pong(shell, serial);
}

Output const* WaylandConnection::output_of(wl_output* output) const
{
    auto found = std::find_if(m_outputs.begin(), m_outputs.end(), [output](auto const& known) { return known->output.get() == output; });
    return found == m_outputs.end() ? nullptr : found->get();
}

Output const* WaylandConnection::portrait_output() const
{
    auto found = std::find_if(m_outputs.begin(), m_outputs.end(), [](auto const& output) { return output->portrait(); });
    return found == m_outputs.end() ? nullptr : found->get();
}

Output const* WaylandConnection::tallest_output() const
{
    Output const* tallest = nullptr;
    for (auto const& output : m_outputs) {
        if (output->seen_height() > 0 && (!tallest || output->seen_height() / output->scale > tallest->seen_height() / tallest->scale))
            tallest = output.get();
    }
    return tallest;
}

int32_t WaylandConnection::largest_scale() const
{
    int32_t scale = 1;
    for (auto const& output : m_outputs)
        scale = std::max(scale, output->scale);
    return scale;
}

bool WaylandConnection::roundtrip()
{
    if (m_broken || wl_display_roundtrip(m_display.get()) < 0)
        m_broken = true;
    return !m_broken;
}

void WaylandConnection::push(Event event)
{
    m_events.push_back(std::move(event));
}

bool WaylandConnection::take(Event& out)
{
    // What has arrived is read even while the program is too busy to wait: the compositor's pings
    // are answered and its buffers come back during a long load too.
    if (m_events.empty())
        wait(0, -1);
    if (m_events.empty())
        return false;
    out = std::move(m_events.front());
    m_events.pop_front();
    return true;
}

// Reads what the compositor sent (when `readable`) and runs the listeners of everything queued.
void WaylandConnection::dispatch_ready(bool readable)
{
    if (m_broken)
        return;
    wl_display* display = m_display.get();
    if (readable) {
        if (wl_display_read_events(display) < 0)
            m_broken = true;
    }
    if (!m_broken && wl_display_dispatch_pending(display) < 0)
        m_broken = true;
    wl_display_flush(display);
    if (m_broken)
        push(Event { EventKind::Quit });
}

void WaylandConnection::wait(int timeout_ms, int wake_fd)
{
    wl_display* display = m_display.get();
    if (m_broken) {
        push(Event { EventKind::Quit });
        return;
    }
    while (wl_display_prepare_read(display) != 0)
        wl_display_dispatch_pending(display);
    wl_display_flush(display);
    if (!m_events.empty()) {
        wl_display_cancel_read(display);
        return;
    }
    timeout_ms = m_seat->until_key_repeat(timeout_ms);
    pollfd fds[2] { { wl_display_get_fd(display), POLLIN, 0 }, { wake_fd, POLLIN, 0 } };
    int ready = poll(fds, 2, timeout_ms);
    if (ready > 0 && (fds[1].revents & POLLIN)) {
        uint64_t count = 0;
        [[maybe_unused]] ssize_t drained = read(wake_fd, &count, sizeof count);
    }
    bool readable = ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR));
    if (!readable)
        wl_display_cancel_read(display);
    dispatch_ready(readable);
    m_seat->repeat_due_keys();
}

}
