#pragma once

#include "platform/FileDescriptor.h"

#include <functional>
#include <span>
#include <stop_token>
#include <thread>

struct pollfd;

namespace velloq::platform {

// A thread an object keeps for its background work. It sleeps until woken (an eventfd), until
// something it watches is ready or its time is up; it is asked to stop and joined when the
// worker ends, so a thread never outlives what it works on. Work of many items checks
// `stop_requested()` between them, so a stop waits for one item at most.
//
// The worker starts its thread at once: declare it after everything its work uses.
class Worker {
public:
    using Work = std::function<void(Worker&)>;
    explicit Worker(Work work);
    ~Worker();
    Worker(Worker const&) = delete;
    Worker& operator=(Worker const&) = delete;

    void wake();
    bool stop_requested() const { return m_stop.stop_requested(); }
    // On the worker's thread: sleeps until woken, stopped, `timeout_ms` passed (-1: no limit) or
    // one of `watched` is ready (their `revents` say which). False once stopped, or when the system
    // cannot wait at all. Without an
    // eventfd (the system refused one) it looks for the stop request every 100 ms.
    bool wait(int timeout_ms = -1, std::span<pollfd> watched = {});

private:
    FileDescriptor m_wake;
    std::stop_source m_stop;
    // Declared last: it starts after the rest is made.
    std::thread m_thread;
};

}
