#pragma once

#include "GObjectRef.h"
#include "ModemLink.h"
#include "messaging/Transmitter.h"
#include "platform/LocalSocket.h"
#include "platform/MessageStore.h"

#include <libmm-glib.h>

#include <list>
#include <map>
#include <memory>
#include <string>

namespace velloq::modem {

// The process that owns the phone's modem for Velloq: it follows ModemManager on the system bus
// (modems coming and going, ModemManager restarting), files what the modems receive into the
// message store, and sends the outbox when a transmitter asks or a modem becomes able to.
class ModemService {
public:
    ModemService(std::unique_ptr<platform::MessageStore> store, std::unique_ptr<platform::RequestSocket> requests);
    ~ModemService();
    ModemService(ModemService const&) = delete;
    ModemService& operator=(ModemService const&) = delete;
    // Runs until SIGTERM or SIGINT.
    void run();

private:
    bool connect_to_modem_manager();
    void follow_modem_manager();
    void add_object(GDBusObject* object);
    void remove_object(GDBusObject* object);
    void owner_changed();
    TransmitResult transmit();
    std::u16string why_no_modem() const;
    ModemLink* usable_link();
    void transmit_soon();
    std::string answer(std::string const& request);

    static void on_object_added(GDBusObjectManager*, GDBusObject* object, gpointer self);
    static void on_object_removed(GDBusObjectManager*, GDBusObject* object, gpointer self);
    static void on_owner(GObject*, GParamSpec*, gpointer self);
    static gboolean on_request(gint fd, GIOCondition, gpointer self);
    static gboolean on_sweep(gpointer self);
    static gboolean on_reconnect(gpointer self);
    static gboolean on_transmit(gpointer self);
    static gboolean on_quit(gpointer loop);

    std::unique_ptr<platform::MessageStore> m_store;
    std::unique_ptr<platform::RequestSocket> m_requests;
    GMainLoop* m_loop;
    GRef<GDBusConnection> m_bus;
    GRef<MMManager> m_manager;
    std::map<std::string, std::unique_ptr<ModemLink>> m_links;
    guint m_transmit_source { 0 };
    guint m_reconnect_source { 0 };
    bool m_said_no_bus { false };
    std::list<guint> m_sources;
    // Declared last: they end before the manager they watch.
    std::list<SignalConnection> m_signals;
};

}
