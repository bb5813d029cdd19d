#include "InstallFiles.h"

#include "platform/FileSystem.h"

#include <ostream>

namespace velloq::tools {

namespace fs = std::filesystem;

bool is_link(fs::path const& path)
{
    std::error_code error;
    return fs::is_symlink(fs::symlink_status(path, error));
}

fs::path link_on_the_way(fs::path const& root, fs::path const& relative)
{
    fs::path step = root;
    for (auto const& part : relative) {
        step /= part;
        if (is_link(step))
            return step;
    }
    return {};
}

bool put_file(fs::path const& file, std::string const& content, std::ostream& out)
{
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    std::string why;
    if (!platform::replace_file(file.string(), content, why)) {
        out << "velloq-install: " << file.string() << " not written: " << why << "\n";
        return false;
    }
    return true;
}

bool put_copy(fs::path const& from, fs::path const& to, std::ostream& out)
{
    std::error_code error;
    fs::create_directories(to.parent_path(), error);
    std::string why;
    if (!platform::replace_with_copy(from.string(), to.string(), why)) {
        out << "velloq-install: " << to.string() << " not written: " << why << "\n";
        return false;
    }
    return true;
}

bool take_file(fs::path const& file)
{
    std::error_code error;
    if (is_link(file))
        return false;
    fs::remove(file, error);
    return !fs::exists(fs::symlink_status(file, error));
}

}
