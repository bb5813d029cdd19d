#include "platform/ReadableWatch.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace velloq::platform {

ReadableWatch::ReadableWatch(std::function<void()> ready)
    : m_ready(std::move(ready))
    , m_control(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (m_control.is_valid())
        m_thread = std::thread([this] { run(); });
}

ReadableWatch::~ReadableWatch()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    poke();
    if (m_thread.joinable())
        m_thread.join();
}

void ReadableWatch::poke()
{
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(m_control.get(), &one, sizeof one);
}

void ReadableWatch::watch(std::vector<int> descriptors)
{
    {
        std::lock_guard lock(m_mutex);
        m_descriptors = std::move(descriptors);
        m_armed = true;
    }
    poke();
}

void ReadableWatch::run()
{
    for (;;) {
        std::vector<pollfd> watched { { m_control.get(), POLLIN, 0 } };
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            for (int descriptor : m_armed ? m_descriptors : std::vector<int> {})
                watched.push_back({ descriptor, POLLIN, 0 });
        }
        if (::poll(watched.data(), watched.size(), -1) < 0 && errno != EINTR)
            return;
        if (watched[0].revents) {
            uint64_t count = 0;
            [[maybe_unused]] ssize_t got = ::read(m_control.get(), &count, sizeof count);
            continue;
        }
        bool readable = false;
        for (size_t index = 1; index < watched.size(); ++index)
            readable = readable || watched[index].revents != 0;
        if (!readable)
            continue;
        {
            std::lock_guard lock(m_mutex);
            m_armed = false;
        }
        m_ready();
    }
}

}
