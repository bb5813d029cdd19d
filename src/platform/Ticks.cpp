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

std::string local_file_stamp(int64_t unix_seconds)
{
    time_t moment = static_cast<time_t>(unix_seconds);
    struct tm local {};
    if (!localtime_r(&moment, &local))
        return std::to_string(unix_seconds);
    char text[32];
    return strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local) ? std::string(text) : std::to_string(unix_seconds);
}

}
