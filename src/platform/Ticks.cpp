#include "platform/Ticks.h"

#include <time.h>

namespace velloq::platform {

uint32_t tick_count()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t milliseconds = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(milliseconds);
}

}
