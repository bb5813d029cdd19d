#pragma once

#include "GObjectRef.h"
#include "platform/MessageStore.h"

#include <libmm-glib.h>

#include <functional>
#include <list>
#include <map>
#include <string>

namespace velloq::modem {

// One modem of ModemManager: takes every complete message and status report off it into the
// message store (deleting it from the modem only after the store committed it), and says when
// the modem can send.
class ModemLink {
public:
    ModemLink(MMObject* object, platform::MessageStore& store, std::function<void()> became_usable);
    ModemLink(ModemLink const&) = delete;
    ModemLink& operator=(ModemLink const&) = delete;

    std::string path() const;
    // Registered with a network, with its messaging interface: it can send.
    bool usable() const;
    std::string state_text() const;
    MMModemMessaging* messaging() const { return m_messaging.get(); }
    // Lists the modem's messages and takes those that are complete.
    void sweep();

private:
    void attach_messaging();
    void take_path(std::string const& path);
    void take(MMSms* sms);
    void take_received(MMSms* sms);
    void take_report(MMSms* sms);
    void watch_incomplete(MMSms* sms);
    bool stale(MMSms* sms, std::string const& path);
    void remove_from_modem(std::string const& path);
    void state_changed();

    static void on_added(MMModemMessaging*, gchar const* path, gboolean received, gpointer self);
    static void on_interface_added(GDBusObject*, GDBusInterface*, gpointer self);
    static void on_modem_state(GObject*, GParamSpec*, gpointer self);
    static void on_sms_state(GObject*, GParamSpec*, gpointer self);

    GRef<MMObject> m_object;
    GRef<MMModem> m_modem;
    GRef<MMModemMessaging> m_messaging;
    platform::MessageStore& m_store;
    std::function<void()> m_became_usable;
    bool m_was_usable { false };
    // Messages still arriving in parts, by path, with when they were first seen here.
    struct Incomplete {
        GRef<MMSms> sms;
        gint64 first_seen { 0 };
    };
    std::map<std::string, Incomplete> m_incomplete;
    // Declared last: they end before the objects they watch.
    std::list<SignalConnection> m_signals;
    std::map<std::string, SignalConnection> m_sms_signals;
};

// The network time stamp of a message as FILETIME (UTC); now when it has none.
int64_t sms_filetime(gchar const* timestamp);
int64_t now_filetime();

}
