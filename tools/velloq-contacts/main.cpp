// velloq-contacts: the address books of the user's Evolution Data Server (GNOME Contacts, the
// phone's dialer and messenger) as contacts of a Velloq device. It runs until stopped (SIGTERM or
// SIGINT), started at login by the user's systemd (velloq-contacts.service) or by hand.
//
// Exit codes: 0 stopped; 1 failed (no session bus); 2 bad arguments; 3 another velloq-contacts
// already serves the device folder.
#include "AddressBookBridge.h"
#include "ContactMirror.h"
#include "platform/Folders.h"
#include "service/ServiceLog.h"
#include "service/ServiceMain.h"

#include <glib-unix.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

using velloq::service::exit_failed;

constexpr char const* usage = "usage: velloq-contacts [--help]\n"
                              "Mirrors the contacts with a phone number of every enabled address book of Evolution Data Server\n"
                              "into the device's contacts/ folder (eds-*.vcf) and keeps them in step. The device folder is\n"
                              "$VELLOQ_DEVICE (default ~/.local/share/velloq).\n";

gboolean stop(gpointer loop)
{
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

// How the service ended: stopped, or to start again (EDS came back after it went away).
enum class Ending { Stopped, Again };

int serve(Ending& ending)
{
    using namespace velloq;
    int exit_code = 0;
    auto lock = service::lock_device_for("velloq-contacts", exit_code);
    if (!lock)
        return exit_code;
    std::string folder = platform::device_folder();
    service::GErrorHolder bus_error;
    service::GRef<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, bus_error.out()));
    if (!bus) {
        service::say("no session bus: " + bus_error.message());
        return exit_failed;
    }
    contacts::ContactMirror mirror(folder + "/contacts");
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_unix_signal_add(SIGTERM, &stop, loop);
    g_unix_signal_add(SIGINT, &stop, loop);
    {
        contacts::AddressBookBridge bridge(mirror, [&] {
            ending = Ending::Again;
            g_main_loop_quit(loop);
        });
        g_main_loop_run(loop);
    }
    g_main_loop_unref(loop);
    return 0;
}

}

int main(int argc, char** argv)
{
    Ending ending = Ending::Stopped;
    int code = velloq::service::service_main(argc, argv, usage, [&] { return serve(ending); });
    if (ending == Ending::Again) {
        // Everything of the last run is let go (the lock included); the service starts anew as
        // the same program, and the new run finds the contacts changed meanwhile.
        execv("/proc/self/exe", argv);
        velloq::service::say(std::string("cannot start again: ") + std::strerror(errno));
        return exit_failed;
    }
    return code;
}
