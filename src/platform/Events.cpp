#include "platform/Events.h"

#include "platform/PinchTracker.h"

#include "platform/SdlHandles.h"
#include "platform/Utf.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <optional>

namespace velloq::platform {

namespace {

std::atomic<Uint32> g_private_type { 0 };
std::atomic<Uint32> g_posted_type { 0 };

uint32_t virtual_key_of(SDL_Keycode key)
{
    if (key >= SDLK_a && key <= SDLK_z)
        return VirtualKey::LetterA + static_cast<uint32_t>(key - SDLK_a);
    if (key >= SDLK_0 && key <= SDLK_9)
        return VirtualKey::Digit0 + static_cast<uint32_t>(key - SDLK_0);
    if (key >= SDLK_KP_1 && key <= SDLK_KP_9)
        return VirtualKey::Digit0 + 1 + static_cast<uint32_t>(key - SDLK_KP_1);
    if (key >= SDLK_F1 && key <= SDLK_F12)
        return VirtualKey::F1 + static_cast<uint32_t>(key - SDLK_F1);
    switch (key) {
    case SDLK_KP_0: return VirtualKey::Digit0;
    case SDLK_BACKSPACE: return VirtualKey::Back;
    case SDLK_TAB: return VirtualKey::Tab;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return VirtualKey::Return;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return VirtualKey::Shift;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return VirtualKey::Control;
    case SDLK_LALT:
    case SDLK_RALT: return VirtualKey::Menu;
    case SDLK_ESCAPE: return VirtualKey::KeyboardEscape;
    case SDLK_AC_BACK: return VirtualKey::Escape;
    case SDLK_SPACE: return VirtualKey::Space;
    case SDLK_PAGEUP: return VirtualKey::Prior;
    case SDLK_PAGEDOWN: return VirtualKey::Next;
    case SDLK_END: return VirtualKey::End;
    case SDLK_HOME: return VirtualKey::Home;
    case SDLK_LEFT: return VirtualKey::Left;
    case SDLK_UP: return VirtualKey::Up;
    case SDLK_RIGHT: return VirtualKey::Right;
    case SDLK_DOWN: return VirtualKey::Down;
    case SDLK_INSERT: return VirtualKey::Insert;
    case SDLK_DELETE: return VirtualKey::Delete;
    case SDLK_APPLICATION:
    case SDLK_MENU: return VirtualKey::Apps;
    // A phone's volume keys are its F6 and F7.
    case SDLK_VOLUMEUP: return VirtualKey::F1 + 5;
    case SDLK_VOLUMEDOWN: return VirtualKey::F1 + 6;
    default:
        // Keys the program does not know keep a number of their own outside the table's range.
        return 0x10000u | (static_cast<uint32_t>(key) & 0xFFFFu);
    }
}

// Wakes a source's wait when a message is posted from any thread. It lives as long as the
// process: timer threads may post while a source is being detached.
class WakeSignal {
public:
    WakeSignal()
        : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
    }
    int fd() const { return m_fd; }
    void raise() const
    {
        uint64_t one = 1;
        if (m_fd >= 0 && write(m_fd, &one, sizeof one) < 0) {
            // Already raised as far as it goes: the waiter wakes anyway.
        }
    }

private:
    int m_fd;
};

WakeSignal& wake_signal()
{
    static WakeSignal signal;
    return signal;
}

std::atomic<bool> g_source_attached { false };

void wake_source()
{
    if (g_source_attached.load())
        wake_signal().raise();
}

Uint32 register_type(std::atomic<Uint32>& type)
{
    Uint32 current = type.load();
    if (current == 0) {
        current = SDL_RegisterEvents(1);
        type.store(current);
    }
    return current;
}

}

struct EventQueue::State {
    SdlSubsystems subsystems { SDL_INIT_EVENTS | SDL_INIT_TIMER };
    bool pointer_down { false };
    EventSource* source { nullptr };
    // An event that one platform event produced in second place, handed out before any other.
    std::optional<Event> pending;

    bool take_pending(Event& out)
    {
        if (!pending)
            return false;
        out = std::move(*pending);
        pending.reset();
        return true;
    }

