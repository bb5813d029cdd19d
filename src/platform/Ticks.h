#pragma once

#include <cstdint>

namespace velloq::platform {

// Milliseconds of the monotonic clock, cut to 32 bits like the device's tick counter: it wraps
// after about 49.7 days, so users of it subtract as unsigned numbers.
uint32_t tick_count();

}
