#pragma once

#include "platform/FileDescriptor.h"

#include <memory>
#include <string>
#include <vector>

namespace velloq::platform {

// Watches one folder with inotify: files written (closed after writing, or moved in) and files
// removed (deleted, or moved out). `changes` never blocks.
class FolderWatcher {
public:
    struct Change {
        enum class Kind { Written, Removed };
        Kind kind;
        std::string name;
    };
    static std::unique_ptr<FolderWatcher> open(std::string const& folder);
    std::vector<Change> changes();

private:
    explicit FolderWatcher(FileDescriptor);
    FileDescriptor m_inotify;
};

// The names of the folder's regular files, sorted.
std::vector<std::string> files_in(std::string const& folder);

}
