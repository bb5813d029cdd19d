#include "forms/ContactsWakeup.h"

namespace velloq {

ContactsWakeup::ContactsWakeup(std::function<void()> changed)
    : m_changed(std::move(changed))
    , m_scheduler(CActiveScheduler::current())
{
    if (m_scheduler)
        m_scheduler->set_active(*this);
    m_watch = std::make_unique<platform::ReadableWatch>([this] { signal(); });
}

ContactsWakeup::~ContactsWakeup()
{
    m_watch.reset();
    if (m_scheduler)
        m_scheduler->cancel(*this);
}

void ContactsWakeup::watch(std::vector<int> descriptors)
{
    m_watch->watch(std::move(descriptors));
}

// Called from the watch's thread; one completion until `run` takes it.
void ContactsWakeup::signal()
{
    if (m_scheduler && !m_signalled.exchange(true))
        m_scheduler->notify(*this);
}

void ContactsWakeup::run()
{
    m_scheduler->set_active(*this);
    m_signalled = false;
    m_changed();
}

void ContactsWakeup::do_cancel()
{
    signal();
}

}
