#include "MmsFollower.h"

#include "ModemLink.h"
#include "ServiceLog.h"
#include "platform/Utf.h"

#include <cstring>

namespace velloq::modem {

namespace {

constexpr char const* mms_name = "org.ofono.mms";
constexpr char const* manager_path = "/org/ofono/mms";
constexpr char const* manager_interface = "org.ofono.mms.Manager";
constexpr char const* service_interface = "org.ofono.mms.Service";
constexpr char const* message_interface = "org.ofono.mms.Message";
// A listing of every message is read at once; the service answers it from its own files.
constexpr int listing_timeout_ms = 60'000;
constexpr int message_call_timeout_ms = 25'000;
// How often the store's change count is looked at while the MMS service runs (a memory read).
constexpr guint store_check_seconds = 2;

std::string text_property(GVariantDict& dict, char const* key)
{
    gchar const* value = nullptr;
    return g_variant_dict_lookup(&dict, key, "&s", &value) && value ? value : "";
}

// The MMS service writes numbers as the network gives them, sometimes with "/TYPE=PLMN" after.
std::u16string address_of(std::string const& address)
{
    return to_utf16(address.substr(0, address.find("/TYPE=")));
}

std::vector<MessagePart> attachments_of(GVariantDict& dict)
{
    std::vector<MessagePart> parts;
    GVariant* attachments = g_variant_dict_lookup_value(&dict, "Attachments", G_VARIANT_TYPE("a(ssstt)"));
    if (!attachments)
        return parts;
    GVariantIter iter;
    g_variant_iter_init(&iter, attachments);
    gchar const* id = nullptr;
    gchar const* type = nullptr;
    gchar const* file = nullptr;
    guint64 offset = 0;
    guint64 length = 0;
    while (g_variant_iter_next(&iter, "(&s&s&stt)", &id, &type, &file, &offset, &length))
        parts.push_back({ type, offset, length, file });
    g_variant_unref(attachments);
    return parts;
}

std::vector<std::u16string> members_of(GVariantDict& dict)
{
    std::vector<std::u16string> members;
    GVariant* recipients = g_variant_dict_lookup_value(&dict, "Recipients", G_VARIANT_TYPE("as"));
    if (!recipients)
        return members;
    GVariantIter iter;
    g_variant_iter_init(&iter, recipients);
    gchar const* recipient = nullptr;
    while (g_variant_iter_next(&iter, "&s", &recipient))
        members.push_back(address_of(recipient));
    g_variant_unref(recipients);
    return members;
}

}

bool read_received_mms(GVariant* properties, ReceivedMms& mms, std::vector<std::string>& problems, std::vector<std::string> const& own_numbers)
{
    if (!properties || !g_variant_is_of_type(properties, G_VARIANT_TYPE("a{sv}")))
        return false;
    GVariantDict dict;
    g_variant_dict_init(&dict, properties);
    std::string status = text_property(dict, "Status");
    bool received = status == "received" || status == "read";
    if (received) {
        mms.read = status == "read";
        mms.sender = address_of(text_property(dict, "Sender"));
        std::string date = text_property(dict, "Date");
        mms.filetime = sms_filetime(date.c_str());
        // Each message says the phone's own number ("Modem Number"), which leaves the group; where
        // it is empty, the modem's own numbers stand in.
        std::vector<std::u16string> own { address_of(text_property(dict, "Modem Number")) };
        if (own.front().empty()) {
            own.clear();
            for (auto const& number : own_numbers)
                own.push_back(address_of(number));
        }
        mms.members = other_members(members_of(dict), mms.sender, own);
        take_mms_attachments(attachments_of(dict), mms, problems);
    }
    g_variant_dict_clear(&dict);
    return received;
}

MmsFollower::MmsFollower(platform::MessageStore& store, std::function<std::vector<std::string>()> own_numbers)
    : m_store(store)
    , m_own_numbers(std::move(own_numbers))
{
}

MmsFollower::~MmsFollower()
{
    if (m_store_check)
        g_source_remove(m_store_check);
    m_calls.reset();
    m_sender.abandon_in_flight();
    unsubscribe();
    if (m_name_watch)
        g_bus_unwatch_name(m_name_watch);
}

bool MmsFollower::start()
{
    GErrorHolder error;
    m_bus.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, error.out()));
    if (!m_bus) {
        say("no session bus, so no MMS: " + error.message());
        return false;
    }
    g_dbus_connection_set_exit_on_close(m_bus.get(), FALSE);
    m_name_watch = g_bus_watch_name_on_connection(m_bus.get(), mms_name, G_BUS_NAME_WATCHER_FLAGS_NONE, on_appeared, on_vanished, this, nullptr);
    return true;
}

void MmsFollower::appeared()
{
    say("the MMS service runs");
    m_calls = std::make_unique<CallScope>();
    subscribe();
    list_services();
    if (!m_store_check)
        m_store_check = g_timeout_add_seconds(store_check_seconds, on_store_check, this);
}

