#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace velloq::tools {

// velloq-install [--to FOLDER] [--no-service] | --remove: installs the program folder this tool
// lies in, with a menu shortcut, its registry entry and the modem service's systemd user unit
// (not with --no-service), calling the setup library's hooks the way the device's installer
// does; --remove takes everything out again. 0 on success, 1 on a failure, 2 on bad
// arguments.
int run_installer(std::vector<std::string> const& arguments, std::ostream& out, std::ostream& err);

// A desktop entry that starts the program in `folder`.
std::string desktop_entry(std::string const& folder);

}
