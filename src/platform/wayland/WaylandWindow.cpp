#include "platform/wayland/WaylandWindow.h"

#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandSeat.h"
#include "platform/wayland/WaylandTextInput.h"

#include <algorithm>
#include <cmath>

namespace velloq::platform::wayland {

namespace {

// The program's desktop entry is Velloq.desktop: the shell finds its name and icon by this id.
constexpr char const* application_id = "Velloq";
// The smallest desktop window the forms are laid out for, in the window's units.
constexpr int32_t smallest_width = 320;
constexpr int32_t smallest_height = 480;
// A window that waits for the compositor's first configure waits this many round trips at most.
constexpr int configure_round_trips = 4;

}

WaylandWindow::WaylandWindow(WaylandConnection& connection, std::string title, int32_t width, int32_t height)
    : m_connection(connection)
    , m_title(std::move(title))
    , m_surface(wl_compositor_create_surface(connection.compositor()))
    , m_buffers(connection.shm(), connection.rgb565_offered())
    , m_width(width)
    , m_height(height)
{
}

std::unique_ptr<WaylandWindow> WaylandWindow::create(WaylandConnection& connection, std::string const& title, ScreenMetrics const& screen,
    std::string& error, bool hidden)
{
    // The screen the program asked for is in device pixels; the window's size is in its units.
    int32_t scale = connection.largest_scale();
    std::unique_ptr<WaylandWindow> window(new WaylandWindow(connection, title, std::max(1, screen.width / scale), std::max(1, screen.height / scale)));
    if (!window->m_surface) {
        error = "the Wayland compositor made no surface";
        return nullptr;
    }
    static constexpr wl_surface_listener surface_listener { &surface_enter, &surface_leave };
    wl_surface_add_listener(window->m_surface.get(), &surface_listener, window.get());
    window->m_scale_120 = 120 * scale;
    if (connection.viewporter())
        window->m_viewport.reset(wp_viewporter_get_viewport(connection.viewporter(), window->m_surface.get()));
    if (connection.fractional_scale() && window->m_viewport) {
        static constexpr wp_fractional_scale_v1_listener fractional_listener { &preferred_scale };
        window->m_fractional.reset(wp_fractional_scale_manager_v1_get_fractional_scale(connection.fractional_scale(), window->m_surface.get()));
        wp_fractional_scale_v1_add_listener(window->m_fractional.get(), &fractional_listener, window.get());
    }
    if (!hidden && !window->show(error))
        return nullptr;
    return window;
}

WaylandWindow::~WaylandWindow()
{
    if (auto* input = m_connection.seat().text_input())
        input->stop();
    drop_role();
    m_viewport.reset();
    m_fractional.reset();
    m_surface.reset();
    wl_display_flush(m_connection.display());
}

// Gives the surface its toplevel role and waits for the compositor's first configure, which
// says the size it is to have.
bool WaylandWindow::show(std::string& error)
{
    static constexpr xdg_surface_listener xdg_surface_listener { &surface_configure };
    static constexpr xdg_toplevel_listener toplevel_listener { &toplevel_configure, &toplevel_close };
    m_xdg_surface.reset(xdg_wm_base_get_xdg_surface(m_connection.shell(), m_surface.get()));
    xdg_surface_add_listener(m_xdg_surface.get(), &xdg_surface_listener, this);
    m_toplevel.reset(xdg_surface_get_toplevel(m_xdg_surface.get()));
    xdg_toplevel_add_listener(m_toplevel.get(), &toplevel_listener, this);
    xdg_toplevel_set_title(m_toplevel.get(), m_title.c_str());
    xdg_toplevel_set_app_id(m_toplevel.get(), application_id);
    if (m_connection.portrait_output()) {
        // A phone: the whole screen between the shell's bars, where its keyboard makes room.
        xdg_toplevel_set_maximized(m_toplevel.get());
    } else {
        xdg_toplevel_set_min_size(m_toplevel.get(), smallest_width, smallest_height);
    }
    if (m_connection.decorations()) {
        m_decoration.reset(zxdg_decoration_manager_v1_get_toplevel_decoration(m_connection.decorations(), m_toplevel.get()));
        zxdg_toplevel_decoration_v1_set_mode(m_decoration.get(), ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE);
    }
    m_configured = false;
    wl_surface_commit(m_surface.get());
    for (int trip = 0; trip < configure_round_trips && !m_configured; ++trip) {
        if (!m_connection.roundtrip())
            break;
    }
    if (!m_configured) {
        error = "the Wayland compositor did not configure the window";
        drop_role();
        return false;
    }
    // The frames shown before (if any) went with the role.
    m_connection.push(Event { EventKind::Exposed });
    return true;
}

void WaylandWindow::drop_role()
{
    m_activation_token.reset();
    m_frame_callback.reset();
    m_unsent = nullptr;
    m_decoration.reset();
    m_toplevel.reset();
    m_xdg_surface.reset();
    m_configured = false;
    m_placed_width = m_placed_height = 0;
}

bool WaylandWindow::prepare_frames(int width, int height, std::string&)
{
    m_frame_width = width;
    m_frame_height = height;
    return true;
}

bool WaylandWindow::present(uint16_t const* pixels, int pitch_bytes, int width, int height, FrameRect changed)
{
    if (!m_configured)
        return true;
    m_frame_width = width;
    m_frame_height = height;
    int first = std::clamp(changed.y, 0, height);
    int end = std::clamp(changed.y + changed.height, first, height);
    auto* buffer = m_buffers.write(pixels, pitch_bytes, width, height, first, end, m_unsent);
    if (!buffer)
        return false;
    if (m_damage_first >= m_damage_end) {
        m_damage_first = first;
        m_damage_end = end;
    } else {
        m_damage_first = std::min(m_damage_first, first);
        m_damage_end = std::max(m_damage_end, end);
    }
    // Until the compositor has shown the last frame, the newest one waits in its buffer.
    if (m_frame_callback) {
        m_unsent = buffer;
        return true;
    }
    commit(buffer);
    return true;
}

void WaylandWindow::commit(WaylandBuffers::Buffer* buffer)
{
    wl_surface* surface = m_surface.get();
    WaylandBuffers::send(buffer, surface);
    place_buffer(m_frame_width, m_frame_height);
    if (wl_surface_get_version(surface) >= WL_SURFACE_DAMAGE_BUFFER_SINCE_VERSION)
        wl_surface_damage_buffer(surface, 0, m_damage_first, m_frame_width, m_damage_end - m_damage_first);
    else
        wl_surface_damage(surface, 0, 0, m_width, m_height);
    m_damage_first = m_damage_end = 0;
    static constexpr wl_callback_listener frame_listener { &frame_done };
    m_frame_callback.reset(wl_surface_frame(surface));
    wl_callback_add_listener(m_frame_callback.get(), &frame_listener, this);
    wl_surface_commit(surface);
    wl_display_flush(m_connection.display());
    m_unsent = nullptr;
}

// The buffer, of the frame's device pixels, covers the window's units: through the viewport
// (any scale, fractional too), or a whole buffer scale where the compositor has no viewports.
void WaylandWindow::place_buffer(int width, int height)
{
    if (m_viewport) {
        if (m_placed_width != m_width || m_placed_height != m_height)
            wp_viewport_set_destination(m_viewport.get(), m_width, m_height);
    } else {
        int32_t scale = m_scale_120 / 120;
        bool whole = scale > 1 && width % scale == 0 && height % scale == 0;
        wl_surface_set_buffer_scale(m_surface.get(), whole ? scale : 1);
    }
    m_placed_width = m_width;
    m_placed_height = m_height;
}

void WaylandWindow::frame_done(void* data, wl_callback*, uint32_t)
{
    auto& self = *static_cast<WaylandWindow*>(data);
    self.m_frame_callback.reset();
    if (self.m_unsent)
        self.commit(self.m_unsent);
}

std::pair<int32_t, int32_t> WaylandWindow::to_frame(int32_t x, int32_t y) const
{
    if (m_frame_width <= 0 || m_width <= 0 || m_height <= 0)
        return { device_pixels(x), device_pixels(y) };
    return { static_cast<int32_t>(int64_t(x) * m_frame_width / m_width), static_cast<int32_t>(int64_t(y) * m_frame_height / m_height) };
}

int32_t WaylandWindow::device_pixels(int32_t units) const
{
    return static_cast<int32_t>(std::lround(double(units) * m_scale_120 / 120.0));
}

std::optional<ScreenMetrics> WaylandWindow::screen() const
{
    return ScreenMetrics { std::max(1, device_pixels(m_width)), std::max(1, device_pixels(m_height)), 0, 96 * m_scale_120 / 120 };
}

void WaylandWindow::set_scale_120(int32_t scale)
{
    scale = std::clamp(scale, 120, 120 * 8);
    if (scale == m_scale_120)
        return;
    m_scale_120 = scale;
    m_connection.push(Event { EventKind::DisplayChanged });
}

// Without fractional scales, the window is drawn for the largest scale of the outputs it is on.
void WaylandWindow::follow_outputs()
{
    if (m_fractional_given)
        return;
    int32_t scale = 0;
    for (wl_output* output : m_outputs) {
        if (auto const* known = m_connection.output_of(output))
            scale = std::max(scale, known->scale);
    }
    set_scale_120(120 * (scale > 0 ? scale : m_connection.largest_scale()));
}

void WaylandWindow::surface_enter(void* data, wl_surface*, wl_output* output)
{
    auto& self = *static_cast<WaylandWindow*>(data);
    self.m_outputs.insert(output);
    self.follow_outputs();
}

void WaylandWindow::surface_leave(void* data, wl_surface*, wl_output* output)
{
    auto& self = *static_cast<WaylandWindow*>(data);
    self.m_outputs.erase(output);
    self.follow_outputs();
}

void WaylandWindow::preferred_scale(void* data, wp_fractional_scale_v1*, uint32_t scale)
{
    auto& self = *static_cast<WaylandWindow*>(data);
    self.m_fractional_given = true;
    self.set_scale_120(static_cast<int32_t>(std::min<uint32_t>(scale, 120 * 8)));
}

void WaylandWindow::toplevel_configure(void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*)
{
    auto& self = *static_cast<WaylandWindow*>(data);
    self.m_asked_width = width;
    self.m_asked_height = height;
}

// A size of 0 leaves it to the window: it keeps the one it has.
void WaylandWindow::surface_configure(void* data, xdg_surface* surface, uint32_t serial)
{
    auto& self = *static_cast<WaylandWindow*>(data);
    xdg_surface_ack_configure(surface, serial);
    self.m_configured = true;
    int32_t width = self.m_asked_width > 0 ? self.m_asked_width : self.m_width;
    int32_t height = self.m_asked_height > 0 ? self.m_asked_height : self.m_height;
    if (width == self.m_width && height == self.m_height)
        return;
    self.m_width = width;
    self.m_height = height;
    self.m_connection.push(Event { EventKind::DisplayChanged });
}

void WaylandWindow::toplevel_close(void* data, xdg_toplevel*)
{
    static_cast<WaylandWindow*>(data)->m_connection.push(Event { EventKind::CloseRequested });
}

void WaylandWindow::start_text_input(TextField const& field)
{
    auto* input = m_connection.seat().text_input();
    if (!input)
        return;
    // The input method places its candidates by the field, in the window's units.
    auto units = [this](int pixels, int units_across, int frame_across) {
        return frame_across > 0 ? static_cast<int32_t>(int64_t(pixels) * units_across / frame_across) : pixels;
    };
    FrameRect place = field.place;
    input->start(units(place.x, m_width, m_frame_width), units(place.y, m_height, m_frame_height), units(place.width, m_width, m_frame_width),
        units(place.height, m_height, m_frame_height), field.multi_line);
    wl_display_flush(m_connection.display());
}

void WaylandWindow::set_input_text(std::u16string const& text, size_t caret)
{
    if (auto* input = m_connection.seat().text_input()) {
        input->set_text(text, caret);
        wl_display_flush(m_connection.display());
    }
}

void WaylandWindow::stop_text_input()
{
    if (auto* input = m_connection.seat().text_input()) {
        input->stop();
        wl_display_flush(m_connection.display());
    }
}

// A compositor whose seat has a touch screen is a phone's (or a tablet's): its keyboard is the
// on-screen one, which comes up whenever a field takes the input.
bool WaylandWindow::touch_first() const
{
    return m_connection.seat().has_touch();
}

bool WaylandWindow::screen_keyboard_shown() const
{
    auto* input = m_connection.seat().text_input();
    return input && input->enabled();
}

// A hidden window is shown again; a shown one (behind another program, minimized) asks the
// compositor to activate it, with the user's last input to the program where there was one. The
// compositor decides whether it comes to the front.
void WaylandWindow::raise()
{
    if (!m_toplevel) {
        std::string error;
        show(error);
        return;
    }
    xdg_activation_v1* activation = m_connection.activation();
    if (!activation)
        return;
    static constexpr xdg_activation_token_v1_listener token_listener { &activation_done };
    m_activation_token.reset(xdg_activation_v1_get_activation_token(activation));
    xdg_activation_token_v1_add_listener(m_activation_token.get(), &token_listener, this);
    if (uint32_t serial = m_connection.seat().last_serial())
        xdg_activation_token_v1_set_serial(m_activation_token.get(), serial, m_connection.seat().seat());
    xdg_activation_token_v1_set_surface(m_activation_token.get(), m_surface.get());
    xdg_activation_token_v1_set_app_id(m_activation_token.get(), application_id);
    xdg_activation_token_v1_commit(m_activation_token.get());
    wl_display_flush(m_connection.display());
}

void WaylandWindow::activation_done(void* data, xdg_activation_token_v1*, char const* token)
{
    auto& self = *static_cast<WaylandWindow*>(data);
    self.m_activation_token.reset();
    if (self.m_toplevel && token)
        xdg_activation_v1_activate(self.m_connection.activation(), token, self.m_surface.get());
    wl_display_flush(self.m_connection.display());
}

void WaylandWindow::minimize()
{
    if (m_toplevel)
        xdg_toplevel_set_minimized(m_toplevel.get());
}

void WaylandWindow::hide()
{
    drop_role();
    wl_surface_attach(m_surface.get(), nullptr, 0, 0);
    wl_surface_commit(m_surface.get());
    wl_display_flush(m_connection.display());
}

}
