#include "platform/LocalSocket.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velloq::platform {

namespace {

constexpr int transfer_timeout_seconds = 5;
constexpr suseconds_t request_read_us = 500'000;
// A request line longer than this is no request of ours.
constexpr size_t max_line = 4096;

void set_timeouts(int fd, int seconds)
{
    timeval timeout { seconds, 0 };
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

std::optional<std::string> read_line(int fd)
{
    std::string line;
    char character = 0;
    while (line.size() < max_line) {
        if (!read_exactly(fd, &character, 1))
            return std::nullopt;
        if (character == '\n')
            return line;
        line += character;
    }
    return std::nullopt;
}

}

bool socket_address(std::string const& path, sockaddr_un& address, FileDescriptor& folder)
{
    address = {};
    address.sun_family = AF_UNIX;
    std::string name = path;
    if (name.size() >= sizeof address.sun_path) {
        size_t slash = path.rfind('/');
        if (slash == std::string::npos)
            return false;
        folder.reset(::open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!folder.is_valid())
            return false;
        name = "/proc/self/fd/" + std::to_string(folder.get()) + path.substr(slash);
        if (name.size() >= sizeof address.sun_path)
            return false;
    }
    std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
    return true;
}

void set_timeouts(int fd)
{
    set_timeouts(fd, transfer_timeout_seconds);
}

bool read_exactly(int fd, void* data, size_t size)
{
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        ssize_t got = ::recv(fd, bytes, size, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

bool send_all(int fd, void const* data, size_t size)
{
    auto const* bytes = static_cast<char const*>(data);
    while (size > 0) {
        ssize_t sent = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

FileDescriptor listen_at(std::string const& path, std::string& error)
{
    sockaddr_un address;
    FileDescriptor folder;
    if (!socket_address(path, address, folder)) {
        error = "socket path cannot be reached: " + path;
        return {};
    }
    FileDescriptor listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    // Whoever may listen here owns the name: a socket file left there belongs to a process that died.
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
        ::unlink(path.c_str());
    if (!listener.is_valid() || ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(listener.get(), 16) != 0) {
        error = std::strerror(errno);
        return {};
    }
    ::chmod(path.c_str(), 0600);
    return listener;
}

std::unique_ptr<RequestSocket> RequestSocket::open(std::string const& path, std::string& error)
{
    FileDescriptor listener = listen_at(path, error);
    if (!listener.is_valid())
        return nullptr;
    return std::unique_ptr<RequestSocket>(new RequestSocket(std::move(listener), path));
}

RequestSocket::RequestSocket(FileDescriptor listener, std::string path)
    : m_listener(std::move(listener))
    , m_path(std::move(path))
{
}

RequestSocket::~RequestSocket()
{
    ::unlink(m_path.c_str());
}

std::optional<RequestSocket::Request> RequestSocket::accept_request()
{
    FileDescriptor connection(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection.is_valid())
        return std::nullopt;
    set_timeouts(connection.get());
    // A client sends its line at once; one that connects and says nothing is let go soon, so it
    // never holds up the service that reads it.
    timeval quick { 0, request_read_us };
    ::setsockopt(connection.get(), SOL_SOCKET, SO_RCVTIMEO, &quick, sizeof quick);
    auto line = read_line(connection.get());
    if (!line)
        return std::nullopt;
    return Request { std::move(*line), std::move(connection) };
}

void RequestSocket::answer(Request& request, std::string const& line)
{
    std::string text = line + "\n";
    send_all(request.connection.get(), text.data(), text.size());
    request.connection.reset();
}

FileDescriptor connect_to(std::string const& path)
{
    sockaddr_un address;
    FileDescriptor folder;
    if (!socket_address(path, address, folder))
        return {};
    FileDescriptor connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!connection.is_valid() || ::connect(connection.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return {};
    return connection;
}

std::optional<std::string> ask_service(std::string const& path, std::string const& line, int timeout_seconds)
{
    FileDescriptor connection = connect_to(path);
    if (!connection.is_valid())
        return std::nullopt;
    set_timeouts(connection.get(), timeout_seconds);
    std::string text = line + "\n";
    if (!send_all(connection.get(), text.data(), text.size()))
        return std::nullopt;
    return read_line(connection.get());
}

}
