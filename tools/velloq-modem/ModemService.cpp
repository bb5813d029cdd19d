#include "ModemService.h"

#include "ModemTransmitter.h"
#include "ServiceLog.h"

#include <glib-unix.h>

#include <csignal>
#include <unistd.h>
#include <utility>

namespace velloq::modem {

namespace {

constexpr guint sweep_seconds = 60;
constexpr guint reconnect_seconds = 5;
// The store forgets what it filed from a modem after a month; the modem holds nothing that old.
constexpr gint64 filed_memory_seconds = 30 * 24 * 3600;

std::string result_text(TransmitResult const& result)
{
    return "sent " + std::to_string(result.sent) + ", reports " + std::to_string(result.reports) + ", failed " + std::to_string(result.failed);
}

}

ModemService::ModemService(std::unique_ptr<platform::MessageStore> store, std::unique_ptr<platform::RequestSocket> requests)
    : m_store(std::move(store))
    , m_requests(std::move(requests))
    , m_loop(g_main_loop_new(nullptr, FALSE))
{
    m_store->forget_filed_before(g_get_real_time() / G_USEC_PER_SEC - filed_memory_seconds);
    m_sources.push_back(g_unix_fd_add(m_requests->descriptor(), G_IO_IN, on_request, this));
    m_sources.push_back(g_timeout_add_seconds(sweep_seconds, on_sweep, this));
    m_sources.push_back(g_unix_signal_add(SIGTERM, on_quit, m_loop));
    m_sources.push_back(g_unix_signal_add(SIGINT, on_quit, m_loop));
}

ModemService::~ModemService()
{
    for (guint source : { m_transmit_source, m_reconnect_source })
        if (source)
            g_source_remove(source);
    for (guint source : m_sources)
        g_source_remove(source);
    m_signals.clear();
    m_links.clear();
    m_manager.reset();
    m_bus.reset();
    g_main_loop_unref(m_loop);
}

void ModemService::run()
{
    say("started (process " + std::to_string(::getpid()) + ")");
    if (!connect_to_modem_manager())
        m_reconnect_source = g_timeout_add_seconds(reconnect_seconds, on_reconnect, this);
    g_main_loop_run(m_loop);
    say("stopped");
}

bool ModemService::connect_to_modem_manager()
{
    GErrorHolder error;
    m_bus.reset(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, error.out()));
    if (!m_bus) {
        // Said once: the service tries again every few seconds without filling the journal.
        if (!std::exchange(m_said_no_bus, true))
            say("no system bus: " + error.message() + "; trying again every " + std::to_string(reconnect_seconds) + " s");
        return false;
    }
    if (std::exchange(m_said_no_bus, false))
        say("the system bus is there now");
    // Exits with the bus: a restarted system bus needs a fresh start of the service.
    g_dbus_connection_set_exit_on_close(m_bus.get(), TRUE);
    m_manager.reset(mm_manager_new_sync(m_bus.get(), G_DBUS_OBJECT_MANAGER_CLIENT_FLAGS_DO_NOT_AUTO_START, nullptr, error.out()));
    if (!m_manager) {
        say("cannot follow ModemManager: " + error.message());
        return false;
    }
    follow_modem_manager();
    return true;
}

void ModemService::follow_modem_manager()
{
    auto* manager = G_DBUS_OBJECT_MANAGER(m_manager.get());
    m_signals.emplace_back(manager, g_signal_connect(manager, "object-added", G_CALLBACK(on_object_added), this));
    m_signals.emplace_back(manager, g_signal_connect(manager, "object-removed", G_CALLBACK(on_object_removed), this));
    m_signals.emplace_back(manager, g_signal_connect(manager, "notify::name-owner", G_CALLBACK(on_owner), this));
    owner_changed();
}

void ModemService::owner_changed()
{
    gchar* owner = g_dbus_object_manager_client_get_name_owner(G_DBUS_OBJECT_MANAGER_CLIENT(m_manager.get()));
    say(owner ? std::string("ModemManager runs as ") + owner : "ModemManager is not running; waiting for it");
    g_free(owner);
    m_links.clear();
    GList* objects = g_dbus_object_manager_get_objects(G_DBUS_OBJECT_MANAGER(m_manager.get()));
    for (GList* item = objects; item; item = item->next)
        add_object(G_DBUS_OBJECT(item->data));
    g_list_free_full(objects, g_object_unref);
}