    // The fingers of a touch screen SDL reports, in the window's units.
    PinchTracker fingers;

    bool translate(SDL_Event const&, Event&);
    bool translate_wheel(SDL_MouseWheelEvent const&, Event&);
    bool translate_finger(SDL_TouchFingerEvent const&, uint32_t type, Event&);
    bool translate_window(SDL_WindowEvent const&, Event&);
};

EventQueue::EventQueue()
    : m_state(std::make_unique<State>())
{
    if (m_state->subsystems.ok()) {
        register_type(g_private_type);
        register_type(g_posted_type);
    }
}

EventQueue::~EventQueue()
{
    attach(nullptr);
}

void EventQueue::attach(EventSource* source)
{
    m_state->source = source;
    g_source_attached.store(source != nullptr);
}

bool EventQueue::ok() const
{
    return m_state->subsystems.ok() && g_private_type != static_cast<Uint32>(-1);
}

void EventQueue::post_private(uint32_t code, int64_t value)
{
    SDL_Event event {};
    event.type = g_private_type.load();
    event.user.code = static_cast<Sint32>(code);
    event.user.data1 = reinterpret_cast<void*>(static_cast<intptr_t>(value));
    SDL_PushEvent(&event);
    wake_source();
}

void EventQueue::post(EventKind kind)
{
    SDL_Event event {};
    event.type = g_posted_type.load();
    event.user.code = static_cast<Sint32>(kind);
    SDL_PushEvent(&event);
    wake_source();
}

bool EventQueue::poll(Event& out)
{
    if (m_state->take_pending(out))
        return true;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (m_state->translate(event, out))
            return true;
    }
    return m_state->source && m_state->source->take(out);
}

bool EventQueue::wait(Event& out, int timeout_ms)
{
    if (m_state->take_pending(out))
        return true;
    uint32_t started = SDL_GetTicks();
    for (;;) {
        int remaining = timeout_ms;
        if (timeout_ms >= 0) {
            uint32_t spent = SDL_GetTicks() - started;
            if (spent >= static_cast<uint32_t>(timeout_ms))
                return poll(out);
            remaining = timeout_ms - static_cast<int>(spent);
        }
        if (m_state->source) {
            if (poll(out))
                return true;
            m_state->source->wait(remaining, wake_signal().fd());
            continue;
        }
        SDL_Event event;
        int got = remaining < 0 ? SDL_WaitEvent(&event) : SDL_WaitEventTimeout(&event, remaining);
        if (!got)
            return false;
        if (m_state->translate(event, out))
            return true;
    }
}

bool EventQueue::State::translate(SDL_Event const& event, Event& out)
{
    out = Event {};
    out.time = event.common.timestamp;
    if (event.type == g_private_type.load()) {
        out.kind = EventKind::Private;
        out.code = static_cast<uint32_t>(event.user.code);
        out.value = static_cast<int64_t>(reinterpret_cast<intptr_t>(event.user.data1));
        return true;
    }
    if (event.type == g_posted_type.load()) {
        out.kind = static_cast<EventKind>(event.user.code);
        return true;
    }
    switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        out.kind = event.type == SDL_KEYDOWN ? EventKind::KeyDown : EventKind::KeyUp;
        out.virtual_key = virtual_key_of(event.key.keysym.sym);
        out.scan_code = static_cast<uint32_t>(event.key.keysym.scancode);
        out.repeat = event.key.repeat != 0;
        out.control = (event.key.keysym.mod & KMOD_CTRL) != 0;
        out.shift = (event.key.keysym.mod & KMOD_SHIFT) != 0;
        return true;
    case SDL_TEXTINPUT:
        out.kind = EventKind::Text;
        out.text = to_utf16(event.text.text);
        return !out.text.empty();
    case SDL_MOUSEMOTION:
        out.kind = EventKind::PointerMove;
        out.x = event.motion.x;
        out.y = event.motion.y;
        return true;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (event.button.button != SDL_BUTTON_LEFT)
            return false;
        pointer_down = event.type == SDL_MOUSEBUTTONDOWN;
        out.kind = pointer_down ? EventKind::PointerDown : EventKind::PointerUp;
        out.x = event.button.x;
        out.y = event.button.y;
        return true;
    case SDL_MOUSEWHEEL:
        return translate_wheel(event.wheel, out);
    case SDL_FINGERDOWN:
    case SDL_FINGERUP:
    case SDL_FINGERMOTION:
        return translate_finger(event.tfinger, event.type, out);
    case SDL_QUIT:
        out.kind = EventKind::CloseRequested;
        return true;
    case SDL_DISPLAYEVENT:
        out.kind = EventKind::DisplayChanged;
        return true;
    case SDL_WINDOWEVENT:
        return translate_window(event.window, out);
    default:
        return false;
    }
}

