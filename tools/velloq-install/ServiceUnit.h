#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>

namespace velloq::tools {

// A service beside the program, run by the user's systemd from login on.
struct ServiceProgram {
    char const* program;     // in the program folder
    char const* unit;        // the unit's file name
    char const* description;
};

// The modem service (ModemManager) and the contacts service (Evolution Data Server).
extern ServiceProgram const modem_service;
extern ServiceProgram const contacts_service;

// The unit that runs `folder`/<program>; `device`, when not empty, is the device folder it serves.
std::string service_unit(ServiceProgram const&, std::string const& folder, std::string const& device);
// Writes the unit and asks the user's systemd to start it now and at every login. A user
// manager that cannot be reached (no systemd) is told about, not a failure.
bool install_service(ServiceProgram const&, std::filesystem::path const& folder, std::ostream& out, std::ostream& err);
// Stops and disables the service and removes its unit, when there is one.
void remove_service(ServiceProgram const&, std::ostream& out);

}
