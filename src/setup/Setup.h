#pragma once

// The four hooks the installer calls while it installs or removes the program. Each takes the
// installer's window (unused on this platform) and the installation folder as UTF-16 text
// (null when the installer has none); each returns 0, whatever its steps did.
extern "C" {
int Install_Init(void* window, char16_t const* install_folder);
int Install_Exit(void* window, char16_t const* install_folder);
int Uninstall_Init(void* window, char16_t const* install_folder);
int Uninstall_Exit(void* window, char16_t const* install_folder);
}
