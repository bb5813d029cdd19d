#pragma once

#include "platform/FileDescriptor.h"

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace velloq::platform {

// Calls `ready` from a thread of its own when one of the descriptors it watches has something
// to read (or was closed), so that a loop can sleep until then instead of looking now and then.
// It calls once, then waits until `watch` gives it descriptors again (the reader has read them).
class ReadableWatch {
public:
    explicit ReadableWatch(std::function<void()> ready);
    ~ReadableWatch();
    ReadableWatch(ReadableWatch const&) = delete;
    ReadableWatch& operator=(ReadableWatch const&) = delete;

    // The descriptors to watch from now on; they stay the caller's.
    void watch(std::vector<int> descriptors);
    // False when its thread could not be started: the caller looks by itself.
    bool running() const { return m_thread.joinable(); }

private:
    void run();
    void poke();

    std::function<void()> m_ready;
    FileDescriptor m_control;
    std::mutex m_mutex;
    std::vector<int> m_descriptors;
    bool m_armed { false };
    bool m_stopping { false };
    std::thread m_thread;
};

}