void ModemService::add_object(GDBusObject* object)
{
    std::string path = g_dbus_object_get_object_path(object);
    // The manager also lists the modems' messages; only modems are followed.
    GDBusInterface* modem = g_dbus_object_get_interface(object, MM_DBUS_INTERFACE_MODEM);
    if (!modem)
        return;
    g_object_unref(modem);
    if (m_links.contains(path) || !MM_IS_OBJECT(object))
        return;
    auto link = std::make_unique<ModemLink>(MM_OBJECT(object), *m_store, [this] { transmit_soon(); });
    bool usable = link->usable();
    m_links.emplace(path, std::move(link));
    if (usable)
        transmit_soon();
}

void ModemService::remove_object(GDBusObject* object)
{
    std::string path = g_dbus_object_get_object_path(object);
    if (m_links.erase(path))
        say("modem " + path + " is gone");
}

ModemLink* ModemService::usable_link()
{
    for (auto& [path, link] : m_links)
        if (link->usable())
            return link.get();
    return nullptr;
}

std::u16string ModemService::why_no_modem() const
{
    if (!m_manager)
        return u"ModemManager cannot be reached";
    gchar* owner = g_dbus_object_manager_client_get_name_owner(G_DBUS_OBJECT_MANAGER_CLIENT(m_manager.get()));
    bool running = owner != nullptr;
    g_free(owner);
    if (!running)
        return u"ModemManager is not running";
    return m_links.empty() ? u"no modem" : u"the modem is not registered with a network";
}

TransmitResult ModemService::transmit()
{
    TransmitResult result;
    if (ModemLink* link = usable_link()) {
        ModemTransmitter modem(link->messaging());
        result = transmit_outbox(*m_store, modem);
    } else {
        AbsentModem modem(why_no_modem());
        result = transmit_outbox(*m_store, modem);
    }
    if (result.sent || result.failed)
        say("outbox: " + result_text(result));
    return result;
}

void ModemService::transmit_soon()
{
    // Not from inside the signal that reported the modem: the main loop runs it next.
    if (!m_transmit_source)
        m_transmit_source = g_idle_add(on_transmit, this);
}

std::string ModemService::answer(std::string const& request)
{
    if (request == "transmit")
        return result_text(transmit());
    if (request == "ping")
        return "velloq-modem " + std::to_string(::getpid());
    return "unknown request";
}

void ModemService::on_object_added(GDBusObjectManager*, GDBusObject* object, gpointer self)
{
    static_cast<ModemService*>(self)->add_object(object);
}

void ModemService::on_object_removed(GDBusObjectManager*, GDBusObject* object, gpointer self)
{
    static_cast<ModemService*>(self)->remove_object(object);
}

void ModemService::on_owner(GObject*, GParamSpec*, gpointer self)
{
    static_cast<ModemService*>(self)->owner_changed();
}

gboolean ModemService::on_request(gint, GIOCondition, gpointer self)
{
    auto* service = static_cast<ModemService*>(self);
    if (auto request = service->m_requests->accept_request())
        platform::RequestSocket::answer(*request, service->answer(request->line));
    return G_SOURCE_CONTINUE;
}

gboolean ModemService::on_sweep(gpointer self)
{
    for (auto& [path, link] : static_cast<ModemService*>(self)->m_links)
        link->sweep();
    return G_SOURCE_CONTINUE;
}

gboolean ModemService::on_reconnect(gpointer self)
{
    auto* service = static_cast<ModemService*>(self);
    if (!service->connect_to_modem_manager())
        return G_SOURCE_CONTINUE;
    service->m_reconnect_source = 0;
    return G_SOURCE_REMOVE;
}

gboolean ModemService::on_transmit(gpointer self)
{
    auto* service = static_cast<ModemService*>(self);
    service->m_transmit_source = 0;
    if (!service->m_store->submitted_messages().empty())
        service->transmit();
    return G_SOURCE_REMOVE;
}

gboolean ModemService::on_quit(gpointer loop)
{
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_CONTINUE;
}

}
