#include "platform/wayland/WaylandSeat.h"

#include "platform/Ticks.h"
#include "platform/Utf.h"
#include "platform/wayland/WaylandClipboard.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandTextInput.h"

#include <linux/input-event-codes.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace velloq::platform::wayland {

WaylandSeat::WaylandSeat(WaylandConnection& connection, Handle<wl_seat> seat)
    : m_connection(connection)
    , m_seat(std::move(seat))
{
    static constexpr wl_seat_listener listener { &WaylandSeat::seat_capabilities, &WaylandSeat::seat_name };
    wl_seat_add_listener(m_seat.get(), &listener, this);
}

WaylandSeat::~WaylandSeat() = default;

WaylandTextInput* WaylandSeat::text_input()
{
    if (!m_text_input && m_connection.text_input())
        m_text_input = std::make_unique<WaylandTextInput>(m_connection, zwp_text_input_manager_v3_get_text_input(m_connection.text_input(), m_seat.get()));
    return m_text_input.get();
}

WaylandClipboard* WaylandSeat::clipboard()
{
    if (!m_clipboard && m_connection.data_devices())
        m_clipboard = std::make_unique<WaylandClipboard>(m_connection, *this);
    return m_clipboard.get();
}

void WaylandSeat::seat_capabilities(void* data, wl_seat*, uint32_t capabilities)
{
    static_cast<WaylandSeat*>(data)->capabilities(capabilities);
}

void WaylandSeat::seat_name(void*, wl_seat*, char const*)
{
}

void WaylandSeat::capabilities(uint32_t capabilities)
{
    static constexpr wl_pointer_listener pointer_listener { &pointer_enter, &pointer_leave, &pointer_motion, &pointer_button, &pointer_axis,
        &pointer_frame, &pointer_axis_source, &pointer_axis_stop, &pointer_axis_discrete };
    static constexpr wl_touch_listener touch_listener { &touch_down, &touch_up, &touch_motion, &touch_frame, &touch_cancel, &touch_shape,
        &touch_orientation };
    static constexpr wl_keyboard_listener keyboard_listener { &keyboard_keymap, &keyboard_enter, &keyboard_leave, &keyboard_key,
        &keyboard_modifiers, &keyboard_repeat_info };
    bool pointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
    bool keyboard = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
    bool touch = capabilities & WL_SEAT_CAPABILITY_TOUCH;
    if (pointer && !m_pointer) {
        m_pointer.reset(wl_seat_get_pointer(m_seat.get()));
        wl_pointer_add_listener(m_pointer.get(), &pointer_listener, this);
    } else if (!pointer) {
        m_pointer.reset();
    }
    if (keyboard && !m_keyboard) {
        m_keyboard.reset(wl_seat_get_keyboard(m_seat.get()));
        wl_keyboard_add_listener(m_keyboard.get(), &keyboard_listener, this);
    } else if (!keyboard) {
        m_keyboard.reset();
        m_keys.let_go_all();
    }
    if (touch && !m_touch) {
        m_touch.reset(wl_seat_get_touch(m_seat.get()));
        wl_touch_add_listener(m_touch.get(), &touch_listener, this);
    } else if (!touch) {
        m_touch.reset();
        m_finger.reset();
    }
}

void WaylandSeat::press(int32_t x, int32_t y, uint32_t time)
{
    m_pressed = true;
    Event event { EventKind::PointerDown };
    event.x = x;
    event.y = y;
    event.time = time;
    m_connection.push(event);
}

void WaylandSeat::release(uint32_t time)
{
    if (!m_pressed)
        return;
    m_pressed = false;
    Event event { EventKind::PointerUp };
    event.x = m_pointer_x;
    event.y = m_pointer_y;
    event.time = time;
    m_connection.push(event);
}

// A press whose release will never come (a touch the compositor took for a gesture).
void WaylandSeat::lose_capture()
{
    if (!m_pressed)
        return;
    m_pressed = false;
    m_connection.push(Event { EventKind::CaptureLost });
}

void WaylandSeat::pointer_enter(void* data, wl_pointer*, uint32_t serial, wl_surface*, wl_fixed_t x, wl_fixed_t y)
{
    auto& self = *static_cast<WaylandSeat*>(data);
    self.m_last_serial = serial;
    pointer_motion(data, nullptr, tick_count(), x, y);
}

