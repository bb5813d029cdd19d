#pragma once

#include "messaging/Transmitter.h"

#include <libmm-glib.h>

namespace velloq::modem {

// Sends through a modem's messaging interface: creates the message on the modem, sends it, keeps
// the network's message reference, and deletes it from the modem again (the store keeps it).
class ModemTransmitter final : public ModemBackend {
public:
    explicit ModemTransmitter(MMModemMessaging* messaging)
        : m_messaging(messaging)
    {
    }
    Transmission transmit(std::u16string const& address, std::u16string const& text, bool report_requested) override;

private:
    MMModemMessaging* m_messaging;
};

}
