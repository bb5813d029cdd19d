#pragma once

#include "platform/Window.h"
#include "platform/wayland/WaylandBuffers.h"
#include "platform/wayland/WaylandHandles.h"

#include <memory>
#include <set>
#include <string>

namespace velloq::platform::wayland {

class WaylandConnection;

// The program's window as an xdg-shell toplevel of its own Wayland connection. It takes the size
// the compositor gives it (a phone's whole screen, a desktop window the user resizes) and the
// output's scale, and gives the program a screen of that many device pixels, so the forms are
// laid out for it and drawn crisp; frames go out in shared memory, changed rows only.
class WaylandWindow final : public Window {
public:
    static std::unique_ptr<WaylandWindow> create(WaylandConnection&, std::string const& title, ScreenMetrics const& screen, std::string& error,
        bool hidden);
    ~WaylandWindow() override;

    uint32_t id() const override { return 1; }
    bool prepare_frames(int width, int height, std::string& error) override;
    bool present(uint16_t const* pixels, int pitch_bytes, int width, int height, FrameRect changed) override;
    std::pair<int32_t, int32_t> to_frame(int32_t x, int32_t y) const override;
    std::optional<ScreenMetrics> screen() const override;

    void start_text_input(TextField const&) override;
    void set_input_text(std::u16string const&, size_t caret) override;
    void stop_text_input() override;
    // The compositor makes room for its keyboard by giving the window a smaller size.
    bool has_screen_keyboard() const override { return false; }
    bool touch_first() const override;
    bool screen_keyboard_shown() const override;
    void raise() override;
    void minimize() override;
    void hide() override;

    // The scale the window is drawn at, in 120ths (240: twice the window's units).
    int32_t scale_120() const { return m_scale_120; }
    // How many shared-memory buffers the window has (a test's view of its buffering).
    WaylandBuffers const& buffers() const { return m_buffers; }

private:
    WaylandWindow(WaylandConnection&, std::string title, int32_t width, int32_t height);
    bool show(std::string& error);
    void drop_role();
    void commit(WaylandBuffers::Buffer*);
    void place_buffer(int width, int height);
    void set_scale_120(int32_t);
    void follow_outputs();
    int32_t device_pixels(int32_t units) const;

    static void surface_enter(void*, wl_surface*, wl_output*);
    static void surface_leave(void*, wl_surface*, wl_output*);
    static void surface_configure(void*, xdg_surface*, uint32_t serial);
    static void toplevel_configure(void*, xdg_toplevel*, int32_t width, int32_t height, wl_array* states);
    static void toplevel_close(void*, xdg_toplevel*);
    static void frame_done(void*, wl_callback*, uint32_t);
    static void preferred_scale(void*, wp_fractional_scale_v1*, uint32_t scale);
    static void activation_done(void*, xdg_activation_token_v1*, char const* token);

    WaylandConnection& m_connection;
    std::string m_title;
    Handle<wl_surface> m_surface;
    Handle<wp_viewport> m_viewport;
    Handle<wp_fractional_scale_v1> m_fractional;
    Handle<xdg_surface> m_xdg_surface;
    Handle<xdg_toplevel> m_toplevel;
    Handle<zxdg_toplevel_decoration_v1> m_decoration;
    Handle<wl_callback> m_frame_callback;
    Handle<xdg_activation_token_v1> m_activation_token;
    WaylandBuffers m_buffers;
    // A frame written while the compositor had not asked for the next one: sent when it does.
    WaylandBuffers::Buffer* m_unsent { nullptr };
    int m_damage_first { 0 };
    int m_damage_end { 0 };
    bool m_configured { false };
    // The window's size in its units, and what the compositor asked for last.
    int32_t m_width;
    int32_t m_height;
    int32_t m_asked_width { 0 };
    int32_t m_asked_height { 0 };
    int32_t m_scale_120 { 120 };
    bool m_fractional_given { false };
    std::set<wl_output*> m_outputs;
    int m_frame_width { 0 };
    int m_frame_height { 0 };
    int m_placed_width { 0 };
    int m_placed_height { 0 };
};

}
