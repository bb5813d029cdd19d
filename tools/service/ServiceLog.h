#pragma once

#include <string>

namespace velloq::service {

// A line of a service's log: into the device's Temp/<service>.txt when the log is on (the
// program's format), and always on standard error after the service's name, which the user's
// journal keeps.
void say(std::string const& line);

}
