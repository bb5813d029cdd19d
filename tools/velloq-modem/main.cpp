// velloq-modem: the modem service of a Velloq device. It runs until stopped (SIGTERM), started at
// login by the user's systemd (velloq-modem.service) or by hand.
//
// Exit codes: 0 stopped; 1 failed (no store, no socket, the system bus went away: systemd starts
// it again); 2 bad arguments; 3 another velloq-modem already serves the device folder (the unit
// does not restart on it).
#include "ModemService.h"
#include "ServiceLog.h"
#include "messaging/Transmitter.h"
#include "platform/LocalSocket.h"
#include "platform/MessageStore.h"
#include "service/ServiceMain.h"

namespace {

using velloq::service::exit_failed;

constexpr char const* usage = "usage: velloq-modem [--help]\n"
                              "Follows ModemManager on the system bus: files the messages the modem receives into the device's\n"
                              "message store and sends its outbox. The device folder is $VELLOQ_DEVICE (default ~/.local/share/velloq).\n";

int serve()
{
    using namespace velloq;
    int exit_code = 0;
    auto lock = service::lock_device_for("velloq-modem", exit_code);
    if (!lock)
        return exit_code;
    std::string error;
    auto store = platform::MessageStore::open_device(error);
    if (!store) {
        modem::say("cannot open the message store: " + error);
        return exit_failed;
    }
    std::string socket = modem_service_socket();
    auto requests = platform::RequestSocket::open(socket, error);
    if (!requests) {
        modem::say("cannot listen at " + socket + ": " + error);
        return exit_failed;
    }
    modem::ModemService service(std::move(store), std::move(requests));
    return static_cast<int>(service.run());
}

}

int main(int argc, char** argv)
{
    return velloq::service::service_main(argc, argv, usage, serve);
}
