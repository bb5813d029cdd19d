#include "platform/SingleInstance.h"

#include "platform/Events.h"
#include "platform/FileSystem.h"
#include "platform/LocalSocket.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace velloq::platform {

namespace {

constexpr unsigned char accepted = 1;
constexpr unsigned char refused = 0;
// A second start hands its command line over at once; a client that connects and says nothing
// is let go this soon, so it never holds up the starts after it.
constexpr int64_t handover_read_ms = 500;

void set_read_timeout_ms(int fd, int64_t milliseconds)
{
    timeval timeout { static_cast<time_t>(milliseconds / 1000), static_cast<suseconds_t>(milliseconds % 1000 * 1000) };
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

}

std::unique_ptr<StartupLock> StartupLock::acquire(std::string const& path)
{
    FileDescriptor file(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.is_valid())
        return nullptr;
    while (::flock(file.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return nullptr;
    }
    return std::unique_ptr<StartupLock>(new StartupLock(std::move(file)));
}

StartupLock::StartupLock(FileDescriptor file)
    : m_file(std::move(file))
{
}

StartupLock::~StartupLock()
{
    ::flock(m_file.get(), LOCK_UN);
}

HandOver hand_over_to_running_instance(std::string const& socket_path, std::u16string const& text, int32_t& peer)
{
    FileDescriptor connection = connect_to(socket_path);
    if (!connection.is_valid())
        return HandOver::NoInstance;
    set_timeouts(connection.get());
    ucred credentials {};
    socklen_t size = sizeof credentials;
    if (::getsockopt(connection.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0)
        peer = credentials.pid;
    // Length first (in code units), then the UTF-16 code units; the answer says whether the
    // whole text was taken.
    uint64_t length = text.size();
    unsigned char answer = refused;
    if (!send_all(connection.get(), &length, sizeof length))
        return HandOver::Refused;
    if (length <= max_handed_over_units && !send_all(connection.get(), text.data(), text.size() * sizeof(char16_t)))
        return HandOver::Refused;
    if (!read_exactly(connection.get(), &answer, 1))
        return HandOver::Refused;
    return answer == accepted ? HandOver::Delivered : HandOver::Refused;
}

std::unique_ptr<InstanceMailbox> InstanceMailbox::open(std::string const& socket_path, uint32_t code, std::string& error)
{
    // Whoever holds the start-up lock and found nobody listening owns the name.
    FileDescriptor listener = listen_at(socket_path, error);
    if (!listener.is_valid())
        return nullptr;
    return std::unique_ptr<InstanceMailbox>(new InstanceMailbox(std::move(listener), socket_path, code));
}

InstanceMailbox::InstanceMailbox(FileDescriptor listener, std::string path, uint32_t code)
    : m_listener(std::move(listener))
    , m_path(std::move(path))
    , m_code(code)
    , m_worker([this](Worker& worker) { serve(worker); })
{
}

InstanceMailbox::~InstanceMailbox()
{
    ::unlink(m_path.c_str());
}

std::optional<InstanceMailbox::Received> InstanceMailbox::take()
{
    std::lock_guard lock(m_mutex);
    if (m_received.empty())
        return std::nullopt;
    Received received = std::move(m_received.front());
    m_received.pop_front();
    return received;
}

void InstanceMailbox::serve(Worker& worker)
{
    pollfd listener[1] = { { m_listener.get(), POLLIN, 0 } };
    while (worker.wait(-1, listener)) {
        if (listener[0].revents & POLLIN) {
            FileDescriptor connection(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (connection.is_valid())
                receive(connection.get());
        }
    }
}

void InstanceMailbox::receive(int connection)
{
    set_timeouts(connection);
    set_read_timeout_ms(connection, handover_read_ms);
    uint64_t length = 0;
    if (!read_exactly(connection, &length, sizeof length))
        return;
    if (length > max_handed_over_units) {
        {
            std::lock_guard lock(m_mutex);
            m_received.push_back({ {}, true, length });
        }
        EventQueue::post_private(m_code);
        send_all(connection, &refused, 1);
        return;
    }
    std::u16string text(static_cast<size_t>(length), u'\0');
    if (!read_exactly(connection, text.data(), text.size() * sizeof(char16_t)))
        return;
    {
        std::lock_guard lock(m_mutex);
        m_received.push_back({ std::move(text), false, length });
    }
    EventQueue::post_private(m_code);
    send_all(connection, &accepted, 1);
}

}
