#include "platform/FolderWatcher.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velloq::platform {

std::unique_ptr<FolderWatcher> FolderWatcher::open(std::string const& folder)
{
    FileDescriptor inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!inotify.is_valid())
        return nullptr;
    uint32_t mask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM;
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
            if (event->len > 0) {
                bool removed = event->mask & (IN_DELETE | IN_MOVED_FROM);
                found.push_back({ removed ? Change::Kind::Removed : Change::Kind::Written, event->name });
            }
            at += sizeof(inotify_event) + event->len;
        }
    }
    return found;
}

std::vector<std::string> files_in(std::string const& folder)
{
    std::vector<std::string> names;
    DIR* directory = ::opendir(folder.c_str());
    if (!directory)
        return names;
    while (dirent* entry = ::readdir(directory)) {
        std::string name = entry->d_name;
        struct stat info {};
        if (name != "." && name != ".." && ::stat((folder + "/" + name).c_str(), &info) == 0 && S_ISREG(info.st_mode))
            names.push_back(name);
    }
    ::closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

}
