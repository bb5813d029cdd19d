#pragma once

#include "AsyncCall.h"
#include "GObjectRef.h"
#include "messaging/Transmitter.h"

#include <libmm-glib.h>

#include <functional>
#include <string>

namespace velloq::modem {

// One pass of the outbox through a modem, without blocking the service: for each recipient it
// creates the message on the modem, sends it (allowing ModemManager its own time limit), reads
// the network's reference and deletes the modem's copy. A send whose call timed out is left on
// the modem, noted as unsettled, and never sent again by itself.
class OutboxSender {
public:
    using Done = std::function<void(TransmitResult const&)>;
    // `instance` is the bus name of the ModemManager that owns `messaging`.
    OutboxSender(platform::MessageStore& store, MMModemMessaging* messaging, std::string instance, Done done);
    OutboxSender(OutboxSender const&) = delete;
    OutboxSender& operator=(OutboxSender const&) = delete;
    // Begins the pass; `done` runs from the main loop when it is over.
    void start();

private:
    void send_next();
    void create(OutgoingSms sms);
    void send(OutgoingSms sms, GRef<MMSms> modem_sms);
    void read_reference(OutgoingSms sms, GRef<MMSms> modem_sms);

    OutboxRun m_run;
    GRef<MMModemMessaging> m_messaging;
    std::string m_instance;
    Done m_done;
    CallScope m_calls;
};

// Deletes a message from the modem without waiting; a failure is logged.
void delete_from_modem(MMModemMessaging* messaging, std::string const& path);
// Whether a failed send may still have gone out: the call timed out, here or in ModemManager.
bool send_outcome_unknown(GError const* error);

}
