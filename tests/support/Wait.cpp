#include "support/Wait.h"

#include <thread>

namespace velloq::test {

bool wait_until(std::function<bool()> const& condition, std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool wait_for_file(std::filesystem::path const& path, std::chrono::milliseconds limit)
{
    return wait_until([&] { return std::filesystem::exists(path); }, limit);
}

}