void WaylandSeat::pointer_leave(void*, wl_pointer*, uint32_t, wl_surface*)
{
}

void WaylandSeat::pointer_motion(void* data, wl_pointer*, uint32_t time, wl_fixed_t x, wl_fixed_t y)
{
    auto& self = *static_cast<WaylandSeat*>(data);
    self.m_pointer_x = wl_fixed_to_int(x);
    self.m_pointer_y = wl_fixed_to_int(y);
    Event event { EventKind::PointerMove };
    event.x = self.m_pointer_x;
    event.y = self.m_pointer_y;
    event.time = time;
    self.m_connection.push(event);
}

void WaylandSeat::pointer_button(void* data, wl_pointer*, uint32_t serial, uint32_t time, uint32_t button, uint32_t state)
{
    auto& self = *static_cast<WaylandSeat*>(data);
    self.m_last_serial = serial;
    if (button != BTN_LEFT)
        return;
    if (state == WL_POINTER_BUTTON_STATE_PRESSED)
        self.press(self.m_pointer_x, self.m_pointer_y, time);
    else
        self.release(time);
}

// Vertical scrolling is gathered over one pointer frame: a wheel's notches where the compositor
// counts them, else a touchpad's distance, 15 units to a notch as libinput counts a wheel's.
void WaylandSeat::pointer_axis(void* data, wl_pointer* pointer, uint32_t, uint32_t axis, wl_fixed_t value)
{
    auto& self = *static_cast<WaylandSeat*>(data);
    if (axis != WL_POINTER_AXIS_VERTICAL_SCROLL)
        return;
    self.m_scroll_distance += wl_fixed_to_double(value);
    // Before version 5 there are no frames: each event is one.
    if (wl_pointer_get_version(pointer) < WL_POINTER_FRAME_SINCE_VERSION)
        pointer_frame(data, pointer);
}

void WaylandSeat::pointer_frame(void* data, wl_pointer*)
{
    auto& self = *static_cast<WaylandSeat*>(data);
    double notches = self.m_scroll_notches != 0 ? self.m_scroll_notches : self.m_scroll_distance / 15.0;
    self.m_scroll_notches = 0;
    self.m_scroll_distance = 0;
    auto thousandths = static_cast<int64_t>(std::lround(notches * 1000.0));
    if (thousandths == 0)
        return;
    Event event { EventKind::Wheel };
    event.x = self.m_pointer_x;
    event.y = self.m_pointer_y;
    event.value = thousandths;
    self.m_connection.push(event);
}

void WaylandSeat::pointer_axis_source(void*, wl_pointer*, uint32_t)
{
}

void WaylandSeat::pointer_axis_stop(void*, wl_pointer*, uint32_t, uint32_t)
{
}

void WaylandSeat::pointer_axis_discrete(void* data, wl_pointer*, uint32_t axis, int32_t discrete)
{
    if (axis == WL_POINTER_AXIS_VERTICAL_SCROLL)
        static_cast<WaylandSeat*>(data)->m_scroll_notches += discrete;
}

// The first finger down is the pointer (the skin's gestures are one-finger taps, drags and
// flings); two fingers together are also followed as a pinch.
void WaylandSeat::touch_down(void* data, wl_touch*, uint32_t serial, uint32_t time, wl_surface*, int32_t id, wl_fixed_t x, wl_fixed_t y)
{
    auto& self = *static_cast<WaylandSeat*>(data);
    self.m_last_serial = serial;
    // A second finger makes the two a pinch: the first one's press is no tap any more.
    if (self.m_fingers.down(id, wl_fixed_to_double(x), wl_fixed_to_double(y)) && self.m_finger)
        self.lose_capture();
    if (self.m_finger)
        return;
    self.m_finger = id;
    self.m_pointer_x = wl_fixed_to_int(x);
    self.m_pointer_y = wl_fixed_to_int(y);
    Event move { EventKind::PointerMove };
    move.x = self.m_pointer_x;
    move.y = self.m_pointer_y;
    move.time = time;
    self.m_connection.push(move);
    self.press(self.m_pointer_x, self.m_pointer_y, time);
}

void WaylandSeat::touch_up(void* data, wl_touch*, uint32_t serial, uint32_t time, int32_t id)
{
    auto& self = *static_cast<WaylandSeat*>(data);
    self.m_last_serial = serial;
    self.m_fingers.up(id);
    if (self.m_finger != id)
        return;
    self.m_finger.reset();
    self.release(time);
}

