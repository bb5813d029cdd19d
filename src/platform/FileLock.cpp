#include "platform/FileLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>

namespace velloq::platform {

std::optional<FileLock> FileLock::try_exclusive(std::string const& path, std::string& error)
{
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.is_valid()) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? held : path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    return FileLock(std::move(fd));
}

}
