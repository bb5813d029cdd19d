#pragma once

#include "platform/Folders.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace velloq::bench {

// The size of the store the store, chat and search benchmarks seed: VELLOQ_BENCH_SIZE=100k (the
// default: 100,000 messages in 2,000 chats) or 1m (1,000,000 messages in 10,000 chats).
struct StoreSize {
    int64_t messages;
    int64_t chats;
    char const* name;
};

inline StoreSize const& store_size()
{
    static StoreSize const size = [] {
        char const* asked = std::getenv("VELLOQ_BENCH_SIZE");
        if (asked && std::string(asked) == "1m")
            return StoreSize { 1'000'000, 10'000, "1m" };
        if (asked && std::string(asked) != "100k")
            std::abort();
        return StoreSize { 100'000, 2'000, "100k" };
    }();
    return size;
}

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
