#pragma once

#include "platform/FileDescriptor.h"

#include <optional>
#include <string>

namespace velloq::platform {

// An exclusive lock on a file, held while the object lives; the kernel lets it go when the
// process dies, however it dies, so a crashed holder never keeps out the next one.
class FileLock {
public:
    // The lock, or nullopt with `error` set: "held" when another process holds it.
    static std::optional<FileLock> try_exclusive(std::string const& path, std::string& error);
    static constexpr char const* held = "held";

private:
    explicit FileLock(FileDescriptor fd)
        : m_fd(std::move(fd))
    {
    }
    FileDescriptor m_fd;
};

}
