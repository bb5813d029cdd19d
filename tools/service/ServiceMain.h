#pragma once

#include "platform/FileLock.h"

#include <functional>
#include <optional>
#include <string>

namespace velloq::service {

// The exit codes every service shares: systemd starts a failed one again, but not one that found
// another instance serving its device.
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;
constexpr int exit_already_running = 3;

// Takes the device folder's lock of the service, held until the process ends however it ends: one
// instance per device folder, decided by the kernel, not by whether the first one answers in time.
// Nullopt, with the exit code, when another instance holds it or it cannot be had.
std::optional<platform::FileLock> lock_device_for(std::string const& service, int& exit_code);

// A service's main: "--help" prints the usage, other arguments are refused (exit 2), none runs
// `serve`.
int service_main(int argc, char** argv, char const* usage, std::function<int()> const& serve);

}
