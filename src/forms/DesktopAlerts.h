#pragma once

#include "platform/DesktopNotifications.h"
#include "shell/ActiveScheduler.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velloq {

// On a desktop, a new message also raises the desktop's own notification, with the sender and
// the text and a "View" action; the chosen action comes back to the user-interface thread as
// the number of the chat to open.
class DesktopAlerts final : public CActive {
public:
    using Viewer = std::function<void(std::u16string const& number)>;
    explicit DesktopAlerts(Viewer view);
    ~DesktopAlerts() override;

    void show(std::u16string const& sender, std::u16string const& text, std::u16string const& view_label, std::u16string const& number);
    void withdraw(std::u16string const& number);

    // CActive: runs the views chosen since the last run.
    void run() override;
    void do_cancel() override;

private:
    void chosen_on_bus_thread(std::string const& number);
    void signal();

    Viewer m_view;
    CActiveScheduler* m_scheduler;
    std::mutex m_mutex;
    std::vector<std::string> m_chosen;
    std::atomic<bool> m_signalled { false };
    // Declared last: its thread ends before anything it calls back into goes.
    std::unique_ptr<platform::DesktopNotifications> m_bus;
};

}
