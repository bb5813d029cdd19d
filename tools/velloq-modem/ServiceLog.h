#pragma once

#include <string>

namespace velloq::modem {

// A line of the service's log: into the device's Temp/velloq-modem.txt when the log is on (the
// program's format), and always on standard error, which the user's journal keeps.
void say(std::string const& line);

}
