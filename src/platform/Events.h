#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace velloq::platform {

// Windows-style virtual key numbers, which the platform's keys are mapped to so that the program
// sees (and logs) the same numbers on every platform.
namespace VirtualKey {
constexpr uint32_t Back = 0x08;
constexpr uint32_t Tab = 0x09;
constexpr uint32_t Return = 0x0D;
constexpr uint32_t Shift = 0x10;
constexpr uint32_t Control = 0x11;
constexpr uint32_t Menu = 0x12;
constexpr uint32_t Escape = 0x1B;
constexpr uint32_t Space = 0x20;
constexpr uint32_t Prior = 0x21;
constexpr uint32_t Next = 0x22;
constexpr uint32_t End = 0x23;
constexpr uint32_t Home = 0x24;
constexpr uint32_t Left = 0x25;
constexpr uint32_t Up = 0x26;
constexpr uint32_t Right = 0x27;
constexpr uint32_t Down = 0x28;
constexpr uint32_t Insert = 0x2D;
constexpr uint32_t Delete = 0x2E;
constexpr uint32_t Digit0 = 0x30;
constexpr uint32_t LetterA = 0x41;
constexpr uint32_t Apps = 0x5D;
constexpr uint32_t F1 = 0x70;
// A desktop keyboard's Escape, apart from the phone's back key (Escape above), which a
// desktop's Backspace is not.
constexpr uint32_t KeyboardEscape = 0x1001B;
}

enum class EventKind {
    None,
    KeyDown,
    KeyUp,
    Text,          // characters typed, in `text`
    Composing,     // characters an input method is still composing, in `text` (empty: none)
    DeleteAround,  // an input method deletes `x` UTF-16 units before the caret and `y` after it
    PointerMove,
    PointerDown,
    PointerUp,
    CaptureLost,   // a pressed pointer lost its window before it was released
    Wheel,         // a wheel or touchpad scroll at `x`, `y`: `value` thousandths of a notch, > 0 down
    Pinch,         // two fingers moved apart or together around `x`, `y`: `value` the zoom factor in millionths
    Activated,
    Deactivated,
    CloseRequested,
    Quit,
    DisplayChanged, // screen size, orientation or work area changed
    Exposed,        // the window must be painted again
    Private,        // a message the program posted to itself: `code`, `value`
    Snapshot,       // write the current frame to the snapshot file
};

struct Event {
    EventKind kind { EventKind::None };
    uint32_t virtual_key { 0 };
    uint32_t scan_code { 0 };
    bool repeat { false };
    // A Control key was held with the key.
    bool control { false };
    bool shift { false };
    std::u16string text;
    int32_t x { 0 };
    int32_t y { 0 };
    uint32_t time { 0 };
    uint32_t code { 0 };
    int64_t value { 0 };
};

// Events the program reads from a display connection of its own, beside SDL's queue.
class EventSource {
public:
    virtual ~EventSource() = default;
    // Takes an event the source has ready, without waiting.
    virtual bool take(Event&) = 0;
    // Sleeps until the source may have events, `wake_fd` is readable (drained here), or
    // timeout_ms passes (< 0: no limit).
    virtual void wait(int timeout_ms, int wake_fd) = 0;
};

// The event queue of the process. `post_private` may be called from any thread; the waits are
// for the main thread. Events need only SDL's event and timer subsystems, so everything but the
// window works without a display.
class EventQueue {
public:
    EventQueue();
    ~EventQueue();
    EventQueue(EventQueue const&) = delete;
    EventQueue& operator=(EventQueue const&) = delete;

    bool ok() const;

    static void post_private(uint32_t code, int64_t value = 0);
    static void post(EventKind kind);

    // Takes the next event without waiting; false when none is queued.
    bool poll(Event&);
    // Waits for the next event; timeout_ms < 0 waits without limit. False on timeout.
    bool wait(Event&, int timeout_ms);
    // Reads `source` too, and waits on it instead of SDL (null: SDL alone again). Posted
    // messages wake the source's wait.
    void attach(EventSource*);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// A repeating timer that posts a private message (`code`) every `period_ms` from SDL's timer
// thread until it is stopped or destroyed.
class IntervalTimer {
public:
    IntervalTimer() = default;
    ~IntervalTimer();
    IntervalTimer(IntervalTimer const&) = delete;
    IntervalTimer& operator=(IntervalTimer const&) = delete;

    void start(uint32_t code, uint32_t period_ms);
    void stop();
    bool running() const { return m_id != 0; }

private:
    int m_id { 0 };
};

}
