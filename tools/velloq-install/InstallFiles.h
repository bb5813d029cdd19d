#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>

namespace velloq::tools {

// The installer's own writing and deleting. The installer never makes a symbolic link, so a link
// where it would write or delete is the user's: nothing is written or deleted through one, and
// the link itself stays.

bool is_link(std::filesystem::path const& path);
// The first folder or file from below `root` down to `root / relative` that is a symbolic link;
// empty when there is none.
std::filesystem::path link_on_the_way(std::filesystem::path const& root, std::filesystem::path const& relative);
// Writes `content` to `file` as a new file renamed into place; false, with a line on `out`, when
// it cannot be written or is a link.
bool put_file(std::filesystem::path const& file, std::string const& content, std::ostream& out);
bool put_copy(std::filesystem::path const& from, std::filesystem::path const& to, std::ostream& out);
// Deletes `file` unless it is a link (or gone already); true when it is gone.
bool take_file(std::filesystem::path const& file);

}
