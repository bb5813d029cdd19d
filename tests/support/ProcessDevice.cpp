// A test process never touches the user's own device folder: unless one is named, the process
// starts on a temporary device of its own, removed when it ends. Each test still makes its own
// (TempDevice), and goes back to this one afterwards.
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

struct ProcessDevice {
    ProcessDevice()
    {
        if (std::getenv("VELLOQ_DEVICE"))
            return;
        std::string pattern = (std::filesystem::temp_directory_path() / "velloq-process-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            return;
        path = pattern;
        ::setenv("VELLOQ_DEVICE", path.c_str(), 1);
    }
    ~ProcessDevice()
    {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
    std::string path;
} const process_device;

}
