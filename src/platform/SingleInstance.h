#pragma once

#include "platform/FileDescriptor.h"
#include "platform/Worker.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace velloq::platform {

// The start-up lock of a program: a locked file that the first instance holds from its start
// until its main window exists, so a second start waits until it can find that window. The
// kernel drops the lock of a process that dies, so a crashed instance never blocks a new start.
class StartupLock {
public:
    // Waits for the lock without limit; null when the lock file cannot be made.
    static std::unique_ptr<StartupLock> acquire(std::string const& path);
    ~StartupLock();
    StartupLock(StartupLock const&) = delete;
    StartupLock& operator=(StartupLock const&) = delete;

private:
    explicit StartupLock(FileDescriptor);
    FileDescriptor m_file;
};

// What became of a command line handed to a running instance.
enum class HandOver {
    Delivered,  // the running instance queued it whole
    Refused,    // the running instance would not take it (too long)
    NoInstance, // nobody listens at the socket (none runs, or its owner died)
};

// The largest text a running instance takes, in UTF-16 code units (8 MiB of bytes).
constexpr size_t max_handed_over_units = 4 * 1024 * 1024;

// `peer` receives the process id of the instance that answered.
HandOver hand_over_to_running_instance(std::string const& socket_path, std::u16string const& text, int32_t& peer);

// The running instance's end of the socket: a thread accepts one connection at a time, reads a
// whole text, queues it and posts the private message `code` to the main loop, which takes the
// texts in arrival order. The thread never calls into the program.
class InstanceMailbox {
public:
    static std::unique_ptr<InstanceMailbox> open(std::string const& socket_path, uint32_t code, std::string& error);
    ~InstanceMailbox();
    InstanceMailbox(InstanceMailbox const&) = delete;
    InstanceMailbox& operator=(InstanceMailbox const&) = delete;

    // One received command line in arrival order; a refused one comes as its length alone.
    struct Received {
        std::u16string text;
        bool refused { false };
        uint64_t length { 0 };
    };
    std::optional<Received> take();

private:
    InstanceMailbox(FileDescriptor listener, std::string path, uint32_t code);
    void serve(Worker&);
    void receive(int connection);

    FileDescriptor m_listener;
    std::string m_path;
    uint32_t m_code;
    std::mutex m_mutex;
    std::deque<Received> m_received;
    // Declared last: it stops and joins before the rest goes.
    Worker m_worker;
};

}
