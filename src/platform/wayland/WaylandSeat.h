#pragma once

#include "platform/wayland/WaylandHandles.h"
#include "platform/PinchTracker.h"
#include "platform/wayland/WaylandKeyboard.h"

#include <memory>
#include <optional>

namespace velloq::platform::wayland {

class WaylandConnection;
class WaylandClipboard;
class WaylandTextInput;

// The user's keyboard, pointer and touch screen, turned into the program's events: pointer and
// touch positions in the window's units (the window maps them to its frame), keys as virtual keys
// and the characters they type.
class WaylandSeat {
public:
    WaylandSeat(WaylandConnection&, Handle<wl_seat>);
    ~WaylandSeat();
    WaylandSeat(WaylandSeat const&) = delete;
    WaylandSeat& operator=(WaylandSeat const&) = delete;

    wl_seat* seat() const { return m_seat.get(); }
    // The serial of the user's last press, which a request for the clipboard must carry.
    uint32_t last_serial() const { return m_last_serial; }
    // The text input of the compositor (null where it offers none) and the clipboard.
    WaylandTextInput* text_input();
    WaylandClipboard* clipboard();
    // Whether the seat has a touch screen.
    bool has_touch() const { return m_touch != nullptr; }

    // How long a wait may last before a held key repeats.
    int until_key_repeat(int timeout_ms) const;
    // Sends the repeats of a held key whose time has come.
    void repeat_due_keys();

private:
    void capabilities(uint32_t);
    void press(int32_t x, int32_t y, uint32_t time);
    void release(uint32_t time);
    void lose_capture();
    void key(uint32_t time, uint32_t key, bool down);
    void send_key(uint32_t time, uint32_t key, bool down, bool repeat);

    static void seat_capabilities(void*, wl_seat*, uint32_t);
    static void seat_name(void*, wl_seat*, char const*);
    static void pointer_enter(void*, wl_pointer*, uint32_t serial, wl_surface*, wl_fixed_t x, wl_fixed_t y);
    static void pointer_leave(void*, wl_pointer*, uint32_t serial, wl_surface*);
    static void pointer_motion(void*, wl_pointer*, uint32_t time, wl_fixed_t x, wl_fixed_t y);
    static void pointer_button(void*, wl_pointer*, uint32_t serial, uint32_t time, uint32_t button, uint32_t state);
    static void pointer_axis(void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t);
    static void pointer_frame(void*, wl_pointer*);
    static void pointer_axis_source(void*, wl_pointer*, uint32_t);
    static void pointer_axis_stop(void*, wl_pointer*, uint32_t, uint32_t);
    static void pointer_axis_discrete(void*, wl_pointer*, uint32_t, int32_t);
    static void touch_down(void*, wl_touch*, uint32_t serial, uint32_t time, wl_surface*, int32_t id, wl_fixed_t x, wl_fixed_t y);
    static void touch_up(void*, wl_touch*, uint32_t serial, uint32_t time, int32_t id);
    static void touch_motion(void*, wl_touch*, uint32_t time, int32_t id, wl_fixed_t x, wl_fixed_t y);
    static void touch_frame(void*, wl_touch*);
    static void touch_cancel(void*, wl_touch*);
    static void touch_shape(void*, wl_touch*, int32_t, wl_fixed_t, wl_fixed_t);
    static void touch_orientation(void*, wl_touch*, int32_t, wl_fixed_t);
    static void keyboard_keymap(void*, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size);
    static void keyboard_enter(void*, wl_keyboard*, uint32_t serial, wl_surface*, wl_array*);
    static void keyboard_leave(void*, wl_keyboard*, uint32_t serial, wl_surface*);
    static void keyboard_key(void*, wl_keyboard*, uint32_t serial, uint32_t time, uint32_t key, uint32_t state);
    static void keyboard_modifiers(void*, wl_keyboard*, uint32_t serial, uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group);
    static void keyboard_repeat_info(void*, wl_keyboard*, int32_t rate, int32_t delay);

    WaylandConnection& m_connection;
    Handle<wl_seat> m_seat;
    Handle<wl_pointer> m_pointer;
    Handle<wl_keyboard> m_keyboard;
    Handle<wl_touch> m_touch;
    PinchTracker m_fingers;
    WaylandKeyboard m_keys;
    std::unique_ptr<WaylandTextInput> m_text_input;
    std::unique_ptr<WaylandClipboard> m_clipboard;
    uint32_t m_last_serial { 0 };
    int32_t m_pointer_x { 0 };
    int32_t m_pointer_y { 0 };
    // The finger that acts as the pointer: the first one down, until it is lifted.
    std::optional<int32_t> m_finger;
    bool m_pressed { false };
    // Vertical scrolling of the pointer frame under way: wheel notches, and distance.
    int32_t m_scroll_notches { 0 };
    double m_scroll_distance { 0 };
    bool m_focused { false };
};

}
