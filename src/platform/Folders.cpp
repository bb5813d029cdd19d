#include "platform/Folders.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <unistd.h>

namespace velloq::platform {

namespace {

std::mutex g_device_mutex;
std::string g_device_folder;

std::string environment(char const* name)
{
    char const* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string home_folder()
{
    return environment("HOME");
}

std::string xdg_folder(char const* variable, char const* fallback_below_home)
{
    std::string value = environment(variable);
    if (!value.empty() && value.front() == '/')
        return value;
    std::string home = home_folder();
    return home.empty() ? std::string() : home + "/" + fallback_below_home;
}

std::string data_home() { return xdg_folder("XDG_DATA_HOME", ".local/share"); }
std::string config_home() { return xdg_folder("XDG_CONFIG_HOME", ".config"); }

std::string absolute(std::string path)
{
    if (path.empty() || path.front() == '/')
        return path;
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer))
        return path;
    return std::string(buffer) + "/" + path;
}

std::string without_trailing_slashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string prepare_device_folder(std::string path)
{
    path = without_trailing_slashes(absolute(std::move(path)));
    make_directory_chain(path + "/Temp");
    return path;
}

// The value of one XDG_*_DIR line of user-dirs.dirs: "$HOME/Documents" or an absolute path.
std::string user_dir_from_config(std::string const& key)
{
    std::ifstream file(config_home() + "/user-dirs.dirs");
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind(key + "=", 0) != 0)
            continue;
        std::string value = line.substr(key.size() + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0)
            value = home_folder() + value.substr(5);
        if (!value.empty() && value.front() == '/')
            return without_trailing_slashes(value);
    }
    return {};
}

}

std::string device_folder()
{
    std::lock_guard lock(g_device_mutex);
    if (g_device_folder.empty()) {
        std::string chosen = environment("VELLOQ_DEVICE");
        if (chosen.empty()) {
            std::string data = data_home();
            chosen = data.empty() ? std::string("velloq") : data + "/velloq";
        }
        g_device_folder = prepare_device_folder(chosen);
    }
    return g_device_folder;
}

void forget_device_folder()
{
    std::lock_guard lock(g_device_mutex);
    g_device_folder.clear();
}

void use_device_folder(std::string const& path)
{
    std::lock_guard lock(g_device_mutex);
    g_device_folder = prepare_device_folder(path);
}

namespace {

std::string& module_override()
{
    static std::string path;
    return path;
}

}

void use_module_file(std::string path)
{
    module_override() = std::move(path);
}

ExecutablePath executable_path()
{
    if (!module_override().empty())
        return { module_override(), module_override().size() >= PATH_MAX };
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length < 0)
        return { {}, errno == ENAMETOOLONG };
    if (static_cast<size_t>(length) >= sizeof buffer)
        return { {}, true };
    return { std::string(buffer, static_cast<size_t>(length)), false };
}

std::string documents_folder()
{
    std::string configured = user_dir_from_config("XDG_DOCUMENTS_DIR");
    if (!configured.empty())
        return configured;
    std::string home = home_folder();
    return home.empty() ? std::string() : home + "/Documents";
}

std::string pictures_folder()
{
    std::string configured = user_dir_from_config("XDG_PICTURES_DIR");
    if (!configured.empty())
        return configured;
    std::string home = home_folder();
    return home.empty() ? std::string() : home + "/Pictures";
}

std::string applications_folder()
{
    std::string data = data_home();
    return data.empty() ? std::string() : data + "/applications";
}

std::string data_folder()
{
    return data_home();
}

std::string desktop_contacts_folder()
{
    std::string data = data_home();
    return data.empty() ? std::string() : data + "/kpeoplevcard";
}

std::string config_folder()
{
    return config_home();
}

std::string autostart_folder()
{
    std::string config = config_home();
    return config.empty() ? std::string() : config + "/autostart";
}

std::string systemd_user_folder()
{
    std::string config = config_home();
    return config.empty() ? std::string() : config + "/systemd/user";
}

std::string program_files_folder()
{
    std::string data = data_home();
    return data.empty() ? std::string() : data + "/velloq-programs";
}

std::string helper_programs_folder()
{
    // The helper programs (the store tool, the registry tool) ship beside the program itself.
    ExecutablePath self = executable_path();
    if (self.path.empty())
        return {};
    return self.path.substr(0, self.path.rfind('/'));
}

}
