// velloq-modem: the modem service of a Velloq device. It runs until stopped (SIGTERM), started at
// login by the user's systemd (velloq-modem.service) or by hand.
//
// Exit codes: 0 stopped; 1 failed (no store, no socket, the system bus went away: systemd starts
// it again); 2 bad arguments; 3 another velloq-modem already serves the device folder (the unit
// does not restart on it).
#include "ModemService.h"
#include "ServiceLog.h"
#include "messaging/Transmitter.h"
#include "platform/FileLock.h"
#include "platform/Folders.h"
#include "platform/LocalSocket.h"
#include "platform/MessageStore.h"

#include <cstring>
#include <filesystem>
#include <iostream>

namespace {

constexpr int exit_failed = 1;
constexpr int exit_usage = 2;
constexpr int exit_already_running = 3;

constexpr char const* usage = "usage: velloq-modem [--help]\n"
                              "Follows ModemManager on the system bus: files the messages the modem receives into the device's\n"
                              "message store and sends its outbox. The device folder is $VELLOQ_DEVICE (default ~/.local/share/velloq).\n";

int serve()
{
    using namespace velloq;
    std::string folder = platform::device_folder();
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    // Held until the process ends, however it ends: one service per device folder, decided by
    // the kernel, not by whether the first one answers in time.
    std::string error;
    auto lock = platform::FileLock::try_exclusive(folder + "/velloq-modem.lock", error);
    if (!lock) {
        if (error == platform::FileLock::held) {
            std::cerr << "velloq-modem: already running for " << folder << "\n";
            return exit_already_running;
        }
        modem::say("cannot take the service's lock: " + error);
        return exit_failed;
    }
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
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << usage;
        return 0;
    }
    if (argc != 1) {
        std::cerr << usage;
        return exit_usage;
    }
    return serve();
}
