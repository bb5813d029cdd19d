#pragma once

#include "platform/ReadableWatch.h"
#include "shell/ActiveScheduler.h"

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace velloq {

// Reads the contacts folders' changes as soon as there are some, not at the next poll: a contact
// changed in the address book shows in the time its file takes to be read, while the program
// sleeps otherwise.
class ContactsWakeup final : public CActive {
public:
    // `changed` runs on the user-interface thread when the watched folders have changes; it
    // reads them and calls `watch` again.
    explicit ContactsWakeup(std::function<void()> changed);
    ~ContactsWakeup() override;

    void watch(std::vector<int> descriptors);
    bool running() const { return m_watch->running(); }

    // CActive.
    void run() override;
    void do_cancel() override;

private:
    void signal();

    std::function<void()> m_changed;
    CActiveScheduler* m_scheduler;
    std::atomic<bool> m_signalled { false };
    // Declared last: its thread ends before anything it calls back into goes.
    std::unique_ptr<platform::ReadableWatch> m_watch;
};

}
