#include "platform/Environment.h"

#include <cstdlib>

namespace velloq::platform {

std::string environment_value(char const* name)
{
    char const* value = std::getenv(name);
    return value ? value : "";
}

bool headless_requested()
{
    std::string driver = environment_value("SDL_VIDEODRIVER");
    return driver == "dummy" || driver == "offscreen" || environment_value("VELLOQ_HEADLESS") == "1";
}

}
