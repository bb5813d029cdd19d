#pragma once

#include "platform/FileDescriptor.h"

#include <memory>
#include <string>
#include <vector>

namespace velloq::platform {

// Watches one folder with inotify: files written (closed after writing, or moved in) and files
// removed (deleted, or moved out), folders made or moved in and removed or moved out. `changes`
// never blocks.
class FolderWatcher {
public:
    struct Change {
        // Lost: the kernel's queue overflowed and changes were dropped; whoever keeps a picture
        // of the folder reads it again. Gone: the watched folder itself was removed (no name).
        enum class Kind { Written, Removed, FolderAdded, FolderRemoved, Lost, Gone };
        Kind kind;
        std::string name;
    };
    static std::unique_ptr<FolderWatcher> open(std::string const& folder);
    std::vector<Change> changes();
    // Readable when there are changes, for a loop that sleeps until then.
    int descriptor() const { return m_inotify.get(); }

private:
    explicit FolderWatcher(FileDescriptor);
    FileDescriptor m_inotify;
};

// The names of the folder's regular files, sorted.
std::vector<std::string> files_in(std::string const& folder);
// The names of the folder's folders, sorted; hidden ones (".name") left out.
std::vector<std::string> folders_in(std::string const& folder);

}
