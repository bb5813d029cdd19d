#pragma once

#include <cstdint>
#include <string>

namespace velloq::platform {

// Milliseconds of the monotonic clock, cut to 32 bits like the device's tick counter: it wraps
// after about 49.7 days, so users of it subtract as unsigned numbers.
uint32_t tick_count();

// A moment in local time as a file name may carry it: "20261210-101530".
std::string local_file_stamp(int64_t unix_seconds);

}