void MmsFollower::vanished()
{
    if (m_store_check)
        g_source_remove(std::exchange(m_store_check, 0));
    m_in_flight.clear();
    m_calls.reset();
    m_sender.abandon_in_flight();
    unsubscribe();
    m_services.clear();
}

void MmsFollower::subscribe()
{
    unsubscribe();
    for (char const* interface : { manager_interface, service_interface, message_interface }) {
        m_subscriptions.push_back(g_dbus_connection_signal_subscribe(m_bus.get(), mms_name, interface, nullptr, nullptr, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, on_signal, this, nullptr));
    }
}

void MmsFollower::unsubscribe()
{
    for (guint subscription : m_subscriptions)
        g_dbus_connection_signal_unsubscribe(m_bus.get(), subscription);
    m_subscriptions.clear();
}

void MmsFollower::list_services()
{
    g_dbus_connection_call(m_bus.get(), mms_name, manager_path, manager_interface, "GetServices", nullptr, G_VARIANT_TYPE("(a(oa{sv}))"),
        G_DBUS_CALL_FLAGS_NONE, listing_timeout_ms, m_calls->get(), finish_async, async_done([this](GObject* source, GAsyncResult* result) {
            GErrorHolder error;
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, error.out());
            if (cancelled(error.get()))
                return;
            if (!reply) {
                say("the MMS service did not list its services: " + error.message());
                return;
            }
            GVariantIter* services = nullptr;
            g_variant_get(reply, "(a(oa{sv}))", &services);
            gchar const* path = nullptr;
            while (g_variant_iter_next(services, "(&o@a{sv})", &path, nullptr))
                list_messages(path);
            g_variant_iter_free(services);
            g_variant_unref(reply);
        }));
}

void MmsFollower::list_messages(std::string const& service)
{
    m_services.insert(service);
    g_dbus_connection_call(m_bus.get(), mms_name, service.c_str(), service_interface, "GetMessages", nullptr, G_VARIANT_TYPE("(a(oa{sv}))"),
        G_DBUS_CALL_FLAGS_NONE, listing_timeout_ms, m_calls->get(), finish_async, async_done([this, service](GObject* source, GAsyncResult* result) {
            GErrorHolder error;
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, error.out());
            if (cancelled(error.get()))
                return;
            if (!reply) {
                say("the MMS service did not list the messages of " + service + ": " + error.message());
                return;
            }
            GVariant* messages = g_variant_get_child_value(reply, 0);
            take_listing(service, messages);
            g_variant_unref(messages);
            g_variant_unref(reply);
        }));
}

// Files what is new in a whole listing, and lets go of what the service no longer holds. A
// message that could not be filed keeps nothing from being removed: only a path filed before and
// missing from the listing leaves.
void MmsFollower::take_listing(std::string const& service, GVariant* messages)
{
    std::set<std::string> listed;
    GVariantIter iter;
    g_variant_iter_init(&iter, messages);
    gchar const* path = nullptr;
    GVariant* properties = nullptr;
    while (g_variant_iter_next(&iter, "(&o@a{sv})", &path, &properties)) {
        listed.insert(path);
        file(service, path, properties);
        // A message sent while this service was not running is settled from its status.
        GVariantDict dict;
        g_variant_dict_init(&dict, properties);
        m_sender.status_is(path, text_property(dict, "Status"));
        g_variant_dict_clear(&dict);
        g_variant_unref(properties);
    }
    auto filed = m_store.mms_filing().filed_paths(service);
    if (!filed) {
        say("cannot read which MMS were filed: " + filed.error().text);
        return;
    }
    for (auto const& known : *filed)
        if (!listed.contains(known))
            remove(known);
    tell_service();
    m_sender.send_waiting(m_bus.get(), service, m_calls->get());
}

void MmsFollower::look_at_store()
{
    auto seen = m_store.change_count();
    if (seen && seen == m_store_seen)
        return;
    m_store_seen = seen;
    tell_service();
    for (auto const& service : m_services)
        m_sender.send_waiting(m_bus.get(), service, m_calls->get());
}

void MmsFollower::tell_service()
{
    if (!m_calls)
        return;
    for (auto const& service : m_services) {
        auto deleted = m_store.mms_filing().deleted_paths(service);
        auto read = m_store.mms_filing().read_untold_paths(service);
        if (!deleted || !read) {
            say("cannot read what to tell the MMS service: " + (deleted ? read.error() : deleted.error()).text);
            return;
        }
        for (auto const& path : *deleted)
            call_message(path, "Delete");
        for (auto const& path : *read)
            call_message(path, "MarkRead");
    }
}

// A deletion ends with the service's MessageRemoved, which forgets the path; one the service no
// longer knows is forgotten at once. A message marked read is noted as told.
void MmsFollower::call_message(std::string const& path, char const* method)
{
    auto call = std::make_pair(path, std::string(method));
    if (!m_in_flight.insert(call).second)
        return;
    g_dbus_connection_call(m_bus.get(), mms_name, path.c_str(), message_interface, method, nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE,
        message_call_timeout_ms, m_calls->get(), finish_async, async_done([this, call](GObject* source, GAsyncResult* result) {
            GErrorHolder error;
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, error.out());
            if (cancelled(error.get()))
                return;
            m_in_flight.erase(call);
            auto const& [path, method] = call;
            bool gone = error && (g_error_matches(error.get(), G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT)
                || g_error_matches(error.get(), G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD));
            if (reply)
                g_variant_unref(reply);
            if (gone) {
                remove(path);
            } else if (!reply) {
                say("the MMS service did not take " + method + " of " + path + ": " + error.message());
            } else if (method == "MarkRead") {
                if (auto told = m_store.mms_filing().read_told(path); !told)
                    say("cannot note MMS " + path + " as read there: " + told.error().text);
            }
        }));
}

