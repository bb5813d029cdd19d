#pragma once

#include "platform/Worker.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace velloq::platform {

// The desktop's notification service (org.freedesktop.Notifications on the session bus), spoken
// to from a thread of its own that owns the bus connection: a call never waits on the user
// interface, and the answers of the service come back through `on_action`, on that thread.
// Without a session bus or a service, notifications are dropped with a log line and nothing
// else changes.
class DesktopNotifications {
public:
    struct Notification {
        std::string summary;
        std::string body;
        std::string view_label; // the text of the action button
        std::string tag;        // what `on_action` gets back
    };
    // Called on the notifications' thread with the tag of a notification whose action (a click on
    // it or on its button) the user chose.
    using ActionHandler = std::function<void(std::string const& tag)>;
    using LogHandler = std::function<void(std::string const& line)>;

    DesktopNotifications(ActionHandler on_action, LogHandler log);
    ~DesktopNotifications();
    DesktopNotifications(DesktopNotifications const&) = delete;
    DesktopNotifications& operator=(DesktopNotifications const&) = delete;

    void show(Notification notification);
    // Withdraws the notifications shown with this tag (the message was read another way).
    void withdraw(std::string const& tag);

private:
    struct Request {
        bool show { true };
        Notification notification;
    };
    void run(Worker&);
    void queue(Request request);
    std::deque<Request> take_requests();

    ActionHandler m_on_action;
    LogHandler m_log;
    std::mutex m_mutex;
    std::deque<Request> m_requests;
    // Declared last: it stops and joins before the rest goes.
    Worker m_worker;
};

}
