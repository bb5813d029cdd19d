#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>

namespace velloq::tools {

// The modem service as a systemd user service (velloq-modem.service), started at login.

// The unit that runs `folder`/velloq-modem; `device`, when not empty, is the device folder it serves.
std::string modem_service_unit(std::string const& folder, std::string const& device);
// Writes the unit and asks the user's systemd to start it now and at every login. A user
// manager that cannot be reached (no systemd) is told about, not a failure.
bool install_modem_service(std::filesystem::path const& folder, std::ostream& out, std::ostream& err);
// Stops and disables the service and removes its unit, when there is one.
void remove_modem_service(std::ostream& out);

}
