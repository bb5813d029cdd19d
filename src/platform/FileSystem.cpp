#include "platform/FileSystem.h"

#include "platform/Utf.h"

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velloq::platform {

void FileDescriptor::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

bool make_directory(std::string const& path)
{
    return ::mkdir(path.c_str(), 0700) == 0;
}

bool make_directory_chain(std::string const& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        ::mkdir(path.substr(0, slash).c_str(), 0700);
    ::mkdir(path.c_str(), 0700);
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool path_exists(std::string const& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool is_executable_file(std::string const& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

FileDescriptor open_exclusive_log_file(std::string const& path)
{
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
    if (!file.is_valid())
        return {};
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
        return {};
    if (::ftruncate(file.get(), 0) != 0)
        return {};
    ::fchmod(file.get(), 0600);
    return file;
}

bool write_all(int fd, void const* data, size_t size)
{
    auto const* bytes = static_cast<char const*>(data);
    while (size > 0) {
        ssize_t written = ::write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

void sync_file(int fd)
{
    ::fdatasync(fd);
}

namespace {

bool is_symbolic_link(std::string const& path)
{
    struct stat existing {};
    return ::lstat(path.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode);
}

// A new file beside `path`, made here (never an existing file or link), to replace `path`: its
// name, or empty. A link at `path` is not replaced.
std::string fresh_file_for(std::string const& path, FileDescriptor& fd, std::string& why)
{
    if (is_symbolic_link(path)) {
        why = "it is a symbolic link";
        return {};
    }
    std::string fresh = path + ".XXXXXX";
    fd = FileDescriptor(::mkostemp(fresh.data(), O_CLOEXEC));
    if (fd.is_valid())
        return fresh;
    why = std::strerror(errno);
    return {};
}

bool rename_into_place(std::string const& fresh, std::string const& path, std::string& why)
{
    if (::rename(fresh.c_str(), path.c_str()) == 0)
        return true;
    why = std::strerror(errno);
    ::unlink(fresh.c_str());
    return false;
}

}

bool replace_file(std::string const& path, std::string const& content, std::string& why)
{
    FileDescriptor fd;
    std::string fresh = fresh_file_for(path, fd, why);
    if (fresh.empty())
        return false;
    if (::fchmod(fd.get(), 0644) != 0 || !write_all(fd.get(), content.data(), content.size())) {
        why = std::strerror(errno);
        ::unlink(fresh.c_str());
        return false;
    }
    fd.reset();
    return rename_into_place(fresh, path, why);
}

bool replace_with_copy(std::string const& from, std::string const& path, std::string& why)
{
    FileDescriptor fd;
    std::string fresh = fresh_file_for(path, fd, why);
    if (fresh.empty())
        return false;
    fd.reset();
    std::error_code error;
    std::filesystem::copy_file(from, fresh, std::filesystem::copy_options::overwrite_existing, error);
    if (!error)
        std::filesystem::permissions(fresh, std::filesystem::status(from, error).permissions(), error);
    if (error) {
        why = error.message();
        ::unlink(fresh.c_str());
        return false;
    }
    return rename_into_place(fresh, path, why);
}

bool move_file(std::string const& from, std::string const& to)
{
    // renameat2 with RENAME_NOREPLACE is not everywhere; a link and an unlink give the same
    // "never replace" on one file system.
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    if (::unlink(from.c_str()) != 0) {
        ::unlink(to.c_str());
        return false;
    }
    return true;
}

namespace {

// Opens a regular file for reading and gives its size. Non-blocking, so that a FIFO put in the
// file's place cannot stop the program at the open.
FileDescriptor open_regular_file(std::string const& path, uint64_t& size, std::string& why)
{
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!file.is_valid()) {
        why = std::strerror(errno);
        return file;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0) {
        why = "not a regular file";
        return FileDescriptor();
    }
    size = static_cast<uint64_t>(status.st_size);
    return file;
}

bool read_at(int file, uint64_t offset, std::vector<uint8_t>& bytes, std::string& why)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t got = ::pread(file, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            why = got < 0 ? std::strerror(errno) : "shorter than its size";
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

}

std::optional<std::vector<uint8_t>> read_regular_file(std::string const& path, size_t largest, std::string& why)
{
    uint64_t size = 0;
    FileDescriptor file = open_regular_file(path, size, why);
    if (!file.is_valid())
        return std::nullopt;
    if (size > largest) {
        why = "too large";
        return std::nullopt;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (!read_at(file.get(), 0, bytes, why))
        return std::nullopt;
    return bytes;
}

std::optional<std::vector<uint8_t>> read_file_range(std::string const& path, uint64_t offset, uint64_t length, size_t largest, std::string& why)
{
    uint64_t size = 0;
    FileDescriptor file = open_regular_file(path, size, why);
    if (!file.is_valid())
        return std::nullopt;
    if (offset > size || length > size - offset) {
        why = "the range passes the file's end";
        return std::nullopt;
    }
    if (length > largest) {
        why = "too large";
        return std::nullopt;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    if (!read_at(file.get(), offset, bytes, why))
        return std::nullopt;
    return bytes;
}

bool write_new_file(std::string const& path, std::string_view content, std::string& why)
{
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file.is_valid()) {
        why = std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < content.size()) {
        ssize_t wrote = ::write(file.get(), content.data() + done, content.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            why = wrote < 0 ? std::strerror(errno) : "nothing written";
            ::unlink(path.c_str());
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return true;
}

bool remove_file(std::string const& path)
{
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

namespace {

bool has_extension(std::string const& name, std::vector<std::string> const& extensions)
{
    for (auto const& extension : extensions) {
        if (name.size() <= extension.size())
            continue;
        bool same = true;
        for (size_t at = 0; at < extension.size() && same; ++at)
            same = std::tolower(static_cast<unsigned char>(name[name.size() - extension.size() + at])) == extension[at];
        if (same)
            return true;
    }
    return false;
}

void collect_files(std::string const& folder, int depth, std::vector<std::string> const& extensions, size_t most, std::vector<FoundFile>& found)
{
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, std::filesystem::directory_options::skip_permission_denied, error);
    for (auto end = std::filesystem::directory_iterator(); !error && entries != end && found.size() < most; entries.increment(error)) {
        std::string name = entries->path().filename().string();
        if (name.empty() || name[0] == '.' || entries->is_symlink(error))
            continue;
        if (entries->is_directory(error)) {
            if (depth > 0)
                collect_files(entries->path().string(), depth - 1, extensions, most, found);
            continue;
        }
        struct stat status {};
        if (!has_extension(name, extensions) || ::lstat(entries->path().c_str(), &status) != 0 || !S_ISREG(status.st_mode))
            continue;
        found.push_back({ entries->path().string(), static_cast<uint64_t>(status.st_size), static_cast<int64_t>(status.st_mtime) });
    }
}

}

std::vector<FoundFile> files_under(std::string const& folder, int depth, std::vector<std::string> const& extensions, size_t most)
{
    std::vector<FoundFile> found;
    collect_files(folder, depth, extensions, most, found);
    return found;
}

std::string path_of_file_uri(std::string const& uri)
{
    constexpr std::string_view scheme = "file://";
    if (uri.compare(0, scheme.size(), scheme) != 0)
        return {};
    std::string path;
    for (size_t at = scheme.size(); at < uri.size(); ++at) {
        if (uri[at] == '%' && at + 2 < uri.size() && hex_digit_value(uri[at + 1]) >= 0 && hex_digit_value(uri[at + 2]) >= 0) {
            path.push_back(static_cast<char>(hex_digit_value(uri[at + 1]) * 16 + hex_digit_value(uri[at + 2])));
            at += 2;
        } else {
            path.push_back(uri[at]);
        }
    }
    // A file of another host is none of this device's.
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos)
        return {};
    return path;
}

}
