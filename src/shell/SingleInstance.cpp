#include "platform/Folders.h"
#include "platform/SingleInstance.h"
#include "platform/Utf.h"
#include "shell/GameBase.h"
#include "shell/Log.h"
#include "shell/SingleInstancePaths.h"

namespace velloq {

namespace {

std::unique_ptr<platform::StartupLock> g_startup_lock;

constexpr std::u16string_view empty_command_line = u"%CommandLineEmpty%";

}

std::string instance_socket_path(std::u16string const& name)
{
    return platform::device_folder() + "/" + to_utf8(main_window_class(name));
}

std::u16string main_window_class(std::u16string const& name)
{
    return u"MavrelClass_" + name;
}

bool show_running_instance(std::u16string const& command_line, std::u16string const& name)
{
    log() << u"Application::show_running_instance_open_bracket cmd_line=" << log_safe(command_line) << u"\n";
    // The named start-up mutex is a locked file named after the program, in the device folder.
    g_startup_lock = platform::StartupLock::acquire(platform::device_folder() + "/" + to_utf8(name) + ".lock");
    if (!g_startup_lock) {
        log() << u"Application::show_running_instance_open_bracket mutex==0\n";
        return false;
    }
    std::u16string text = command_line.empty() ? std::u16string(empty_command_line) : command_line;
    int32_t peer = 0;
    switch (platform::hand_over_to_running_instance(instance_socket_path(name), text, peer)) {
    case platform::HandOver::NoInstance:
        return false;
    case platform::HandOver::Delivered:
        log() << u"Application::EnumProc window found hwnd=" << peer << u" 1\n";
        log() << u"Application::EnumProc window found 2\n";
        return true;
    case platform::HandOver::Refused:
        log() << u"Application::EnumProc window found hwnd=" << peer << u" 1\n";
        log() << u"Application::show_running_instance command line of " << static_cast<uint64_t>(text.size())
              << u" characters refused by the running instance\n";
        return true;
    }
    return false;
}

void release_startup_lock()
{
    g_startup_lock.reset();
}

}
