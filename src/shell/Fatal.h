#pragma once

#include <string_view>

namespace velloq {

// The exit code of a process ended by a fatal report: a broken internal rule is a failure, and
// whoever started the process must be able to tell.
constexpr int fatal_exit_code = 70;

// Writes "Gluck: " + what + " @ " + where to the log, flushes it and ends the process at once:
// no destructor runs and nothing else is saved.
[[noreturn]] void fatal(std::u16string_view where, std::u16string_view what);

}
