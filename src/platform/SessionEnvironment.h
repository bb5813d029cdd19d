#pragma once

#include <string>
#include <vector>

namespace velloq::platform {

// What a program needs to show itself in the user's graphical session (DISPLAY,
// WAYLAND_DISPLAY, XAUTHORITY, XDG_*, the session bus), as NAME=VALUE entries, for a process
// that has none of it itself: a service started outside the session, or a terminal without a
// display. Taken from the systemd user manager's environment, which the desktop session fills;
// empty when this process has a display already or the session's environment cannot be had.
std::vector<std::string> graphical_session_variables();

}
