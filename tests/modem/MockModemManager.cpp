#include "MockModemManager.h"

#include "support/Wait.h"

#include <gtest/gtest.h>

#include <csignal>

namespace velloq::test {

namespace {

constexpr char const* service = "org.freedesktop.ModemManager1";
constexpr char const* root = "/org/freedesktop/ModemManager1";
constexpr char const* control = "org.freedesktop.DBus.Mock";

}

MockModemManager::MockModemManager(std::filesystem::path const& folder)
    : m_address("unix:path=" + (folder / "system_bus_socket").string())
{
    m_bus = std::make_unique<ChildProcess>(std::vector<std::string> { "/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + m_address });
    EXPECT_TRUE(wait_for_file(folder / "system_bus_socket"));
    // The socket's file appears when dbus-daemon binds it, a moment before it listens: connecting
    // is tried until it works.
    GError* error = nullptr;
    wait_until([&] {
        g_clear_error(&error);
        m_connection = g_dbus_connection_new_for_address_sync(m_address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        return m_connection != nullptr;
    });
    if (error)
        ADD_FAILURE() << "no private bus: " << error->message, g_error_free(error);
    if (m_connection)
        start();
}

MockModemManager::~MockModemManager()
{
    stop();
    if (m_connection) {
        g_dbus_connection_close_sync(m_connection, nullptr, nullptr);
        g_object_unref(m_connection);
    }
    if (m_bus) {
        m_bus->signal(SIGTERM);
        m_bus->wait();
    }
}

void MockModemManager::start()
{
    m_mock = std::make_unique<ChildProcess>(
        std::vector<std::string> { "/usr/bin/python3", "-m", "dbusmock", "--template", VELLOQ_FIXTURES_DIR "/modem/mock_modemmanager.py" },
        std::vector<std::string> { bus_variable() });
    bool owned = wait_until([&] {
        GVariant* reply = g_dbus_connection_call_sync(m_connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "NameHasOwner", g_variant_new("(s)", service), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        gboolean has = FALSE;
        if (reply) {
            g_variant_get(reply, "(b)", &has);
            g_variant_unref(reply);
        }
        return has == TRUE;
    });
    EXPECT_TRUE(owned) << "the mock ModemManager did not appear";
}

void MockModemManager::stop()
{
    if (!m_mock)
        return;
    m_mock->signal(SIGKILL);
    m_mock->wait();
    m_mock.reset();
}

void MockModemManager::stop_bus()
{
    if (!m_bus)
        return;
    m_bus->signal(SIGTERM);
    m_bus->wait();
    m_bus.reset();
}

std::string MockModemManager::instance()
{
    if (!m_connection)
        return {};
    GVariant* reply = g_dbus_connection_call_sync(m_connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetNameOwner", g_variant_new("(s)", service), G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (!reply)
        return {};
    gchar const* owner = nullptr;
    g_variant_get(reply, "(&s)", &owner);
    std::string result = owner;
    g_variant_unref(reply);
    return result;
}

void MockModemManager::call_ignoring_reply(char const* method, GVariant* parameters)
{
    if (GVariant* reply = call(method, parameters))
        g_variant_unref(reply);
}

uint32_t MockModemManager::call_for_count(char const* method, GVariant* parameters)
{
    GVariant* reply = call(method, parameters);
    guint32 count = 0;
    if (reply) {
        g_variant_get(reply, "(u)", &count);
        g_variant_unref(reply);
    }
    return count;
}

std::string MockModemManager::receive_data(std::string const& modem, std::string const& number, std::vector<uint8_t> const& data)
{
    GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, data.data(), data.size(), 1);
    return call_for_path("ReceiveData", g_variant_new("(os@ay)", modem.c_str(), number.c_str(), bytes));
}

std::string MockModemManager::receive_flash(std::string const& modem, std::string const& number, std::string const& text)
{
    return call_for_path("ReceiveFlash", g_variant_new("(oss)", modem.c_str(), number.c_str(), text.c_str()));
}

void MockModemManager::delete_message(std::string const& path)
{
    call_ignoring_reply("DeleteMessage", g_variant_new("(o)", path.c_str()));
}

void MockModemManager::finish_send(std::string const& path)
{
    call_ignoring_reply("FinishSend", g_variant_new("(o)", path.c_str()));
}

GVariant* MockModemManager::call(char const* method, GVariant* parameters)
{
    if (!m_connection) {
        if (parameters)
            g_variant_unref(g_variant_ref_sink(parameters));
        return nullptr;
    }
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(m_connection, service, root, control, method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE,
        60'000, nullptr, &error);
    EXPECT_NE(reply, nullptr) << method << ": " << (error ? error->message : "");
    if (error)
        g_error_free(error);
    return reply;
}

std::string MockModemManager::call_for_path(char const* method, GVariant* parameters)
{
    GVariant* reply = call(method, parameters);
    if (!reply)
        return {};
    gchar const* path = nullptr;
    g_variant_get(reply, "(&o)", &path);
    std::string result = path ? path : "";
    g_variant_unref(reply);
    return result;
}

std::string MockModemManager::add_modem(int32_t state)
{
    return call_for_path("AddModem", g_variant_new("(i)", state));
}

void MockModemManager::set_modem_state(std::string const& modem, int32_t state)
{
    if (!g_variant_is_object_path(modem.c_str())) {
        ADD_FAILURE() << "no modem \"" << modem << "\"";
        return;
    }
    if (GVariant* reply = call("SetModemState", g_variant_new("(oi)", modem.c_str(), state)))
        g_variant_unref(reply);
}

void MockModemManager::remove_modem(std::string const& modem)
{
    if (!g_variant_is_object_path(modem.c_str())) {
        ADD_FAILURE() << "no modem \"" << modem << "\"";
        return;
    }
    if (GVariant* reply = call("RemoveModem", g_variant_new("(o)", modem.c_str())))
        g_variant_unref(reply);
}

std::string MockModemManager::store_incoming(std::string const& modem, std::string const& number, std::string const& text)
{
    return call_for_path("StoreIncoming", g_variant_new("(ossu)", modem.c_str(), number.c_str(), text.c_str(), 3u));
}

std::string MockModemManager::receive(std::string const& modem, std::string const& number, std::string const& text, uint32_t state,
    std::string const& timestamp)
{
    return call_for_path("Receive", g_variant_new("(osssu)", modem.c_str(), number.c_str(), text.c_str(), timestamp.c_str(), state));
}

void MockModemManager::receive_many(std::string const& modem, uint32_t count)
{
    call_for_path("ReceiveMany", g_variant_new("(ouu)", modem.c_str(), count, 0u));
}

void MockModemManager::complete_message(std::string const& path, std::string const& text)
{
    call_ignoring_reply("CompleteMessage", g_variant_new("(os)", path.c_str(), text.c_str()));
}

std::string MockModemManager::receive_status_report(std::string const& modem, std::string const& number, uint32_t reference, uint32_t delivery_state)
{
    return call_for_path("ReceiveStatusReport", g_variant_new("(osuus)", modem.c_str(), number.c_str(), reference, delivery_state, "2026-12-08T12:00:00Z"));
}

void MockModemManager::set_send_mode(std::string const& mode)
{
    call_ignoring_reply("SetSendMode", g_variant_new("(s)", mode.c_str()));
}

void MockModemManager::set_reference(uint32_t reference)
{
    call_ignoring_reply("SetReference", g_variant_new("(u)", reference));
}

std::vector<MockModemManager::Sent> MockModemManager::sent()
{
    std::vector<Sent> result;
    GVariant* reply = call("GetSent", nullptr);
    if (!reply)
        return result;
    GVariantIter* items = nullptr;
    g_variant_get(reply, "(a(ssbu))", &items);
    gchar const* number = nullptr;
    gchar const* text = nullptr;
    gboolean report = FALSE;
    guint32 reference = 0;
    while (g_variant_iter_next(items, "(&s&sbu)", &number, &text, &report, &reference))
        result.push_back({ number, text, report == TRUE, reference });
    g_variant_iter_free(items);
    g_variant_unref(reply);
    return result;
}

uint32_t MockModemManager::message_count(std::string const& modem)
{
    return call_for_count("MessageCount", g_variant_new("(o)", modem.c_str()));
}

}
