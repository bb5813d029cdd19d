#pragma once

#include "AsyncCall.h"
#include "GObjectRef.h"
#include "platform/MessageStore.h"

#include <libmm-glib.h>

#include <functional>
#include <map>
#include <string>

namespace velloq::modem {

// Follows the sends whose outcome the modem has still to tell (their call timed out) until it
// does: the modem's message reaches the state "sent", and the recipient shows as sent with its
// reference. When the modem can no longer tell (its message is gone, ModemManager restarted, or
// twice ModemManager's time limit passed), the recipient shows as not sent, and nothing sends it
// again by itself: whether it went out is not known, and only the user may send it once more.
class SendWatch {
public:
    // `remove_from_modem` deletes a settled message from the modem that holds it.
    SendWatch(platform::MessageStore& store, std::function<void(std::string const& path)> remove_from_modem);
    SendWatch(SendWatch const&) = delete;
    SendWatch& operator=(SendWatch const&) = delete;

    // Takes up the store's unsettled sends under ModemManager `instance` on `bus` (an empty
    // instance: ModemManager is not running).
    void refresh(GDBusConnection* bus, std::string const& instance);
    void message_deleted(std::string const& path);
    // Settles what waited too long.
    void expire();

private:
    void watch(GDBusConnection* bus, platform::OutboxQueue::UnsettledSend const& send);
    std::vector<platform::OutboxQueue::UnsettledSend> unsettled_sends();
    void look_at(std::string const& path);
    void settle_sent(std::string const& path, MMSms* sms);
    void settle_unknown(std::string const& instance, std::string const& path, std::string const& why);
    static void on_state(GObject*, GParamSpec*, gpointer self);

    platform::MessageStore& m_store;
    std::function<void(std::string const& path)> m_remove_from_modem;
    std::string m_instance;
    struct Watched {
        int64_t since { 0 };
        GRef<MMSms> sms;
        SignalConnection state;
    };
    std::map<std::string, Watched> m_watched;
    CallScope m_calls;
};

}
