#include "shell/Timer.h"

#include <algorithm>

#include "platform/Ticks.h"

namespace velloq {

Timer::Timer(std::function<void()> on_due)
    : m_on_due(std::move(on_due))
{
}

Timer::~Timer()
{
    cancel();
}

// Due times are compared on a wrapping 32-bit tick: a delay is at most half its range (24 days).
// A negative or not-a-number delay is due at once.
uint32_t Timer::delay_milliseconds(double seconds)
{
    constexpr double longest = 2147483647.0;
    double milliseconds = seconds * 1000 + 0.5;
    if (!(milliseconds >= 0))
        return 0;
    return static_cast<uint32_t>(std::min(milliseconds, longest));
}

void Timer::start(double seconds)
{
    auto* scheduler = CActiveScheduler::current();
    if (!scheduler)
        return;
    if (m_completion.is_active())
        scheduler->cancel(m_completion);
    m_completion.due_time = platform::tick_count() + delay_milliseconds(seconds);
    scheduler->add_timer(m_completion);
}

void Timer::cancel()
{
    if (auto* scheduler = CActiveScheduler::current(); scheduler && m_completion.is_active())
        scheduler->cancel(m_completion);
}

void Timer::Completion::run()
{
    // A copy: what runs may destroy the timer.
    auto on_due = m_timer.m_on_due;
    if (on_due)
        on_due();
}

void Timer::Completion::do_cancel()
{
    due_time = platform::tick_count();
    CActiveScheduler::current()->check_timers();
}

}
