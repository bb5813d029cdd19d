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
    // Set when the modem did not say whether it sent the message (its call timed out): the
    // modem's message that will tell, as the ModemManager that holds it (`instance`) and its path.
    // Such a message is never sent again by itself; it shows as on its way until it settles.
    struct Unsettled {
        std::string instance;
        std::string path;
    };
    std::optional<Unsettled> unsettled;
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
    // Recipients whose outcome the modem has still to tell.
    int32_t unsettled { 0 };
};

// One recipient of an outbox message, waiting to go out.
struct OutgoingSms {
    platform::Bytes entry;
    int64_t row { 0 };
    std::u16string address;
    std::u16string text;
    bool report_requested { false };
};

// One pass of the transmitter over the outbox, a recipient at a time, so that a modem that
// answers at once and one that answers later (the modem service's calls) share the bookkeeping:
// claims, the recipients a message already went to, the move to Sent Items.
class OutboxRun {
public:
    OutboxRun(platform::MessageStore&, bool reports_at_once);
    ~OutboxRun();
    OutboxRun(OutboxRun const&) = delete;
    OutboxRun& operator=(OutboxRun const&) = delete;
    // The next recipient to send to (its message claimed for this run); nullopt when the pass is
    // over.
    std::optional<OutgoingSms> next();
    // What the modem made of `sms`. When the store cannot note it, the pass stops, keeping the
    // message's claim, so nothing is sent twice to anyone.
    void record(OutgoingSms const& sms, Transmission const& transmission);
    TransmitResult const& result() const { return m_result; }

private:
    bool open_next_message();
    bool stop();
    void finish_message();

    platform::OutboxQueue& m_outbox;
    platform::MessageStore& m_store;
    bool m_reports_at_once;
    std::vector<platform::Bytes> m_queue;
    size_t m_queued { 0 };
    // The message being sent: its recipients, the rows still to go, whether all went.
    struct Current {
        platform::Bytes entry;
        platform::StoredMessage message;
        std::vector<int64_t> rows;
        size_t next_row { 0 };
        bool all_went { true };
    };
    std::optional<Current> m_current;
    bool m_stopped { false };
    TransmitResult m_result;
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
// How long the modem service waits for ModemManager to send one message: ModemManager itself
// allows a send five minutes (low signal), and its answer must reach the service.
constexpr int modem_send_timeout_seconds = 330;
// How long a transmitter waits for the service to send what is in the outbox.
constexpr int modem_service_patience_seconds = modem_send_timeout_seconds + 90;

}
