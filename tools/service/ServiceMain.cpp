#include "service/ServiceMain.h"

#include "platform/Folders.h"
#include "service/ServiceLog.h"

#include <cstring>
#include <filesystem>
#include <iostream>

namespace velloq::service {

std::optional<platform::FileLock> lock_device_for(std::string const& service, int& exit_code)
{
    std::string folder = platform::device_folder();
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    std::string error;
    auto lock = platform::FileLock::try_exclusive(folder + "/" + service + ".lock", error);
    if (lock)
        return lock;
    if (error == platform::FileLock::held) {
        std::cerr << service << ": already running for " << folder << "\n";
        exit_code = exit_already_running;
    } else {
        say("cannot take the service's lock: " + error);
        exit_code = exit_failed;
    }
    return std::nullopt;
}

int service_main(int argc, char** argv, char const* usage, std::function<int()> const& serve)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << usage;
        return 0;
    }
    if (argc != 1) {
        std::cerr << usage;
        return exit_usage;
    }
    return serve();
}

}
