#pragma once

#include "platform/FileDescriptor.h"
#include "platform/Worker.h"

namespace velloq::platform {

// Turns the signals a desktop or phone session sends a program into events of the main loop:
// SIGTERM and SIGINT become a close request, SIGUSR1 a snapshot request. The signals are read
// from a signalfd by a worker of its own, so no handler ever runs inside the program's own code.
class SignalWatcher {
public:
    // Blocks the watched signals in the calling thread; call it first thing in main(), before
    // any thread is started, so that every thread inherits the mask.
    static void block_watched_signals();

    SignalWatcher();
    ~SignalWatcher();
    SignalWatcher(SignalWatcher const&) = delete;
    SignalWatcher& operator=(SignalWatcher const&) = delete;

private:
    void watch(Worker&);

    FileDescriptor m_signals;
    // Declared last: it stops and joins before the rest goes.
    Worker m_worker;
};

}
