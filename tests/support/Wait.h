#pragma once

#include <chrono>
#include <filesystem>
#include <functional>

namespace velloq::test {

// Polls until the condition holds or the time is up; true when it held. For effects of detached
// processes, whose end a test cannot wait for.
bool wait_until(std::function<bool()> const& condition, std::chrono::milliseconds limit = std::chrono::seconds(30));

bool wait_for_file(std::filesystem::path const&, std::chrono::milliseconds limit = std::chrono::seconds(30));

}
