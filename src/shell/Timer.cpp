#include "shell/Timer.h"

#include "platform/Ticks.h"

namespace velloq {

Timer::Timer(TimerListener& listener)
    : m_listener(listener)
{
}

Timer::~Timer()
{
    cancel();
}

void Timer::start(double seconds)
{
    auto* scheduler = CActiveScheduler::current();
    if (!scheduler)
        return;
    if (m_completion.is_active())
        scheduler->cancel(m_completion);
    m_completion.due_time = platform::tick_count() + static_cast<uint32_t>(seconds * 1000 + 0.5);
    scheduler->add_timer(m_completion);
}

void Timer::cancel()
{
    if (auto* scheduler = CActiveScheduler::current(); scheduler && m_completion.is_active())
        scheduler->cancel(m_completion);
}

void Timer::Completion::run()
{
    m_timer.m_listener.on_timer(m_timer);
}

void Timer::Completion::do_cancel()
{
    due_time = platform::tick_count();
    CActiveScheduler::current()->check_timers();
}

}
