#pragma once

#include "platform/MessageStore.h"

#include <string>
#include <vector>

namespace velloq {

// Hands an outgoing message to the radio. The built-in back end is a loopback modem that
// accepts every message; a back end for a real phone's modem answers the same way.
class ModemBackend {
public:
    virtual ~ModemBackend() = default;
    // True when the message went out to the recipient's number.
    virtual bool transmit(std::u16string const& address, std::u16string const& text) = 0;
};

class LoopbackModem final : public ModemBackend {
public:
    bool transmit(std::u16string const&, std::u16string const&) override { return true; }
};

struct TransmitResult {
    int32_t sent { 0 };
    int32_t reports { 0 };
    int32_t failed { 0 };
};

// The phone's messaging program in the background: every submitted outbox message goes to the
// modem and then to Sent Items under a new entry id, flagged sent; when a delivery report was
// requested, a report message naming each recipient's number is filed in the inbox.
TransmitResult transmit_outbox(platform::MessageStore&, ModemBackend&);

}
