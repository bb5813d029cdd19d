#pragma once

#include "GObjectRef.h"
#include "MmsFollower.h"
#include "ModemLink.h"
#include "OutboxSender.h"
#include "SendWatch.h"
#include "messaging/Transmitter.h"
#include "platform/LocalSocket.h"
#include "platform/MessageStore.h"

#include <libmm-glib.h>

#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velloq::modem {

// How the service ends: stopped on request, or failed (systemd starts it again).
enum class ServiceExit { Stopped = 0, Failed = 1 };

// The process that owns the phone's modem for Velloq: it follows ModemManager on the system bus
// (modems coming and going, ModemManager restarting), files what the modems receive into the
// message store, and sends the outbox when a transmitter asks or a modem becomes able to. No
// call to ModemManager waits: the service answers its socket and files arrivals while a send is
// in flight.
class ModemService {
public:
    ModemService(std::unique_ptr<platform::MessageStore> store, std::unique_ptr<platform::RequestSocket> requests);
    ~ModemService();
    ModemService(ModemService const&) = delete;
    ModemService& operator=(ModemService const&) = delete;
    // Runs until SIGTERM or SIGINT (Stopped), or until the system bus goes away (Failed).
    ServiceExit run();

private:
    bool connect_to_modem_manager();
    void follow_modem_manager();
    void add_object(GDBusObject* object);
    void remove_object(GDBusObject* object);
    void owner_changed();
    std::u16string why_no_modem() const;
    ModemLink* usable_link();
    std::vector<std::string> own_numbers() const;
    void remove_from_modem(std::string const& path);
    // A pass over the outbox is wanted: one starts when none is running.
    void transmit_soon();
    void start_pass();
    void end_pass(TransmitResult const& result);
    void take_request();
    void bus_closed();

    static void on_object_added(GDBusObjectManager*, GDBusObject* object, gpointer self);
    static void on_object_removed(GDBusObjectManager*, GDBusObject* object, gpointer self);
    static void on_owner(GObject*, GParamSpec*, gpointer self);
    static void on_closed(GDBusConnection*, gboolean, GError*, gpointer self);
    static gboolean on_request(gint fd, GIOCondition, gpointer self);
    static gboolean on_housekeeping(gpointer self);
    static gboolean on_reconnect(gpointer self);
    static gboolean on_pass(gpointer self);
    static gboolean on_quit(gpointer self);

    std::unique_ptr<platform::MessageStore> m_store;
    std::unique_ptr<platform::RequestSocket> m_requests;
    GMainLoop* m_loop;
    GRef<GDBusConnection> m_bus;
    GRef<MMManager> m_manager;
    // The bus name of the running ModemManager; empty while none runs.
    std::string m_instance;
    std::map<std::string, std::unique_ptr<ModemLink>> m_links;
    SendWatch m_watch;
    std::unique_ptr<OutboxSender> m_sender;
    MmsFollower m_mms;
    // Transmitters waiting for the pass that runs now, and for the next one.
    std::vector<platform::RequestSocket::Request> m_answer_now;
    std::vector<platform::RequestSocket::Request> m_answer_next;
    bool m_pass_wanted { false };
    guint m_pass_source { 0 };
    guint m_reconnect_source { 0 };
    bool m_said_no_bus { false };
    ServiceExit m_exit { ServiceExit::Stopped };
    std::list<guint> m_sources;
    // Declared last: they end before the manager and bus they watch.
    std::list<SignalConnection> m_signals;
};

}
