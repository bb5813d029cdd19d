#pragma once

#include "platform/FolderWatcher.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velloq {


// The folders that hold the phone's vCard files, followed as they change. Each root is a folder
// in order of precedence (a later root's files come after an earlier one's); a root may take its
// subfolders one level down too, and may not exist yet (it is followed once it is made).
class ContactFolders {
public:
    struct Root {
        std::string path;
        bool with_subfolders { false };
    };
    // A file: its root's place in the list and its name below the root ("x.vcf", "sub/x.vcf").
    using File = std::pair<size_t, std::string>;
    struct FileChange {
        File file;
        bool removed { false };
    };

    explicit ContactFolders(std::vector<Root>);
    ~ContactFolders();
    ContactFolders(ContactFolders const&) = delete;
    ContactFolders& operator=(ContactFolders const&) = delete;

    // Every ".vcf" file there is now, in order: roots in their order, names sorted.
    std::vector<File> files();
    // The files written and removed since the last call (or since `files`).
    std::vector<FileChange> changes();
    std::string path_of(File const&) const;
    // What to wait on for the next changes: readable when there are some.
    std::vector<int> descriptors() const;

private:
    struct Followed {
        size_t root;
        std::string subfolder; // empty for the root itself
        std::unique_ptr<platform::FolderWatcher> watcher;
    };
    struct Awaited {
        size_t root;
        std::unique_ptr<platform::FolderWatcher> parent;
    };
    // A file as last seen, to tell a file written from one that was not touched.
    struct Stamp {
        int64_t modified { 0 };
        uintmax_t size { 0 };
        bool operator==(Stamp const&) const = default;
    };

    void follow_root(size_t root, std::vector<FileChange>* changes);
    void follow_folder(size_t root, std::string const& subfolder, std::vector<FileChange>* changes);
    void forget_folder(size_t root, std::string const& subfolder, std::vector<FileChange>& changes);
    void read_again(size_t root, std::string const& subfolder, std::vector<FileChange>& changes);
    void take_folder_change(size_t root, std::string const& subfolder, platform::FolderWatcher::Change const&, std::vector<FileChange>& changes);
    void take_made_roots(std::vector<FileChange>& changes);
    std::string folder_path(size_t root, std::string const& subfolder) const;
    bool note_file(File const&);

    std::vector<Root> m_roots;
    std::vector<Followed> m_followed;
    std::vector<Awaited> m_awaited;
    std::map<File, Stamp> m_files;
};

}
