#include "platform/Worker.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace velloq::platform {

namespace {

// How often a worker without an eventfd looks whether it is to stop.
constexpr int unwakeable_poll_ms = 100;

}

Worker::Worker(Work work)
    : m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    , m_thread([this, work = std::move(work)] { work(*this); })
{
}

Worker::~Worker()
{
    m_stop.request_stop();
    wake();
    m_thread.join();
}

void Worker::wake()
{
    uint64_t one = 1;
    if (m_wake.is_valid() && ::write(m_wake.get(), &one, sizeof one) < 0) {
        // The counter is full: the worker is woken already.
    }
}

bool Worker::wait(int timeout_ms, std::span<pollfd> watched)
{
    if (stop_requested())
        return false;
    std::vector<pollfd> descriptors(watched.begin(), watched.end());
    descriptors.push_back({ m_wake.is_valid() ? m_wake.get() : -1, POLLIN, 0 });
    if (!m_wake.is_valid())
        timeout_ms = timeout_ms < 0 ? unwakeable_poll_ms : std::min(timeout_ms, unwakeable_poll_ms);
    int ready = ::poll(descriptors.data(), descriptors.size(), timeout_ms);
    if (ready < 0 && errno != EINTR)
        return false;
    uint64_t count = 0;
    if (m_wake.is_valid() && (descriptors.back().revents & POLLIN) && ::read(m_wake.get(), &count, sizeof count) < 0) {
        // Another read took it first: nothing to clear.
    }
    std::copy(descriptors.begin(), descriptors.end() - 1, watched.begin());
    return !stop_requested();
}

}
