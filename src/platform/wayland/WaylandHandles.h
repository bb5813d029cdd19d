#pragma once

#include <fractional-scale-v1-client-protocol.h>
#include <text-input-unstable-v3-client-protocol.h>
#include <viewporter-client-protocol.h>
#include <wayland-client.h>
#include <xdg-activation-v1-client-protocol.h>
#include <xdg-decoration-unstable-v1-client-protocol.h>
#include <xdg-shell-client-protocol.h>

#include <memory>

namespace velloq::platform::wayland {

// How each protocol object is let go: by its request that tells the compositor, where it has one.
inline void destroy(wl_registry* p) { wl_registry_destroy(p); }
inline void destroy(wl_compositor* p) { wl_compositor_destroy(p); }
inline void destroy(wl_shm* p) { wl_shm_destroy(p); }
inline void destroy(wl_shm_pool* p) { wl_shm_pool_destroy(p); }
inline void destroy(wl_buffer* p) { wl_buffer_destroy(p); }
inline void destroy(wl_surface* p) { wl_surface_destroy(p); }
inline void destroy(wl_callback* p) { wl_callback_destroy(p); }
inline void destroy(wl_output* p)
{
    if (wl_output_get_version(p) >= WL_OUTPUT_RELEASE_SINCE_VERSION)
        wl_output_release(p);
    else
        wl_output_destroy(p);
}
inline void destroy(wl_seat* p)
{
    if (wl_seat_get_version(p) >= WL_SEAT_RELEASE_SINCE_VERSION)
        wl_seat_release(p);
    else
        wl_seat_destroy(p);
}
inline void destroy(wl_pointer* p)
{
    if (wl_pointer_get_version(p) >= WL_POINTER_RELEASE_SINCE_VERSION)
        wl_pointer_release(p);
    else
        wl_pointer_destroy(p);
}
inline void destroy(wl_keyboard* p)
{
    if (wl_keyboard_get_version(p) >= WL_KEYBOARD_RELEASE_SINCE_VERSION)
        wl_keyboard_release(p);
    else
        wl_keyboard_destroy(p);
}
inline void destroy(wl_touch* p)
{
    if (wl_touch_get_version(p) >= WL_TOUCH_RELEASE_SINCE_VERSION)
        wl_touch_release(p);
    else
        wl_touch_destroy(p);
}
inline void destroy(wl_data_device_manager* p) { wl_data_device_manager_destroy(p); }
inline void destroy(wl_data_device* p)
{
    if (wl_data_device_get_version(p) >= WL_DATA_DEVICE_RELEASE_SINCE_VERSION)
        wl_data_device_release(p);
    else
        wl_data_device_destroy(p);
}
inline void destroy(wl_data_offer* p) { wl_data_offer_destroy(p); }
inline void destroy(wl_data_source* p) { wl_data_source_destroy(p); }
inline void destroy(xdg_wm_base* p) { xdg_wm_base_destroy(p); }
inline void destroy(xdg_surface* p) { xdg_surface_destroy(p); }
inline void destroy(xdg_toplevel* p) { xdg_toplevel_destroy(p); }
inline void destroy(wp_viewporter* p) { wp_viewporter_destroy(p); }
inline void destroy(wp_viewport* p) { wp_viewport_destroy(p); }
inline void destroy(wp_fractional_scale_manager_v1* p) { wp_fractional_scale_manager_v1_destroy(p); }
inline void destroy(wp_fractional_scale_v1* p) { wp_fractional_scale_v1_destroy(p); }
inline void destroy(zxdg_decoration_manager_v1* p) { zxdg_decoration_manager_v1_destroy(p); }
inline void destroy(zxdg_toplevel_decoration_v1* p) { zxdg_toplevel_decoration_v1_destroy(p); }
inline void destroy(xdg_activation_v1* p) { xdg_activation_v1_destroy(p); }
inline void destroy(xdg_activation_token_v1* p) { xdg_activation_token_v1_destroy(p); }
inline void destroy(zwp_text_input_manager_v3* p) { zwp_text_input_manager_v3_destroy(p); }
inline void destroy(zwp_text_input_v3* p) { zwp_text_input_v3_destroy(p); }

struct ProtocolObjectDeleter {
    template <typename T>
    void operator()(T* p) const { destroy(p); }
};

// An owned protocol object.
template <typename T>
using Handle = std::unique_ptr<T, ProtocolObjectDeleter>;

struct DisplayDeleter {
    void operator()(wl_display* display) const { wl_display_disconnect(display); }
};
using DisplayHandle = std::unique_ptr<wl_display, DisplayDeleter>;

}