bool MmsFollower::file(std::string const& service, std::string const& path, GVariant* properties)
{
    ReceivedMms mms;
    mms.service = service;
    mms.path = path;
    std::vector<std::string> problems;
    if (!read_received_mms(properties, mms, problems, m_own_numbers ? m_own_numbers() : std::vector<std::string>()))
        return false;
    for (auto const& problem : problems)
        say("MMS " + path + ": " + problem);
    auto filed = file_received_mms(m_store, mms);
    if (!filed) {
        say("cannot file MMS " + path + ": " + filed.error().text);
        return false;
    }
    if (*filed == platform::MmsFiling::Filing::Filed)
        say("filed MMS " + path + " (" + std::to_string(mms.parts.size()) + " parts)");
    return true;
}

void MmsFollower::remove(std::string const& path)
{
    auto removed = m_store.mms_filing().remove(path);
    if (!removed)
        say("cannot remove MMS " + path + ": " + removed.error().text);
    else if (*removed)
        say("removed MMS " + path + ": the MMS service no longer holds it");
}

void MmsFollower::signalled(char const* object, char const* interface, char const* name, GVariant* parameters)
{
    bool service_signal = std::strcmp(interface, service_interface) == 0;
    if (std::strcmp(interface, manager_interface) == 0 && std::strcmp(name, "ServiceAdded") == 0 && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(oa{sv})"))) {
        gchar const* path = nullptr;
        g_variant_get(parameters, "(&o@a{sv})", &path, nullptr);
        list_messages(path);
    } else if (service_signal && std::strcmp(name, "MessageAdded") == 0 && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(oa{sv})"))) {
        gchar const* path = nullptr;
        GVariant* properties = nullptr;
        g_variant_get(parameters, "(&o@a{sv})", &path, &properties);
        file(object, path, properties);
        g_variant_unref(properties);
    } else if (service_signal && std::strcmp(name, "MessageRemoved") == 0 && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(o)"))) {
        gchar const* path = nullptr;
        g_variant_get(parameters, "(&o)", &path);
        remove(path);
    } else if (service_signal && std::strcmp(name, "MessageSendError") == 0 && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(a{sv})"))) {
        send_error(parameters);
    } else if (std::strcmp(interface, message_interface) == 0 && std::strcmp(name, "PropertyChanged") == 0) {
        status_changed(object, parameters);
    }
}

// The MMS service names the message it could not send ("MessagePath") and how it failed.
void MmsFollower::send_error(GVariant* parameters)
{
    GVariant* error = g_variant_get_child_value(parameters, 0);
    GVariantDict dict;
    g_variant_dict_init(&dict, error);
    std::string path = text_property(dict, "MessagePath");
    guint32 type = 0;
    bool typed = g_variant_dict_lookup(&dict, "ErrorType", "u", &type);
    g_variant_dict_clear(&dict);
    g_variant_unref(error);
    if (!path.empty())
        m_sender.failed(path, typed ? "the MMS service could not send it (error " + std::to_string(type) + ")" : "the MMS service could not send it");
}

// Read in another program (or here, echoed back): read here too.
void MmsFollower::status_changed(std::string const& path, GVariant* parameters)
{
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sv)")))
        return;
    gchar const* property = nullptr;
    GVariant* value = nullptr;
    g_variant_get(parameters, "(&sv)", &property, &value);
    std::string status = std::strcmp(property, "Status") == 0 && g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ? g_variant_get_string(value, nullptr) : "";
    g_variant_unref(value);
    m_sender.status_is(path, status);
    if (status != "read")
        return;
    if (auto marked = m_store.mms_filing().read_there(path); !marked)
        say("cannot mark MMS " + path + " read: " + marked.error().text);
}

gboolean MmsFollower::on_store_check(gpointer self)
{
    static_cast<MmsFollower*>(self)->look_at_store();
    return G_SOURCE_CONTINUE;
}

void MmsFollower::on_appeared(GDBusConnection*, gchar const*, gchar const*, gpointer self)
{
    static_cast<MmsFollower*>(self)->appeared();
}

void MmsFollower::on_vanished(GDBusConnection*, gchar const*, gpointer self)
{
    static_cast<MmsFollower*>(self)->vanished();
}

void MmsFollower::on_signal(GDBusConnection*, gchar const*, gchar const* object, gchar const* interface, gchar const* name, GVariant* parameters, gpointer self)
{
    static_cast<MmsFollower*>(self)->signalled(object, interface, name, parameters);
}

}
