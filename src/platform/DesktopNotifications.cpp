#include "platform/DesktopNotifications.h"

#include "platform/FileDescriptor.h"
#include "platform/SdBus.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <poll.h>
#include <unistd.h>

namespace velloq::platform {

namespace {

constexpr char const* service = "org.freedesktop.Notifications";
constexpr char const* object = "/org/freedesktop/Notifications";
// A service that does not answer in this time is taken as absent; the message itself is safe.
constexpr uint64_t call_timeout_us = 2'000'000;
constexpr int longest_timed_wait_ms = 60'000;

// D-Bus wants valid UTF-8 with no NUL; a message text is passed as it is otherwise.
std::string bus_text(std::string text)
{
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text;
}

// The connection, on the notifications' thread only: which notification carries which tag, and
// the service's signals.
class Session {
public:
    Session(Bus bus, DesktopNotifications::ActionHandler const& on_action, DesktopNotifications::LogHandler const& log)
        : m_bus(std::move(bus))
        , m_on_action(on_action)
        , m_log(log)
    {
        sd_bus_set_method_call_timeout(m_bus.get(), call_timeout_us);
        sd_bus_match_signal(m_bus.get(), nullptr, nullptr, object, service, "ActionInvoked", &Session::action_invoked, this);
        sd_bus_match_signal(m_bus.get(), nullptr, nullptr, object, service, "NotificationClosed", &Session::closed, this);
    }

    sd_bus* bus() const { return m_bus.get(); }

    void show(DesktopNotifications::Notification const& notification)
    {
        BusError error;
        sd_bus_message* answer = nullptr;
        std::string summary = bus_text(notification.summary), body = bus_text(notification.body), label = bus_text(notification.view_label);
        // The default action is a click on the notification itself; "view" is its button.
        int result = sd_bus_call_method(m_bus.get(), service, object, service, "Notify", error.get(), &answer, "susssasa{sv}i", "Velloq", uint32_t { 0 },
            "velloq", summary.c_str(), body.c_str(), 4, "default", label.c_str(), "view", label.c_str(), 2, "category", "s", "im.received",
            "desktop-entry", "s", "Velloq", int32_t { -1 });
        BusMessage reply(answer);
        uint32_t id = 0;
        if (result >= 0 && sd_bus_message_read(reply.get(), "u", &id) >= 0)
            m_tags[id] = notification.tag;
        else
            m_log(std::string("desktop notification not shown: ") + (error.message() ? error.message() : std::strerror(-result)));
    }

    void withdraw(std::string const& tag)
    {
        for (auto entry = m_tags.begin(); entry != m_tags.end();) {
            if (entry->second != tag) {
                ++entry;
                continue;
            }
            sd_bus_call_method(m_bus.get(), service, object, service, "CloseNotification", nullptr, nullptr, "u", entry->first);
            entry = m_tags.erase(entry);
        }
    }

private:
    static int action_invoked(sd_bus_message* message, void* data, sd_bus_error*)
    {
        auto* session = static_cast<Session*>(data);
        uint32_t id = 0;
        char const* action = nullptr;
        if (sd_bus_message_read(message, "us", &id, &action) < 0 || !action)
            return 0;
        auto found = session->m_tags.find(id);
        if (found != session->m_tags.end() && (std::strcmp(action, "default") == 0 || std::strcmp(action, "view") == 0))
            session->m_on_action(found->second);
        return 0;
    }

    static int closed(sd_bus_message* message, void* data, sd_bus_error*)
    {
        uint32_t id = 0, reason = 0;
        if (sd_bus_message_read(message, "uu", &id, &reason) >= 0)
            static_cast<Session*>(data)->m_tags.erase(id);
        return 0;
    }

    Bus m_bus;
    DesktopNotifications::ActionHandler const& m_on_action;
    DesktopNotifications::LogHandler const& m_log;
    std::map<uint32_t, std::string> m_tags;
};

// How long the bus may be left alone: until its next timeout, or until something comes (the
// wake-up descriptor brings requests and the stop), so an idle program never wakes for nothing.
int wait_ms(sd_bus* bus)
{
    uint64_t until = 0;
    if (sd_bus_get_timeout(bus, &until) < 0 || until == UINT64_MAX)
        return -1;
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t now_us = static_cast<uint64_t>(now.tv_sec) * 1'000'000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
    return until <= now_us ? 0 : static_cast<int>(std::min<uint64_t>((until - now_us + 999) / 1000, longest_timed_wait_ms));
}

}

DesktopNotifications::DesktopNotifications(ActionHandler on_action, LogHandler log)
    : m_on_action(std::move(on_action))
    , m_log(std::move(log))
    , m_worker([this](Worker& worker) { run(worker); })
{
}

DesktopNotifications::~DesktopNotifications() = default;

void DesktopNotifications::show(Notification notification)
{
    queue({ true, std::move(notification) });
}

void DesktopNotifications::withdraw(std::string const& tag)
{
    Request request { false, {} };
    request.notification.tag = tag;
    queue(std::move(request));
}

void DesktopNotifications::queue(Request request)
{
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(std::move(request));
    }
    m_worker.wake();
}

std::deque<DesktopNotifications::Request> DesktopNotifications::take_requests()
{
    std::deque<Request> requests;
    std::lock_guard lock(m_mutex);
    requests.swap(m_requests);
    return requests;
}

void DesktopNotifications::run(Worker& worker)
{
    sd_bus* opened = nullptr;
    int result = sd_bus_open_user(&opened);
    std::unique_ptr<Session> session;
    if (result >= 0)
        session = std::make_unique<Session>(Bus(opened), m_on_action, m_log);
    else
        m_log(std::string("desktop notifications: no session bus: ") + std::strerror(-result));
    for (;;) {
        // A hung service holds each call for its whole timeout: the stop request is looked at
        // between calls, not only once the queue is empty.
        for (Request const& request : take_requests()) {
            if (worker.stop_requested())
                return;
            if (session && request.show)
                session->show(request.notification);
            else if (session)
                session->withdraw(request.notification.tag);
        }
        while (session && !worker.stop_requested() && sd_bus_process(session->bus(), nullptr) > 0) { }
        pollfd bus[1] = { { session ? sd_bus_get_fd(session->bus()) : -1, static_cast<short>(session ? sd_bus_get_events(session->bus()) : 0), 0 } };
        if (!worker.wait(session ? wait_ms(session->bus()) : -1, bus))
            return;
    }
}

}
