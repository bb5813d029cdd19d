#include "ModemService.h"

#include "ServiceLog.h"

#include <glib-unix.h>

#include <csignal>
#include <unistd.h>
#include <utility>

namespace velloq::modem {

namespace {

constexpr guint housekeeping_seconds = 60;
constexpr guint reconnect_seconds = 5;
// The store forgets what it filed from a modem after a month; the modem holds nothing that old.
constexpr gint64 filed_memory_seconds = 30 * 24 * 3600;

std::string result_text(TransmitResult const& result)
{
    std::string text = "sent " + std::to_string(result.sent) + ", reports " + std::to_string(result.reports) + ", failed " + std::to_string(result.failed);
    if (result.unsettled)
        text += ", unsettled " + std::to_string(result.unsettled);
    return text;
}

}

ModemService::ModemService(std::unique_ptr<platform::MessageStore> store, std::unique_ptr<platform::RequestSocket> requests)
    : m_store(std::move(store))
    , m_requests(std::move(requests))
    , m_loop(g_main_loop_new(nullptr, FALSE))
    , m_watch(*m_store, [this](std::string const& path) { remove_from_modem(path); })
    , m_mms(*m_store, [this] { return own_numbers(); })
{
    // Registers ModemManager's errors with GDBus, so its replies arrive as its own error codes.
    (void)MM_CORE_ERROR;
    (void)MM_SERIAL_ERROR;
    if (auto forgotten = m_store->modem_filing().forget_filed_before(g_get_real_time() / G_USEC_PER_SEC - filed_memory_seconds); !forgotten)
        say("cannot forget messages filed long ago: " + forgotten.error().text);
    m_sources.push_back(g_unix_fd_add(m_requests->descriptor(), G_IO_IN, on_request, this));
    m_sources.push_back(g_timeout_add_seconds(housekeeping_seconds, on_housekeeping, this));
    m_sources.push_back(g_unix_signal_add(SIGTERM, on_quit, this));
    m_sources.push_back(g_unix_signal_add(SIGINT, on_quit, this));
}

ModemService::~ModemService()
{
    for (guint source : { m_pass_source, m_reconnect_source })
        if (source)
            g_source_remove(source);
    for (guint source : m_sources)
        g_source_remove(source);
    m_signals.clear();
    m_sender.reset();
    m_links.clear();
    m_manager.reset();
    m_bus.reset();
    g_main_loop_unref(m_loop);
}

std::vector<std::string> ModemService::own_numbers() const
{
    std::vector<std::string> numbers;
    for (auto const& [path, link] : m_links) {
        auto own = link->own_numbers();
        numbers.insert(numbers.end(), own.begin(), own.end());
    }
    return numbers;
}

ServiceExit ModemService::run()
{
    say("started (process " + std::to_string(::getpid()) + ")");
    m_mms.start();
    if (!connect_to_modem_manager())
        m_reconnect_source = g_timeout_add_seconds(reconnect_seconds, on_reconnect, this);
    g_main_loop_run(m_loop);
    say(m_exit == ServiceExit::Stopped ? "stopped" : "stopped after a failure");
    return m_exit;
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
    // A restarted system bus needs a fresh start of the service: it ends as failed, and systemd
    // starts it again.
    g_dbus_connection_set_exit_on_close(m_bus.get(), FALSE);
    m_manager.reset(mm_manager_new_sync(m_bus.get(), G_DBUS_OBJECT_MANAGER_CLIENT_FLAGS_DO_NOT_AUTO_START, nullptr, error.out()));
    if (!m_manager) {
        say("cannot follow ModemManager: " + error.message());
        m_bus.reset();
        return false;
    }
    m_signals.emplace_back(m_bus.get(), g_signal_connect(m_bus.get(), "closed", G_CALLBACK(on_closed), this));
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
    m_instance = owner ? owner : "";
    g_free(owner);
    say(m_instance.empty() ? "ModemManager is not running; waiting for it" : "ModemManager runs as " + m_instance);
    m_links.clear();
    GList* objects = g_dbus_object_manager_get_objects(G_DBUS_OBJECT_MANAGER(m_manager.get()));
    for (GList* item = objects; item; item = item->next)
        add_object(G_DBUS_OBJECT(item->data));
    g_list_free_full(objects, g_object_unref);
    m_watch.refresh(m_bus.get(), m_instance);
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
    ModemLink::Events events { [this] { transmit_soon(); }, [this](std::string const& message) { m_watch.message_deleted(message); } };
    auto link = std::make_unique<ModemLink>(MM_OBJECT(object), m_instance, *m_store, std::move(events));
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

void ModemService::remove_from_modem(std::string const& path)
{
    for (auto& [modem, link] : m_links)
        if (link->messaging())
            return delete_from_modem(link->messaging(), path);
}

std::u16string ModemService::why_no_modem() const
{
    if (!m_manager)
        return u"ModemManager cannot be reached";
    if (m_instance.empty())
        return u"ModemManager is not running";
    return m_links.empty() ? u"no modem" : u"the modem is not registered with a network";
}

void ModemService::transmit_soon()
{
    m_pass_wanted = true;
    // Not from inside the signal or reply that asked: the main loop starts it next.
    if (!m_sender && !m_pass_source)
        m_pass_source = g_idle_add(on_pass, this);
}

// The transmitters that asked before it starts get its result; those that ask while it runs
// wait for the next pass, which sees their messages.
void ModemService::start_pass()
{
    m_answer_now = std::move(m_answer_next);
    m_answer_next.clear();
    m_pass_wanted = false;
    if (m_answer_now.empty() && m_store->outbox().submitted_messages().value_or({}).empty())
        return;
    ModemLink* link = usable_link();
    if (!link) {
        AbsentModem modem(why_no_modem());
        return end_pass(transmit_outbox(*m_store, modem));
    }
    m_sender = std::make_unique<OutboxSender>(*m_store, link->messaging(), m_instance, [this](TransmitResult const& result) { end_pass(result); });
    m_sender->start();
}

void ModemService::end_pass(TransmitResult const& result)
{
    if (result.sent || result.failed || result.unsettled)
        say("outbox: " + result_text(result));
    for (auto& request : m_answer_now)
        platform::RequestSocket::answer(request, result_text(result));
    m_answer_now.clear();
    m_watch.refresh(m_bus.get(), m_instance);
    // The sender that called is let go from the main loop, not from inside its own call.
    if (!m_pass_source)
        m_pass_source = g_idle_add(on_pass, this);
}

void ModemService::take_request()
{
    auto request = m_requests->accept_request();
    if (!request)
        return;
    if (request->line == "ping")
        return platform::RequestSocket::answer(*request, "velloq-modem " + std::to_string(::getpid()));
    if (request->line != "transmit")
        return platform::RequestSocket::answer(*request, "unknown request");
    m_answer_next.push_back(std::move(*request));
    transmit_soon();
}

void ModemService::bus_closed()
{
    say("the system bus closed the connection; ending, to be started again");
    m_exit = ServiceExit::Failed;
    g_main_loop_quit(m_loop);
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

void ModemService::on_closed(GDBusConnection*, gboolean, GError*, gpointer self)
{
    static_cast<ModemService*>(self)->bus_closed();
}

gboolean ModemService::on_request(gint, GIOCondition, gpointer self)
{
    static_cast<ModemService*>(self)->take_request();
    return G_SOURCE_CONTINUE;
}

gboolean ModemService::on_housekeeping(gpointer self)
{
    static_cast<ModemService*>(self)->m_watch.expire();
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

gboolean ModemService::on_pass(gpointer self)
{
    auto* service = static_cast<ModemService*>(self);
    service->m_pass_source = 0;
    service->m_sender.reset();
    if (service->m_pass_wanted || !service->m_answer_next.empty())
        service->start_pass();
    return G_SOURCE_REMOVE;
}

gboolean ModemService::on_quit(gpointer self)
{
    g_main_loop_quit(static_cast<ModemService*>(self)->m_loop);
    return G_SOURCE_CONTINUE;
}

}
