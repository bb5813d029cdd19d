#pragma once

#include <string>

namespace velloq {

// The main window's class name, "MavrelClass_" + the program's name, which later starts look for.
std::u16string main_window_class(std::u16string const& name);

// The socket that stands for the main window: named after its class, in the device folder.
std::string instance_socket_path(std::u16string const& name);

}