// A wheel's notches, or a touchpad's fractions of one, at the pointer. SDL counts up as positive;
// the program counts toward later content (down) as positive.
bool EventQueue::State::translate_wheel(SDL_MouseWheelEvent const& wheel, Event& out)
{
    if (wheel.which == SDL_TOUCH_MOUSEID)
        return false;
    float notches = wheel.preciseY;
    if (wheel.direction == SDL_MOUSEWHEEL_FLIPPED)
        notches = -notches;
    out.kind = EventKind::Wheel;
    out.value = static_cast<int64_t>(std::lround(-notches * 1000.0f));
    out.x = wheel.mouseX;
    out.y = wheel.mouseY;
    return out.value != 0;
}

// One finger is the pointer (SDL makes mouse events of it); a second one makes the two a pinch,
// and the first finger's press is no tap any more.
bool EventQueue::State::translate_finger(SDL_TouchFingerEvent const& finger, uint32_t type, Event& out)
{
    SDL_Window* window = finger.windowID ? SDL_GetWindowFromID(finger.windowID) : SDL_GetMouseFocus();
    int width = 0;
    int height = 0;
    if (window)
        SDL_GetWindowSize(window, &width, &height);
    double x = finger.x * width;
    double y = finger.y * height;
    if (type == SDL_FINGERUP) {
        fingers.up(static_cast<int64_t>(finger.fingerId));
        return false;
    }
    if (type == SDL_FINGERDOWN) {
        if (!fingers.down(static_cast<int64_t>(finger.fingerId), x, y) || !pointer_down)
            return false;
        pointer_down = false;
        out.kind = EventKind::CaptureLost;
        return true;
    }
    auto pinch = fingers.moved(static_cast<int64_t>(finger.fingerId), x, y, finger.timestamp);
    if (!pinch)
        return false;
    out = *pinch;
    return true;
}

bool EventQueue::State::translate_window(SDL_WindowEvent const& window, Event& out)
{
    switch (window.event) {
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        out.kind = EventKind::Activated;
        return true;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        // A press whose release will never reach us: report the lost capture first.
        if (pointer_down) {
            pointer_down = false;
            out.kind = EventKind::CaptureLost;
            pending = Event { EventKind::Deactivated };
            pending->time = out.time;
            return true;
        }
        out.kind = EventKind::Deactivated;
        return true;
    case SDL_WINDOWEVENT_CLOSE:
        out.kind = EventKind::CloseRequested;
        return true;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        out.kind = EventKind::DisplayChanged;
        return true;
    case SDL_WINDOWEVENT_EXPOSED:
        out.kind = EventKind::Exposed;
        return true;
    default:
        return false;
    }
}

namespace {

Uint32 post_timer_message(Uint32 interval, void* code)
{
    EventQueue::post_private(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(code)));
    return interval;
}

}

IntervalTimer::~IntervalTimer()
{
    stop();
}

void IntervalTimer::start(uint32_t code, uint32_t period_ms)
{
    stop();
    m_id = SDL_AddTimer(period_ms == 0 ? 1 : period_ms, post_timer_message, reinterpret_cast<void*>(static_cast<uintptr_t>(code)));
}

void IntervalTimer::stop()
{
    if (m_id != 0)
        SDL_RemoveTimer(m_id);
    m_id = 0;
}

}
