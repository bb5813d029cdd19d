#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velloq::platform {

// Splits a device-style command line ("\"C:/path with blanks/prog\" message") into arguments
// by the Windows rules, so that what the device would hand one program arrives here as the same
// argv: blanks separate, double quotes group, 2n backslashes before a quote give n backslashes
// and toggle quoting, 2n+1 give n backslashes and a literal quote.
std::vector<std::u16string> split_command_line(std::u16string_view command_line);

// Starts a program detached from this process: its own session, standard streams on
// /dev/null, never a shell, and no zombie left behind. The first argument is the program; a
// name without "/" is looked up in PATH. Returns false with `error` set when it cannot run; with
// `started_pid`, the started program's process id is stored there.
// `environment` entries (NAME=VALUE) are put over this process's environment for the program.
bool start_detached(std::vector<std::u16string> const& arguments, std::string& error, int64_t* started_pid = nullptr,
    std::vector<std::string> const& environment = {});

// Runs a program and returns what it wrote on its standard output; nullopt when it could not run,
// failed, or did not finish within the time (it is then killed).
std::optional<std::string> read_program_output(std::vector<std::string> const& arguments, int timeout_ms);

// When a running process began (clock ticks since boot), which tells it from a later process
// that got the same id; nullopt when no such process runs.
std::optional<uint64_t> process_start_time(int64_t pid);

// Milliseconds since this process began (to the kernel's clock tick), or nullopt.
std::optional<uint64_t> milliseconds_since_start();

// Ends this process at once with the exit code: no destructor or exit handler runs.
[[noreturn]] void end_process_now(int exit_code);

}
