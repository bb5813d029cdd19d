#include "messaging/ContactFolders.h"

#include "platform/FolderWatcher.h"

#include <algorithm>
#include <filesystem>
#include <tuple>

namespace velloq {

namespace {

using Kind = platform::FolderWatcher::Change::Kind;

bool is_vcard_file(std::string const& name)
{
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".vcf") == 0;
}

std::string below(std::string const& subfolder, std::string const& name)
{
    return subfolder.empty() ? name : subfolder + "/" + name;
}

// Whether a file's name (below its root) is in the subfolder; the root's own files have no "/".
bool is_in(std::string const& name, std::string const& subfolder)
{
    if (subfolder.empty())
        return name.find('/') == std::string::npos;
    return name.size() > subfolder.size() && name.compare(0, subfolder.size(), subfolder) == 0 && name[subfolder.size()] == '/';
}

bool is_folder(std::string const& path)
{
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

}

ContactFolders::ContactFolders(std::vector<Root> roots)
    : m_roots(std::move(roots))
{
    for (size_t root = 0; root < m_roots.size(); ++root)
        follow_root(root, nullptr);
}

ContactFolders::~ContactFolders() = default;

std::string ContactFolders::folder_path(size_t root, std::string const& subfolder) const
{
    return subfolder.empty() ? m_roots[root].path : m_roots[root].path + "/" + subfolder;
}

std::vector<int> ContactFolders::descriptors() const
{
    std::vector<int> descriptors;
    for (auto const& followed : m_followed)
        descriptors.push_back(followed.watcher->descriptor());
    for (auto const& awaited : m_awaited) {
        if (awaited.parent)
            descriptors.push_back(awaited.parent->descriptor());
    }
    return descriptors;
}

std::string ContactFolders::path_of(File const& file) const
{
    return m_roots[file.first].path + "/" + file.second;
}

bool ContactFolders::note_file(File const& file)
{
    // One look at the file for both (an entry keeps what it saw).
    std::error_code error;
    std::filesystem::directory_entry entry(path_of(file), error);
    Stamp stamp { entry.last_write_time(error).time_since_epoch().count(), entry.file_size(error) };
    auto [known, added] = m_files.try_emplace(file, stamp);
    if (added)
        return true;
    bool changed = !(known->second == stamp);
    known->second = stamp;
    return changed;
}

std::vector<ContactFolders::File> ContactFolders::files()
{
    m_files.clear();
    for (auto const& followed : m_followed) {
        for (auto const& name : platform::files_in(folder_path(followed.root, followed.subfolder))) {
            if (is_vcard_file(name))
                note_file({ followed.root, below(followed.subfolder, name) });
        }
    }
    std::vector<File> files;
    for (auto const& [file, stamp] : m_files)
        files.push_back(file);
    return files;
}

// A root that is not there yet is awaited through its parent folder.
void ContactFolders::follow_root(size_t root, std::vector<FileChange>* changes)
{
    auto const& path = m_roots[root].path;
    if (!is_folder(path)) {
        auto parent = std::filesystem::path(path).parent_path().string();
        m_awaited.push_back({ root, platform::FolderWatcher::open(parent) });
        return;
    }
    follow_folder(root, "", changes);
    if (m_roots[root].with_subfolders) {
        for (auto const& subfolder : platform::folders_in(path))
            follow_folder(root, subfolder, changes);
    }
}

// Watching starts before the listing, so that no file written meanwhile is missed.
void ContactFolders::follow_folder(size_t root, std::string const& subfolder, std::vector<FileChange>* changes)
{
    bool followed = std::any_of(m_followed.begin(), m_followed.end(), [&](Followed const& f) { return f.root == root && f.subfolder == subfolder; });
    auto path = folder_path(root, subfolder);
    auto watcher = followed ? nullptr : platform::FolderWatcher::open(path);
    if (!watcher)
        return;
    m_followed.push_back({ root, subfolder, std::move(watcher) });
    if (!changes)
        return;
    for (auto const& name : platform::files_in(path)) {
        File file { root, below(subfolder, name) };
        if (is_vcard_file(name) && note_file(file))
            changes->push_back({ file, false });
    }
}

// The folder's files are gone with it; an empty subfolder names the root and all below it.
void ContactFolders::forget_folder(size_t root, std::string const& subfolder, std::vector<FileChange>& changes)
{
    std::erase_if(m_followed, [&](Followed const& followed) {
        return followed.root == root && (subfolder.empty() || followed.subfolder == subfolder);
    });
    for (auto known = m_files.begin(); known != m_files.end();) {
        if (known->first.first == root && (subfolder.empty() || is_in(known->first.second, subfolder))) {
            changes.push_back({ known->first, true });
            known = m_files.erase(known);
        } else {
            ++known;
        }
    }
}

// The kernel dropped changes: the folder is compared with what was seen of it.
void ContactFolders::read_again(size_t root, std::string const& subfolder, std::vector<FileChange>& changes)
{
    auto path = folder_path(root, subfolder);
    std::vector<std::string> present;
    for (auto const& name : platform::files_in(path)) {
        if (!is_vcard_file(name))
            continue;
        File file { root, below(subfolder, name) };
        present.push_back(file.second);
        if (note_file(file))
            changes.push_back({ file, false });
    }
    for (auto known = m_files.begin(); known != m_files.end();) {
        bool here = known->first.first == root && is_in(known->first.second, subfolder);
        if (here && std::find(present.begin(), present.end(), known->first.second) == present.end()) {
            changes.push_back({ known->first, true });
            known = m_files.erase(known);
        } else {
            ++known;
        }
    }
    if (!subfolder.empty() || !m_roots[root].with_subfolders)
        return;
    for (auto const& name : platform::folders_in(path))
        follow_folder(root, name, &changes);
}

std::vector<ContactFolders::FileChange> ContactFolders::changes()
{
    std::vector<FileChange> found;
    take_made_roots(found);
    // Following a folder or forgetting one changes the list; those wait until it was read.
    std::vector<std::tuple<size_t, std::string, platform::FolderWatcher::Change>> later;
    for (auto& followed : m_followed) {
        for (auto& change : followed.watcher->changes()) {
            File file { followed.root, below(followed.subfolder, change.name) };
            if (change.kind == Kind::Written && is_vcard_file(change.name)) {
                note_file(file);
                found.push_back({ file, false });
            } else if (change.kind == Kind::Removed && is_vcard_file(change.name)) {
                if (m_files.erase(file) > 0)
                    found.push_back({ file, true });
            } else if (change.kind != Kind::Written && change.kind != Kind::Removed) {
                later.emplace_back(followed.root, followed.subfolder, std::move(change));
            }
        }
    }
    for (auto const& [root, subfolder, change] : later)
        take_folder_change(root, subfolder, change, found);
    return found;
}

void ContactFolders::take_folder_change(size_t root, std::string const& subfolder, platform::FolderWatcher::Change const& change, std::vector<FileChange>& found)
{
    bool at_root = subfolder.empty();
    switch (change.kind) {
    case Kind::FolderAdded:
        if (at_root && m_roots[root].with_subfolders && !change.name.starts_with('.'))
            follow_folder(root, change.name, &found);
        break;
    case Kind::FolderRemoved:
        if (at_root && !change.name.starts_with('.'))
            forget_folder(root, change.name, found);
        break;
    case Kind::Lost:
        read_again(root, subfolder, found);
        break;
    case Kind::Gone:
        forget_folder(root, subfolder, found);
        // The root may be back already (moved away and another moved in); else it is awaited.
        if (at_root)
            follow_root(root, &found);
        break;
    default:
        break;
    }
}

void ContactFolders::take_made_roots(std::vector<FileChange>& found)
{
    std::vector<size_t> made;
    std::erase_if(m_awaited, [&](Awaited& awaited) {
        if (!awaited.parent)
            return false;
        auto leaf = std::filesystem::path(m_roots[awaited.root].path).filename().string();
        for (auto const& change : awaited.parent->changes()) {
            bool named = change.kind == Kind::FolderAdded && change.name == leaf;
            if ((named || change.kind == Kind::Lost) && is_folder(m_roots[awaited.root].path)) {
                made.push_back(awaited.root);
                return true;
            }
        }
        return false;
    });
    for (size_t root : made)
        follow_root(root, &found);
}

}
