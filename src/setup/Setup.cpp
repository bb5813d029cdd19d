// The setup library's four exports.
#include "setup/Setup.h"

#include "platform/DynamicLibrary.h"
#include "platform/Folders.h"
#include "setup/ShortcutNaming.h"

namespace {

// The library logs and finds its paths as its own module, not as the installer that loaded it,
// and works on the device the environment names at each call (a host may change it between
// calls; the library keeps its own copy of the device folder, apart from the host's).
void take_own_location()
{
    velloq::platform::forget_device_folder();
    static bool taken = [] {
        velloq::platform::use_module_file(velloq::platform::module_file_of(reinterpret_cast<void const*>(&take_own_location)));
        return true;
    }();
    (void)taken;
}

}

extern "C" {

int Install_Init(void*, char16_t const*)
{
    return 0;
}

int Install_Exit(void*, char16_t const* install_folder)
{
    take_own_location();
    velloq::setup::name_shortcut(install_folder, velloq::setup::Direction::Install);
    return 0;
}

int Uninstall_Init(void*, char16_t const* install_folder)
{
    take_own_location();
    velloq::setup::name_shortcut(install_folder, velloq::setup::Direction::Uninstall);
    velloq::setup::clean_up(install_folder);
    return 0;
}

int Uninstall_Exit(void*, char16_t const*)
{
    return 0;
}

}
