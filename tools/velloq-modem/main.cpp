// velloq-modem: the modem service of a Velloq device. It runs until stopped (SIGTERM), started at
// login by the user's systemd (velloq-modem.service) or by hand.
#include "ModemService.h"
#include "ServiceLog.h"
#include "messaging/Transmitter.h"
#include "platform/Folders.h"
#include "platform/LocalSocket.h"
#include "platform/MessageStore.h"

#include <cstring>
#include <iostream>

namespace {

constexpr char const* usage = "usage: velloq-modem [--help]\n"
                              "Follows ModemManager on the system bus: files the messages the modem receives into the device's\n"
                              "message store and sends its outbox. The device folder is $VELLOQ_DEVICE (default ~/.local/share/velloq).\n";

int serve()
{
    using namespace velloq;
    std::string socket = modem_service_socket();
    if (auto running = platform::ask_service(socket, "ping", 2)) {
        std::cerr << "velloq-modem: already running for " << platform::device_folder() << " (" << *running << ")\n";
        return 1;
    }
    std::string error;
    auto store = platform::MessageStore::open_device(error);
    if (!store) {
        modem::say("cannot open the message store: " + error);
        return 1;
    }
    auto requests = platform::RequestSocket::open(socket, error);
    if (!requests) {
        modem::say("cannot listen at " + socket + ": " + error);
        return 1;
    }
    modem::ModemService service(std::move(store), std::move(requests));
    service.run();
    return 0;
}

}

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << usage;
        return 0;
    }
    if (argc != 1) {
        std::cerr << usage;
        return 2;
    }
    return serve();
}
