#pragma once

#include "platform/Events.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>

namespace velloq {

class CActiveScheduler;

// Deferred work of the user-interface thread: an object asks for a completion (it becomes
// active); when the completion is signalled, from any thread or by a timer, the scheduler later
// calls `run` on the user-interface thread.
class CActive {
public:
    CActive();
    virtual ~CActive();
    CActive(CActive const&) = delete;
    CActive& operator=(CActive const&) = delete;

    // Called on the user-interface thread when the completion is processed.
    virtual void run() = 0;
    // Must make the pending completion happen soon; `cancel` waits for it.
    virtual void do_cancel() = 0;

    uint32_t id() const { return m_id; }
    bool is_active() const { return m_active.load(); }

    uint32_t due_time { 0 };

private:
    friend class CActiveScheduler;
    uint32_t m_id;
    std::atomic<bool> m_active { false };
};

// The scheduler of the user-interface thread. Completions reach it as private messages of the
// main loop, so deferred work runs between the window's own events.
class CActiveScheduler {
public:
    // The two private message codes the main loop hands back: one to process ready objects, one
    // for the timer check.
    static constexpr uint32_t process_message = 0x0400 + 5;
    static constexpr uint32_t timer_message = 0x0113'0100;

    CActiveScheduler();
    ~CActiveScheduler();
    CActiveScheduler(CActiveScheduler const&) = delete;
    CActiveScheduler& operator=(CActiveScheduler const&) = delete;

    // The scheduler of this process (the window object owns it); null while there is none.
    static CActiveScheduler* current();
    // Wakes the user-interface loop from any thread, so its forms look again at once (at the
    // answer of a search, say) instead of at the next still frame.
    static void wake_user_interface();

    void set_active(CActive&);
    // Signals the completion; may be called from any thread.
    void notify(CActive&);
    // Runs every object that is ready now, including those that `run` itself signals.
    void process_actives();
    // Makes an active object's completion happen and consumes it without calling `run`.
    void cancel(CActive&);

    // Timer objects: start one due at its `due_time`, and re-check them all.
    void add_timer(CActive&);
    void check_timers();

    int32_t active_count() const { return m_active_counter.load(); }

private:
    bool take_from_ready(CActive&);

    std::mutex m_mutex;
    std::condition_variable m_signalled;
    std::atomic<int32_t> m_active_counter { 0 };
    std::list<CActive*> m_ready;
    std::list<CActive*> m_timers;
    platform::IntervalTimer m_timer;
};

}
