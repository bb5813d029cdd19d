#pragma once

#include <string>

namespace velloq::platform {

// The value of an environment variable, empty when unset.
std::string environment_value(char const* name);

// Whether the program was asked to run without a display: SDL_VIDEODRIVER=dummy or offscreen, or
// VELLOQ_HEADLESS=1. Only then does it run on the memory-only display when no window opens.
bool headless_requested();

}
