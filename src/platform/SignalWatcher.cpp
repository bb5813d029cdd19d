#include "platform/SignalWatcher.h"

#include "platform/Events.h"

#include <pthread.h>
#include <signal.h>

namespace velloq::platform {

namespace {

// SIGUSR2 only wakes the watcher when it is to stop.
sigset_t watched_signals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGUSR2);
    return set;
}

}

void SignalWatcher::block_watched_signals()
{
    sigset_t set = watched_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher()
{
    block_watched_signals();
    m_thread = std::thread([this] { watch(); });
}

SignalWatcher::~SignalWatcher()
{
    m_stopping = true;
    pthread_kill(m_thread.native_handle(), SIGUSR2);
    m_thread.join();
}

void SignalWatcher::watch()
{
    sigset_t set = watched_signals();
    while (!m_stopping) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0)
            continue;
        if (signal == SIGTERM || signal == SIGINT)
            EventQueue::post(EventKind::CloseRequested);
        else if (signal == SIGUSR1)
            EventQueue::post(EventKind::Snapshot);
    }
}

}
