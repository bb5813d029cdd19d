#pragma once

#include "shell/ActiveScheduler.h"

#include <functional>

namespace velloq {

// A one-shot timer on the user-interface thread: `on_due` runs when it is due. Starting it again
// restarts it from now; destroying it cancels it.
class Timer {
public:
    explicit Timer(std::function<void()> on_due);
    ~Timer();
    Timer(Timer const&) = delete;
    Timer& operator=(Timer const&) = delete;

    // The delay of `start` in milliseconds, clamped to what the scheduler's clock can tell.
    static uint32_t delay_milliseconds(double seconds);
    void start(double seconds);
    void cancel();
    bool is_running() const { return m_completion.is_active(); }

private:
    class Completion final : public CActive {
    public:
        explicit Completion(Timer& timer)
            : m_timer(timer)
        {
        }
        void run() override;
        void do_cancel() override;

    private:
        Timer& m_timer;
    };

    std::function<void()> m_on_due;
    Completion m_completion { *this };
};

}
