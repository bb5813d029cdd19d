#pragma once

#include "platform/Folders.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace velloq::bench {

// A fresh device folder for the benchmark process, made once; the process uses it from then on.
inline std::string const& bench_device()
{
    static std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "velloq-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        platform::use_device_folder(pattern);
        return pattern;
    }();
    return folder;
}

}
