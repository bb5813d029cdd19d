#include "platform/Ticks.h"
#include "shell/Application.h"
#include "shell/ApplicationListener.h"
#include "shell/EditElement.h"
#include "shell/GameBase.h"
#include "shell/Log.h"
#include "shell/Registry.h"

#include <algorithm>

namespace velloq {

namespace {

// The key message's parameter as the device builds it: repeat count 1, the scan code in bits
// 16-23, bit 30 when the key was already down, bit 31 on release.
int32_t key_parameter(platform::Event const& event, bool pressed)
{
    uint32_t parameter = 1 | (event.scan_code & 0xFFu) << 16;
    if (event.repeat || !pressed)
        parameter |= 1u << 30;
    if (!pressed)
        parameter |= 1u << 31;
    return static_cast<int32_t>(parameter);
}

size_t code_point_length(std::u16string const& text, size_t at)
{
    bool pair = at + 1 < text.size() && (text[at] & 0xFC00) == 0xD800 && (text[at + 1] & 0xFC00) == 0xDC00;
    return pair ? 2 : 1;
}

}

void GameBase::key_message(platform::Event const& event)
{
    m_asleep = false;
    KeyEvent key;
    key.code = key_code_from_virtual_key(event.virtual_key, event.shift);
    key.pressed = event.kind == platform::EventKind::KeyDown;
    key.first = key.pressed ? !event.repeat : true;
    key.control = event.control;
    key.shift = event.shift;
    log() << (key.pressed ? u"WM_KEYDOWN = " : u"WM_KEYUP = ") << event.virtual_key << u"(" << key.code << u")"
          << u" lParam=" << key_parameter(event, key.pressed) << u" ticks=" << platform::tick_count() << u"\n";
    if (auto* listener = m_application.listener(); listener && listener->on_key(key))
        return;
    m_application.key(key);
}

void GameBase::text_message(platform::Event const& event)
{
    for (size_t at = 0; at < event.text.size();) {
        size_t length = code_point_length(event.text, at);
        std::u16string character = event.text.substr(at, length);
        at += length;
        log() << u"WM_CHAR=" << character << u" lParam=" << 1 << u" ticks=" << platform::tick_count() << u"\n";
        // Control characters never reach the form: Enter and Backspace arrive as keys.
        if (character[0] >= 32 && character[0] != 127)
            m_application.text_input(character);
    }
}

void GameBase::input_method_message(platform::Event const& event)
{
    if (!m_edit)
        return;
    if (event.kind == platform::EventKind::Composing) {
        log() << u"WM_IME_COMPOSITION " << event.text.size() << u"\n";
        m_edit->edit_compose(event.text);
    } else {
        log() << u"WM_IME_DELETE " << event.x << u" " << event.y << u"\n";
        m_edit->edit_delete_around(static_cast<size_t>(std::max(0, event.x)), static_cast<size_t>(std::max(0, event.y)));
    }
    m_application.set_needs_redraw();
}

void GameBase::tell_input_method()
{
    if (m_edit && m_window)
        m_window->set_input_text(m_edit->edit_text(), m_edit->edit_caret());
}

void GameBase::pointer_message(platform::Event const& event)
{
    using platform::EventKind;
    // A resized window shows the frame scaled: the pointer is taken back to the frame's pixels.
    auto [x, y] = m_window ? m_window->to_frame(event.x, event.y) : std::pair<int32_t, int32_t> { event.x, event.y };
    PointerEvent pointer { x, y, event.time, false, false };
    switch (event.kind) {
    case EventKind::PointerMove:
        m_asleep = false;
        m_application.pointer_move(pointer);
        break;
    case EventKind::PointerDown:
        m_last_release_x = no_release;
        m_last_release_y = no_release;
        m_pointer_captured = true;
        m_asleep = false;
        pointer.pressed = true;
        m_application.pointer_button(pointer);
        break;
    case EventKind::PointerUp:
        if (!m_pointer_captured)
            break;
        m_last_release_x = x;
        m_last_release_y = y;
        release_pointer(event.time);
        break;
    case EventKind::CaptureLost:
        if (m_pointer_captured)
            release_pointer(event.time);
        break;
    case EventKind::Wheel:
        m_asleep = false;
        m_application.wheel(pointer, static_cast<int32_t>(std::clamp<int64_t>(event.value, -100 * wheel_notch, 100 * wheel_notch)));
        break;
    case EventKind::Pinch:
        m_asleep = false;
        m_application.pinch(pointer, std::clamp(static_cast<double>(event.value) / 1e6, 0.1, 10.0));
        break;
    default:
        break;
    }
}

// The release reaches the form when the window loses its capture: at the last release position,
// cancelled when no release was seen since the press.
void GameBase::release_pointer(uint32_t time)
{
    m_pointer_captured = false;
    m_asleep = false;
    PointerEvent pointer { m_last_release_x, m_last_release_y, time, false, false };
    pointer.cancelled = m_last_release_x == no_release && m_last_release_y == no_release;
    m_application.pointer_button(pointer);
}

void GameBase::set_edit(EditElement* element, bool create)
{
    EditElement* previous = m_edit;
    m_edit = element;
    if (!previous && element) {
        // Typing runs in the windowed layout, where the system's keyboard can be shown.
        drop_display();
        // The window shows what the display presented, which this layout has not seen.
        m_window_rows.forget();
        m_window_timer.start(window_timer_message, window_timer_period_ms);
        apply_window_placement();
        m_edit_rect = {};
    }
    if (element) {
        m_application.set_needs_redraw();
        Rect rect = element->edit_rect();
        if (element != previous || !(rect == m_edit_rect)) {
            m_edit_rect = rect;
            if (m_window && (create || m_sip_preference != 0 || previous))
                m_window->start_text_input({ { rect.left, rect.top, rect.width, rect.height }, element->edit_multi_line() });
        }
        if (element != previous)
            element->edit_caret_to_end();
        tell_input_method();
    }
    if (previous && !element)
        end_text_entry();
}

void GameBase::end_text_entry()
{
    if (!m_windowed) {
        create_display();
        if (m_display)
            m_window_timer.stop();
        if (!m_game_input)
            set_game_input(false);
    }
    apply_window_placement();
    m_sip_preference = m_window && m_window->screen_keyboard_shown() ? 1 : 0;
    reg_set_int(registry_key::vendor, u"SIPPreference", m_sip_preference);
    if (m_window)
        m_window->stop_text_input();
}

}
