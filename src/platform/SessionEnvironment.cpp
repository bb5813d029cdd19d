#include "platform/SessionEnvironment.h"

#include "platform/Process.h"

#include <array>
#include <cstdlib>
#include <sstream>
#include <string_view>

namespace velloq::platform {

namespace {

constexpr std::array<std::string_view, 8> session_names { "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "XDG_RUNTIME_DIR", "XDG_SESSION_TYPE",
    "XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "DBUS_SESSION_BUS_ADDRESS" };
// The user manager answers at once or not at all; a delivery never waits longer for it.
constexpr int answer_ms = 2000;

bool has_display()
{
    char const* x11 = std::getenv("DISPLAY");
    char const* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

}

std::vector<std::string> graphical_session_variables()
{
    std::vector<std::string> variables;
    if (has_display())
        return variables;
    auto output = read_program_output({ "systemctl", "--user", "show-environment" }, answer_ms);
    if (!output)
        return variables;
    std::istringstream lines(*output);
    std::string line;
    while (std::getline(lines, line)) {
        size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        std::string_view name(line.data(), equals);
        // A value the manager had to quote ($'...') holds characters no display name has.
        bool quoted = line.compare(equals + 1, 2, "$'") == 0;
        for (auto wanted : session_names) {
            if (name == wanted && !quoted)
                variables.push_back(line);
        }
    }
    return variables;
}

}
