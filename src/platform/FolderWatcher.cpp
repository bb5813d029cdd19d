#include "platform/FolderWatcher.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velloq::platform {

namespace {

std::optional<FolderWatcher::Change::Kind> kind_of(uint32_t mask, bool named)
{
    using Kind = FolderWatcher::Change::Kind;
    if (mask & IN_Q_OVERFLOW)
        return Kind::Lost;
    if (mask & (IN_DELETE_SELF | IN_MOVE_SELF))
        return Kind::Gone;
    if (!named)
        return std::nullopt;
    bool removed = mask & (IN_DELETE | IN_MOVED_FROM);
    if (mask & IN_ISDIR)
        return (mask & (IN_CREATE | IN_MOVED_TO)) ? Kind::FolderAdded : removed ? std::optional(Kind::FolderRemoved) : std::nullopt;
    // A file made is reported when it is closed after writing.
    if (mask & IN_CREATE)
        return std::nullopt;
    return removed ? Kind::Removed : Kind::Written;
}

}

std::unique_ptr<FolderWatcher> FolderWatcher::open(std::string const& folder)
{
    FileDescriptor inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!inotify.is_valid())
        return nullptr;
    uint32_t mask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_CREATE | IN_DELETE_SELF | IN_MOVE_SELF;
    if (::inotify_add_watch(inotify.get(), folder.c_str(), mask) < 0)
        return nullptr;
    return std::unique_ptr<FolderWatcher>(new FolderWatcher(std::move(inotify)));
}

FolderWatcher::FolderWatcher(FileDescriptor inotify)
    : m_inotify(std::move(inotify))
{
}

std::vector<FolderWatcher::Change> FolderWatcher::changes()
{
    std::vector<Change> found;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        ssize_t got = ::read(m_inotify.get(), buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (char* at = buffer; at < buffer + got;) {
            auto* event = reinterpret_cast<inotify_event*>(at);
            if (auto kind = kind_of(event->mask, event->len > 0))
                found.push_back({ *kind, event->len > 0 ? event->name : "" });
            at += sizeof(inotify_event) + event->len;
        }
    }
    return found;
}

namespace {

std::vector<std::string> entries_in(std::string const& folder, bool folders)
{
    std::vector<std::string> names;
    DIR* directory = ::opendir(folder.c_str());
    if (!directory)
        return names;
    while (dirent* entry = ::readdir(directory)) {
        std::string name = entry->d_name;
        struct stat info {};
        if (name == "." || name == ".." || (folders && name.starts_with('.')) || ::stat((folder + "/" + name).c_str(), &info) != 0)
            continue;
        if (folders ? S_ISDIR(info.st_mode) : S_ISREG(info.st_mode))
            names.push_back(name);
    }
    ::closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

}

std::vector<std::string> files_in(std::string const& folder)
{
    return entries_in(folder, false);
}

std::vector<std::string> folders_in(std::string const& folder)
{
    return entries_in(folder, true);
}

}
