#pragma once

#include <string>
#include <string_view>

namespace velloq {

// The running program's own file. A name longer than the platform's path limit is fatal.
std::u16string get_app_path();

// Where the program lives, split from its full name.
struct ProgramLocation {
    std::u16string full_name;
    std::u16string folder;    // without a trailing separator
    std::u16string file_name; // with its extension
};
ProgramLocation program_location_from(std::u16string_view full_name);

// Turns a file name written with a leading path macro ("%app_path%/skins/bin/") into a path of
// this machine. Only a macro at the very start is replaced; "\" and "/" both become "/"; a name
// that starts with "/Temp/" lies in the device folder's temporary folder.
std::u16string expand_path(std::u16string_view text);

// Creates the folder and every missing parent, outermost first, logging each attempt.
void create_directories(std::u16string const& path);

// Whether `file_name` exists in the folder where `program` is installed, by the program's
// "InstallDir" registry value; `out_folder` receives that folder with the file name appended.
bool find_installed_program_file(std::u16string_view program, std::u16string_view file_name, std::u16string& out_folder);

}
