#pragma once

#include <optional>
#include <string>

namespace velloq::platform {

// The device is a folder: registry, message store, contacts and the temporary folder live in it.
// It is $VELLOQ_DEVICE, else $XDG_DATA_HOME/velloq, else ~/.local/share/velloq, made absolute.
// The folder and its Temp/ are created on first use, as a device always has its /Temp.
std::string device_folder();

// Points this process at another device folder (tools and tests); later calls see the new one.
void use_device_folder(std::string const& path);
// The next `device_folder` is chosen again from the environment.
void forget_device_folder();

// The running program's own file, as the kernel reports it; nullopt when the name is longer
// than the platform's path limit.
struct ExecutablePath {
    std::string path;
    bool too_long { false };
};
ExecutablePath executable_path();
// From now on the running module is this file (a shared library taking its own location, as a
// library inside an installer does); `executable_path` names it.
void use_module_file(std::string path);

// The platform's special folders that stand in for the device shell's ones. An empty string
// means the folder cannot be found.
std::string documents_folder();     // XDG documents folder
std::string pictures_folder();      // XDG pictures folder: where saved pictures go
std::string applications_folder();  // $XDG_DATA_HOME/applications: program shortcuts, start menu
std::string autostart_folder();     // $XDG_CONFIG_HOME/autostart
std::string data_folder();          // $XDG_DATA_HOME: icons, software centres' descriptions
std::string config_folder();        // $XDG_CONFIG_HOME: which program opens which links
std::string desktop_contacts_folder(); // $XDG_DATA_HOME/kpeoplevcard: Plasma's address book
std::string systemd_user_folder(); // $XDG_CONFIG_HOME/systemd/user: the user's service units
std::string program_files_folder(); // $XDG_DATA_HOME/velloq-programs
std::string helper_programs_folder(); // the folder of the program's helper executables

}
