#include "shell/ActiveScheduler.h"

#include "platform/Ticks.h"
#include "platform/Utf.h"
#include "shell/Fatal.h"

#include <algorithm>

namespace velloq {

namespace {

std::atomic<uint32_t> g_next_active_id { 0 };
CActiveScheduler* g_current_scheduler { nullptr };

constexpr int32_t no_timer_due = 10'000'000;

std::u16string number(int64_t value)
{
    return to_u16_decimal(value);
}

}

CActive::CActive()
    : m_id(++g_next_active_id)
{
}

CActive::~CActive()
{
    if (m_active)
        fatal(u"CActive::~CActive()", u"Active object " + number(m_id) + u" is already active");
}

CActiveScheduler::CActiveScheduler()
{
    g_current_scheduler = this;
}

CActiveScheduler::~CActiveScheduler()
{
    m_timer.stop();
    if (g_current_scheduler == this)
        g_current_scheduler = nullptr;
    if (m_active_counter != 0)
        fatal(u"", u"Some active objects still live while scheduler is terminating active_counter=" + number(m_active_counter));
}

CActiveScheduler* CActiveScheduler::current()
{
    return g_current_scheduler;
}

void CActiveScheduler::set_active(CActive& object)
{
    if (object.m_active)
        fatal(u"CActiveScheduler::set_active()", u"Object " + number(object.id()) + u" is already active");
    object.m_active = true;
    ++m_active_counter;
}

void CActiveScheduler::wake_user_interface()
{
    platform::EventQueue::post_private(process_message);
}

void CActiveScheduler::notify(CActive& object)
{
    if (!object.m_active)
        fatal(u"CActiveScheduler::notify()", u"Active object " + number(object.id()) + u" is not active");
    {
        std::lock_guard lock(m_mutex);
        m_ready.push_back(&object);
    }
    m_signalled.notify_all();
    platform::EventQueue::post_private(process_message);
}

void CActiveScheduler::process_actives()
{
    for (;;) {
        CActive* object;
        {
            std::lock_guard lock(m_mutex);
            if (m_ready.empty())
                return;
            object = m_ready.front();
            m_ready.pop_front();
        }
        if (!object->m_active)
            fatal(u"CActiveScheduler::process_actives()", u"Active object " + number(object->id()) + u" is not marked active");
        object->m_active = false;
        --m_active_counter;
        object->run();
    }
}

bool CActiveScheduler::take_from_ready(CActive& object)
{
    auto found = std::find(m_ready.begin(), m_ready.end(), &object);
    if (found == m_ready.end())
        return false;
    m_ready.erase(found);
    object.m_active = false;
    --m_active_counter;
    return true;
}

void CActiveScheduler::cancel(CActive& object)
{
    if (!object.m_active)
        return;
    object.do_cancel();
    // The completion may come from another thread: wait for it here while the main loop's other
    // messages stay queued. Others made ready meanwhile keep their posted messages.
    std::unique_lock lock(m_mutex);
    m_signalled.wait(lock, [&] { return take_from_ready(object); });
}

void CActiveScheduler::add_timer(CActive& object)
{
    set_active(object);
    m_timers.push_back(&object);
    check_timers();
}

void CActiveScheduler::check_timers()
{
    m_timer.stop();
    uint32_t now = platform::tick_count();
    int32_t nearest = no_timer_due;
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        int32_t remaining = static_cast<int32_t>((*it)->due_time - now);
        if (remaining < 1) {
            CActive* due = *it;
            it = m_timers.erase(it);
            notify(*due);
            continue;
        }
        nearest = std::min(nearest, remaining);
        ++it;
    }
    if (nearest < no_timer_due)
        m_timer.start(timer_message, static_cast<uint32_t>(nearest));
}

}
