#pragma once

#include "platform/FileDescriptor.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <sys/un.h>

namespace velloq::platform {

// Unix-domain sockets in the device folder, shared by the single-instance mailbox and the modem
// service's request socket.

// The socket address of a path; a path too long for sun_path is reached through its folder's
// descriptor, which `folder` keeps open.
bool socket_address(std::string const& path, sockaddr_un& address, FileDescriptor& folder);
// Sending and receiving give up after a few seconds, so a stuck peer never hangs a process.
void set_timeouts(int fd);
bool read_exactly(int fd, void* data, size_t size);
bool send_all(int fd, void const* data, size_t size);
// A connection to the socket at `path`; invalid when nobody listens there.
FileDescriptor connect_to(std::string const& path);
// A socket bound to `path` (a stale socket file there is replaced), readable by its owner only.
FileDescriptor listen_at(std::string const& path, std::string& error);

// A listening socket that takes one-line requests and answers each with one line.
class RequestSocket {
public:
    static std::unique_ptr<RequestSocket> open(std::string const& path, std::string& error);
    ~RequestSocket();
    RequestSocket(RequestSocket const&) = delete;
    RequestSocket& operator=(RequestSocket const&) = delete;
    int descriptor() const { return m_listener.get(); }

    // A waiting request: its line (without the newline) and the connection to answer on.
    struct Request {
        std::string line;
        FileDescriptor connection;
    };
    std::optional<Request> accept_request();
    static void answer(Request& request, std::string const& line);

private:
    RequestSocket(FileDescriptor listener, std::string path);
    FileDescriptor m_listener;
    std::string m_path;
};

// Sends `line` to the service listening at `path` and waits up to `timeout_seconds` for its
// one-line answer; nullopt when nobody listens or no answer came.
std::optional<std::string> ask_service(std::string const& path, std::string const& line, int timeout_seconds);

}