void WaylandSeat::touch_motion(void* data, wl_touch*, uint32_t time, int32_t id, wl_fixed_t x, wl_fixed_t y)
{
    auto& self = *static_cast<WaylandSeat*>(data);
    if (auto pinch = self.m_fingers.moved(id, wl_fixed_to_double(x), wl_fixed_to_double(y), time))
        self.m_connection.push(*pinch);
    if (self.m_finger != id)
        return;
    pointer_motion(data, nullptr, time, x, y);
}

void WaylandSeat::touch_frame(void*, wl_touch*)
{
}

void WaylandSeat::touch_cancel(void* data, wl_touch*)
{
    auto& self = *static_cast<WaylandSeat*>(data);
    self.m_finger.reset();
    self.m_fingers.cancel();
    self.lose_capture();
}

void WaylandSeat::touch_shape(void*, wl_touch*, int32_t, wl_fixed_t, wl_fixed_t)
{
}

void WaylandSeat::touch_orientation(void*, wl_touch*, int32_t, wl_fixed_t)
{
}

void WaylandSeat::keyboard_keymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size)
{
    auto& self = *static_cast<WaylandSeat*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1)
        self.m_keys.load_keymap(fd, size);
    close(fd);
}

void WaylandSeat::keyboard_enter(void* data, wl_keyboard*, uint32_t serial, wl_surface*, wl_array*)
{
    auto& self = *static_cast<WaylandSeat*>(data);
    self.m_last_serial = serial;
    self.m_focused = true;
    self.m_connection.push(Event { EventKind::Activated });
}

void WaylandSeat::keyboard_leave(void* data, wl_keyboard*, uint32_t serial, wl_surface*)
{
    auto& self = *static_cast<WaylandSeat*>(data);
    self.m_last_serial = serial;
    self.m_focused = false;
    self.m_keys.let_go_all();
    self.lose_capture();
    self.m_connection.push(Event { EventKind::Deactivated });
}

void WaylandSeat::keyboard_key(void* data, wl_keyboard*, uint32_t serial, uint32_t time, uint32_t key, uint32_t state)
{
    auto& self = *static_cast<WaylandSeat*>(data);
    self.m_last_serial = serial;
    self.key(time, key, state == WL_KEYBOARD_KEY_STATE_PRESSED);
}

void WaylandSeat::key(uint32_t time, uint32_t key, bool down)
{
    send_key(time, key, down, false);
    if (down)
        m_keys.hold(key, tick_count());
    else
        m_keys.let_go(key);
}

void WaylandSeat::send_key(uint32_t time, uint32_t key, bool down, bool repeat)
{
    Event event { down ? EventKind::KeyDown : EventKind::KeyUp };
    event.virtual_key = m_keys.virtual_key(key);
    event.scan_code = key;
    event.repeat = repeat;
    event.control = m_keys.control();
    event.shift = m_keys.shift();
    event.time = time;
    m_connection.push(event);
    std::string typed = down ? m_keys.text(key) : std::string();
    if (typed.empty())
        return;
    Event text { EventKind::Text };
    text.text = to_utf16(typed);
    text.time = time;
    m_connection.push(text);
}

void WaylandSeat::keyboard_modifiers(void* data, wl_keyboard*, uint32_t serial, uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group)
{
    auto& self = *static_cast<WaylandSeat*>(data);
    self.m_last_serial = serial;
    self.m_keys.set_modifiers(depressed, latched, locked, group);
}

void WaylandSeat::keyboard_repeat_info(void* data, wl_keyboard*, int32_t rate, int32_t delay)
{
    static_cast<WaylandSeat*>(data)->m_keys.set_repeat(rate, delay);
}

int WaylandSeat::until_key_repeat(int timeout_ms) const
{
    auto until = m_keys.until_repeat(tick_count());
    if (!until)
        return timeout_ms;
    int repeat_in = static_cast<int>(*until);
    return timeout_ms < 0 ? repeat_in : std::min(timeout_ms, repeat_in);
}

void WaylandSeat::repeat_due_keys()
{
    if (auto key = m_keys.due_repeat(tick_count()))
        send_key(tick_count(), *key, true, true);
}

}
