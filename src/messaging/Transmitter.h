#pragma once

#include "platform/MessageStore.h"

#include <optional>
#include <string>
#include <vector>

namespace velloq {

// What the modem made of one message to one number.
struct Transmission {
    bool sent { false };
    // The reference the network will name in its delivery report.
    std::optional<int64_t> reference;
    // Why it was not sent, in words for the log and the chat.
    std::u16string error;
};

// Hands an outgoing message to the radio.
class ModemBackend {
public:
    virtual ~ModemBackend() = default;
    virtual Transmission transmit(std::u16string const& address, std::u16string const& text, bool report_requested) = 0;
    // Whether the report of a requested delivery is known as soon as the message is sent.
    virtual bool reports_at_once() const { return false; }
};

// The demo device's and the tests' modem: it accepts every message, and its network delivers at once.
class LoopbackModem final : public ModemBackend {
public:
    Transmission transmit(std::u16string const&, std::u16string const&, bool) override { return { true, std::nullopt, {} }; }
    bool reports_at_once() const override { return true; }
};

// No modem to send with: every message stays in the outbox, noted as not sent for `reason`.
class AbsentModem final : public ModemBackend {
public:
    explicit AbsentModem(std::u16string reason)
        : m_reason(std::move(reason))
    {
    }
    Transmission transmit(std::u16string const&, std::u16string const&, bool) override { return { false, std::nullopt, m_reason }; }

private:
    std::u16string m_reason;
};

struct TransmitResult {
    int32_t sent { 0 };
    int32_t reports { 0 };
    int32_t failed { 0 };
};

// The phone's messaging program in the background: every submitted outbox message goes to the
// modem and then to Sent Items under a new entry id, flagged sent. Each recipient row records how
// far it got (sent with the modem's reference, or not sent and why); a message that did not go
// to everyone stays in the outbox for the next run. A modem that knows the delivery at once
// (the loopback) has its report filed in the inbox straight away.
TransmitResult transmit_outbox(platform::MessageStore&, ModemBackend&);

// A delivery (or non-delivery) report message naming `address`, about the sent message `reported`.
platform::StoredMessage delivery_report(std::u16string const& address, bool delivered, platform::Bytes const& reported, int64_t filetime);
// Files a delivery (or non-delivery) report naming `address` in the inbox; `reported` is the
// sent message it is about, when known.
bool file_delivery_report(platform::MessageStore&, std::u16string const& address, bool delivered, platform::Bytes const& reported);

// The registry's choice of modem (the value "Modem" under HKEY_CURRENT_USER\Software\Ketra\Velloq):
// "loopback" on the demo device and in tests; anything else, or nothing, is the phone's modem
// through the modem service.
bool loopback_modem_chosen();

// Where the modem service of the current device takes its requests ("transmit").
std::string modem_service_socket();
// How long a transmitter waits for the service to send what is in the outbox.
constexpr int modem_service_patience_seconds = 300;

}
