#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>

namespace velloq::tools {

// What the desktop learns of the program beyond its menu entry: the icon in its sizes (in the
// user's icon theme folder), the software centres' description (metainfo), and that the program
// opens sms: and smsto: links (through xdg-mime, or the user's mimeapps.list without it).
void install_desktop_integration(std::filesystem::path const& program_folder, std::ostream& out);
// Takes all of it away again; a link handler the user has set to another program stays.
void remove_desktop_integration(std::ostream& out);

// The user's mimeapps.list text with the program made (or no longer) the handler of the links.
std::string with_link_handler(std::string const& mimeapps, std::string const& desktop_id);
std::string without_link_handler(std::string const& mimeapps, std::string const& desktop_id);

}
