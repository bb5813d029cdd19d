#pragma once

#include "platform/FileDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>
#include <string>
#include <string_view>

namespace velloq::platform {

// File system calls of the system's parts, on UTF-8 paths.

// Creates one folder; false when it exists already or cannot be made.
bool make_directory(std::string const& path);

// Creates the folder and its missing parents (mkdir -p); true when the folder exists afterwards.
bool make_directory_chain(std::string const& path);

// Renames a file within its file system, replacing nothing: false when the target exists or the
// move fails.
bool move_file(std::string const& from, std::string const& to);
// Deletes a file; true when it is gone afterwards (also when it never was).
bool remove_file(std::string const& path);
// True when the path names an existing file or folder.
bool path_exists(std::string const& path);

// The whole content of a regular file of at most `largest` bytes. A FIFO, a device or a folder in
// its place is refused without blocking; nullopt with `why` set on any failure.
std::optional<std::vector<uint8_t>> read_regular_file(std::string const& path, size_t largest, std::string& why);
// The `length` bytes of a regular file from `offset`, the same way; a range that passes the
// file's end, or is longer than `largest`, is refused.
std::optional<std::vector<uint8_t>> read_file_range(std::string const& path, uint64_t offset, uint64_t length, size_t largest, std::string& why);

// True when the path names a regular file this process may run.
bool is_executable_file(std::string const& path);

// The local path a "file://" URI names, its %-escapes decoded; empty for any other URI, one of
// another host, or one whose path would hold a NUL.
std::string path_of_file_uri(std::string const& uri);

// A regular file found under a folder: its path, size and when it last changed (unix seconds).
struct FoundFile {
    std::string path;
    uint64_t size { 0 };
    int64_t modified { 0 };
};
// The regular files under `folder` and its subfolders down to `depth` levels, whose names end
// (case aside) with one of `extensions` (".jpg"); hidden ones and links left out, at most `most`.
std::vector<FoundFile> files_under(std::string const& folder, int depth, std::vector<std::string> const& extensions, size_t most);

// Opens a log file the way the device opens its log: written by one process at a time. The
// file is locked before it is truncated, so a second process that finds it locked gets no file
// and never truncates or interleaves the first one's lines. Symbolic links are not followed and
// the file is readable by its owner only. Returns an invalid descriptor when the file cannot be
// had.
FileDescriptor open_exclusive_log_file(std::string const& path);

// Puts `content` at `path` as a new file (mode 0644) written beside it and renamed into place, so
// that a failure midway (a full disk, a killed process) leaves the old file, never half of one. Nothing is written through
// a link: a symbolic link at `path` is refused (false, with `why`) and left as it is.
bool replace_file(std::string const& path, std::string const& content, std::string& why);

// Writes `content` as a new file (mode 0644) that did not exist: false, with `why`, when a file or
// link is there already or the write fails (a file left half written is removed).
bool write_new_file(std::string const& path, std::string_view content, std::string& why);

// The same for a copy of the file `from`, with its permissions.
bool replace_with_copy(std::string const& from, std::string const& path, std::string& why);

// Writes all bytes, retrying short writes; false on an error.
bool write_all(int fd, void const* data, size_t size);

// Asks the file system to put the file's data on the disk.
void sync_file(int fd);

}
