#pragma once

#include "platform/Events.h"
#include "platform/wayland/WaylandHandles.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velloq::platform::wayland {

class WaylandSeat;

// One of the compositor's outputs, as its events describe it.
struct Output {
    uint32_t name { 0 };
    Handle<wl_output> output;
    int32_t scale { 1 };
    int32_t mode_width { 0 };
    int32_t mode_height { 0 };
    int32_t transform { 0 };

    // The output's size as the user sees it, in its own pixels (a quarter turn swaps the sides).
    int32_t seen_width() const;
    int32_t seen_height() const;
    bool portrait() const { return seen_height() > seen_width(); }
};

// The program's own connection to the Wayland compositor: the globals it offers, the outputs and
// the seat, and the events read from it, which it hands to the event queue.
class WaylandConnection : public EventSource {
public:
    // Connects to the compositor WAYLAND_DISPLAY names. Null, with the reason in `error`, when
    // there is none or it lacks what a window needs (a seat among them).
    static std::unique_ptr<WaylandConnection> connect(std::string& error);
    ~WaylandConnection() override;
    WaylandConnection(WaylandConnection const&) = delete;
    WaylandConnection& operator=(WaylandConnection const&) = delete;

    wl_display* display() const { return m_display.get(); }
    wl_compositor* compositor() const { return m_compositor.get(); }
    wl_shm* shm() const { return m_shm.get(); }
    xdg_wm_base* shell() const { return m_shell.get(); }
    wp_viewporter* viewporter() const { return m_viewporter.get(); }
    wp_fractional_scale_manager_v1* fractional_scale() const { return m_fractional_scale.get(); }
    zxdg_decoration_manager_v1* decorations() const { return m_decorations.get(); }
    zwp_text_input_manager_v3* text_input() const { return m_text_input.get(); }
    xdg_activation_v1* activation() const { return m_activation.get(); }
    wl_data_device_manager* data_devices() const { return m_data_devices.get(); }
    WaylandSeat& seat() const { return *m_seat; }
    // Whether the compositor takes 5-6-5 pixels as they are.
    bool rgb565_offered() const { return m_rgb565; }

    Output const* output_of(wl_output*) const;
    // The first output taller than wide: a phone's screen.
    Output const* portrait_output() const;
    // The output of the most units from top to bottom (null before any is known).
    Output const* tallest_output() const;
    // The largest scale of any output: what a surface not yet on one is drawn for.
    int32_t largest_scale() const;

    // Sends what is queued and waits for the compositor's answers; false when the connection broke.
    bool roundtrip();
    void push(Event);

    bool take(Event&) override;
    void wait(int timeout_ms, int wake_fd) override;

private:
    WaylandConnection() = default;
    bool bind_globals(std::string& error);
    void dispatch_ready(bool readable);

    static void global(void* data, wl_registry*, uint32_t name, char const* interface, uint32_t version);
    static void global_remove(void* data, wl_registry*, uint32_t name);
    static void shm_format(void* data, wl_shm*, uint32_t format);
    static void ping(void* data, xdg_wm_base*, uint32_t serial);

    DisplayHandle m_display;
    Handle<wl_registry> m_registry;
    Handle<wl_compositor> m_compositor;
    Handle<wl_shm> m_shm;
    Handle<xdg_wm_base> m_shell;
    Handle<wp_viewporter> m_viewporter;
    Handle<wp_fractional_scale_manager_v1> m_fractional_scale;
    Handle<zxdg_decoration_manager_v1> m_decorations;
    Handle<zwp_text_input_manager_v3> m_text_input;
    Handle<xdg_activation_v1> m_activation;
    Handle<wl_data_device_manager> m_data_devices;
    std::unique_ptr<WaylandSeat> m_seat;
    // Stable places: the outputs' listeners hold them.
    std::vector<std::unique_ptr<Output>> m_outputs;
    bool m_rgb565 { false };
    bool m_broken { false };
    std::deque<Event> m_events;
};

}
