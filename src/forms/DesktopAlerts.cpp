#include "forms/DesktopAlerts.h"

#include "platform/Utf.h"
#include "shell/Log.h"

namespace velloq {

namespace {

// A notification shows a few lines; the rest of a long text is the chat's to show.
constexpr size_t longest_body = 300;

}

DesktopAlerts::DesktopAlerts(Viewer view)
    : m_view(std::move(view))
    , m_scheduler(CActiveScheduler::current())
{
    if (m_scheduler)
        m_scheduler->set_active(*this);
    m_bus = std::make_unique<platform::DesktopNotifications>([this](std::string const& number) { chosen_on_bus_thread(number); },
        [](std::string const& line) { log() << to_utf16(line) << u"\n"; });
}

DesktopAlerts::~DesktopAlerts()
{
    m_bus.reset();
    if (m_scheduler)
        m_scheduler->cancel(*this);
}

void DesktopAlerts::show(std::u16string const& sender, std::u16string const& text, std::u16string const& view_label, std::u16string const& number)
{
    std::u16string body = text.size() > longest_body ? text.substr(0, longest_body) + u"…" : text;
    m_bus->show({ to_utf8(sender), to_utf8(body), to_utf8(view_label), to_utf8(number) });
    log() << u"desktop notification: " << sender << u"\n";
}

void DesktopAlerts::withdraw(std::u16string const& number)
{
    m_bus->withdraw(to_utf8(number));
}

void DesktopAlerts::chosen_on_bus_thread(std::string const& number)
{
    {
        std::lock_guard lock(m_mutex);
        m_chosen.push_back(number);
    }
    signal();
}

// One completion stands for any number of choices until `run` takes them.
void DesktopAlerts::signal()
{
    if (m_scheduler && !m_signalled.exchange(true))
        m_scheduler->notify(*this);
}

void DesktopAlerts::run()
{
    m_scheduler->set_active(*this);
    m_signalled = false;
    std::vector<std::string> chosen;
    {
        std::lock_guard lock(m_mutex);
        chosen.swap(m_chosen);
    }
    for (auto const& number : chosen)
        m_view(to_utf16(number));
}

void DesktopAlerts::do_cancel()
{
    signal();
}

}
