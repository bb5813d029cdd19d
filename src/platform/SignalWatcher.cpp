#include "platform/SignalWatcher.h"

#include "platform/Events.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace velloq::platform {

namespace {

sigset_t watched_signals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGUSR1);
    return set;
}

// Blocked, the watched signals wait for the signalfd: the set is made before any thread starts.
int signal_descriptor()
{
    SignalWatcher::block_watched_signals();
    sigset_t set = watched_signals();
    int descriptor = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    // Without one the signals keep their default actions: a stop request still ends the program.
    if (descriptor < 0)
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    return descriptor;
}

}

void SignalWatcher::block_watched_signals()
{
    sigset_t set = watched_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher()
    : m_signals(signal_descriptor())
    , m_worker([this](Worker& worker) { watch(worker); })
{
}

SignalWatcher::~SignalWatcher() = default;

void SignalWatcher::watch(Worker& worker)
{
    pollfd signals[1] = { { m_signals.get(), POLLIN, 0 } };
    while (worker.wait(-1, signals)) {
        signalfd_siginfo info {};
        while (::read(m_signals.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT)
                EventQueue::post(EventKind::CloseRequested);
            else if (info.ssi_signo == SIGUSR1)
                EventQueue::post(EventKind::Snapshot);
        }
    }
}

}
