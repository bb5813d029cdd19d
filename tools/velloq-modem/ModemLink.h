#pragma once

#include "AsyncCall.h"
#include "GObjectRef.h"
#include "platform/MessageStore.h"

#include <libmm-glib.h>

#include <deque>
#include <functional>
#include <list>
#include <map>
#include <set>
#include <string>

namespace velloq::modem {

// One modem of ModemManager: takes every complete message and status report off it into the
// message store (deleting it from the modem only after the store committed it), and says when
// the modem can send. It lists the modem's messages once and then follows ModemManager's Added
// and Deleted signals; no call to ModemManager waits, so the service always answers.
class ModemLink {
public:
    struct Events {
        // The modem can send now, and could not before.
        std::function<void()> became_usable;
        // ModemManager deleted a message from the modem.
        std::function<void(std::string const& path)> message_deleted;
    };
    // `instance` names the ModemManager that holds the modem (its bus name): the same modem
    // message path means the same message only within one.
    ModemLink(MMObject* object, std::string instance, platform::MessageStore& store, Events events);
    ~ModemLink();
    ModemLink(ModemLink const&) = delete;
    ModemLink& operator=(ModemLink const&) = delete;

    std::string path() const;
    // Registered with a network, with its messaging interface: it can send.
    bool usable() const;
    std::string state_text() const;
    // The phone numbers of the modem's SIM as the modem knows them (often none).
    std::vector<std::string> own_numbers() const;
    MMModemMessaging* messaging() const { return m_messaging.get(); }

private:
    void attach_messaging();
    void list_messages();
    bool take_waiting();
    void take_path(std::string const& path);
    void take(MMSms* sms);
    void take_received(MMSms* sms);
    void take_report(MMSms* sms);
    void watch_incomplete(MMSms* sms);
    void drop_if_stale(std::string const& path);
    void forget_incomplete(std::string const& key);
    void leave_on_modem(std::string const& path, std::string const& why);
    // Drops what stayed incomplete for days, and tries again what could not be listed or filed.
    void housekeeping();
    void forget(std::string const& path);
    void remove_from_modem(std::string const& path);
    void state_changed();

    static void on_added(MMModemMessaging*, gchar const* path, gboolean received, gpointer self);
    static void on_deleted(MMModemMessaging*, gchar const* path, gpointer self);
    static void on_interface_added(GDBusObject*, GDBusInterface*, gpointer self);
    static void on_modem_state(GObject*, GParamSpec*, gpointer self);
    static void on_sms_state(GObject*, GParamSpec*, gpointer self);
    static gboolean on_housekeeping(gpointer self);
    static gboolean on_take_waiting(gpointer self);

    GRef<MMObject> m_object;
    GRef<MMModem> m_modem;
    GRef<MMModemMessaging> m_messaging;
    std::string m_instance;
    platform::MessageStore& m_store;
    Events m_events;
    bool m_was_usable { false };
    bool m_listed { false };
    guint m_housekeeping { 0 };
    // The messages the listing found, still to be taken.
    std::deque<GRef<MMSms>> m_waiting;
    guint m_take_waiting { 0 };
    // Messages still arriving in parts, by path, with the key their first sighting is kept under
    // in the store, and that sighting (unix time).
    struct Incomplete {
        GRef<MMSms> sms;
        std::string key;
        int64_t first_seen { 0 };
    };
    std::map<std::string, Incomplete> m_incomplete;
    // Messages left on the modem for another program (MMS notifications, data), said once each.
    std::set<std::string> m_left;
    // Paths being taken or deleted, so a signal arriving meanwhile does not take one twice.
    std::set<std::string> m_busy;
    // Messages that could not be read or filed, taken again by housekeeping.
    std::set<std::string> m_retry;
    // Declared after what they watch and before the scope: they end first.
    std::list<SignalConnection> m_signals;
    std::map<std::string, SignalConnection> m_sms_signals;
    CallScope m_calls;
};

// The network time stamp of a message as FILETIME (UTC); a time stamp without a UTC offset is
// local time; now when there is none.
int64_t sms_filetime(gchar const* timestamp);
int64_t now_filetime();

}
