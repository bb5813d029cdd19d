#include "MockMmsService.h"

#include "support/Wait.h"

#include <gtest/gtest.h>

#include <csignal>

namespace velloq::test {

namespace {

constexpr char const* mms_service_name = "org.ofono.mms";

bool mms_service_runs(GDBusConnection* connection)
{
    GVariant* reply = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", mms_service_name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    gboolean has = FALSE;
    if (reply) {
        g_variant_get(reply, "(b)", &has);
        g_variant_unref(reply);
    }
    return has == TRUE;
}

}

MockMmsService::MockMmsService(std::string const& bus_address)
    : m_address(bus_address)
{
    GError* error = nullptr;
    m_connection = g_dbus_connection_new_for_address_sync(m_address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION), nullptr,
        nullptr, &error);
    if (!m_connection) {
        ADD_FAILURE() << "no private bus: " << (error ? error->message : "");
        g_clear_error(&error);
        return;
    }
    m_mock = std::make_unique<ChildProcess>(
        std::vector<std::string> { "/usr/bin/python3", "-m", "dbusmock", "--template", VELLOQ_FIXTURES_DIR "/modem/mock_mmsd.py" },
        std::vector<std::string> { bus_variable() });
    EXPECT_TRUE(wait_until([&] { return mms_service_runs(m_connection); })) << "the mock MMS service did not appear";
}

MockMmsService::~MockMmsService()
{
    if (m_mock) {
        m_mock->signal(SIGKILL);
        m_mock->wait();
    }
    if (m_connection) {
        g_dbus_connection_close_sync(m_connection, nullptr, nullptr);
        g_object_unref(m_connection);
    }
}

GVariant* MockMmsService::call(char const* method, GVariant* parameters)
{
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(m_connection, mms_service_name, "/org/ofono/mms", "org.freedesktop.DBus.Mock", method, parameters, nullptr,
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (!reply) {
        ADD_FAILURE() << method << ": " << (error ? error->message : "");
        g_clear_error(&error);
    }
    return reply;
}

std::string MockMmsService::add(char const* method, Message const& message)
{
    GVariantBuilder recipients;
    g_variant_builder_init(&recipients, G_VARIANT_TYPE("as"));
    for (auto const& recipient : message.recipients)
        g_variant_builder_add(&recipients, "s", recipient.c_str());
    GVariantBuilder attachments;
    g_variant_builder_init(&attachments, G_VARIANT_TYPE("a(ssstt)"));
    for (auto const& part : message.attachments)
        g_variant_builder_add(&attachments, "(ssstt)", part.id.c_str(), part.content_type.c_str(), part.file.c_str(), part.offset, part.length);
    GVariant* reply = call(method, g_variant_new("(sssasa(ssstt))", message.status.c_str(), message.sender.c_str(), message.date.c_str(), &recipients, &attachments));
    std::string path;
    if (reply) {
        gchar const* text = nullptr;
        g_variant_get(reply, "(&s)", &text);
        path = text;
        g_variant_unref(reply);
    }
    return path;
}

std::string MockMmsService::receive(Message const& message)
{
    return add("Receive", message);
}

std::string MockMmsService::store(Message const& message)
{
    return add("Store", message);
}

void MockMmsService::remove(std::string const& path, bool announce)
{
    if (GVariant* reply = call("Remove", g_variant_new("(sb)", path.c_str(), announce)))
        g_variant_unref(reply);
}

void MockMmsService::read_by_another(std::string const& path)
{
    if (GVariant* reply = call("ReadByAnother", g_variant_new("(s)", path.c_str())))
        g_variant_unref(reply);
}

std::vector<std::string> MockMmsService::call_for_paths(char const* method)
{
    std::vector<std::string> paths;
    GVariant* reply = call(method, nullptr);
    if (!reply)
        return paths;
    GVariantIter* iter = nullptr;
    g_variant_get(reply, "(as)", &iter);
    gchar const* path = nullptr;
    while (g_variant_iter_next(iter, "&s", &path))
        paths.push_back(path);
    g_variant_iter_free(iter);
    g_variant_unref(reply);
    return paths;
}

std::vector<std::string> MockMmsService::read_marked()
{
    return call_for_paths("ReadMarked");
}

std::vector<std::string> MockMmsService::held()
{
    return call_for_paths("Held");
}

std::vector<MockMmsService::Sent> MockMmsService::sent()
{
    std::vector<Sent> sent;
    GVariant* reply = call("Sent", nullptr);
    if (!reply)
        return sent;
    GVariant* messages = g_variant_get_child_value(reply, 0);
    for (gsize index = 0; index < g_variant_n_children(messages); ++index) {
        GVariant* message = g_variant_get_child_value(messages, index);
        GVariant* recipients = g_variant_get_child_value(message, 0);
        GVariant* attachments = g_variant_get_child_value(message, 1);
        Sent one;
        for (gsize at = 0; at < g_variant_n_children(recipients); ++at) {
            GVariant* recipient = g_variant_get_child_value(recipients, at);
            one.recipients.emplace_back(g_variant_get_string(recipient, nullptr));
            g_variant_unref(recipient);
        }
        for (gsize at = 0; at < g_variant_n_children(attachments); ++at) {
            gchar const* id = nullptr;
            gchar const* type = nullptr;
            GVariant* content = nullptr;
            g_variant_get_child(attachments, at, "(&s&s@ay)", &id, &type, &content);
            gsize size = 0;
            auto const* bytes = static_cast<char const*>(g_variant_get_fixed_array(content, &size, 1));
            one.attachments.emplace_back(type, std::string(bytes ? bytes : "", size));
            g_variant_unref(content);
        }
        sent.push_back(std::move(one));
        g_variant_unref(attachments);
        g_variant_unref(recipients);
        g_variant_unref(message);
    }
    g_variant_unref(messages);
    g_variant_unref(reply);
    return sent;
}

void MockMmsService::set_modem_number(std::string const& number)
{
    if (GVariant* reply = call("SetModemNumber", g_variant_new("(s)", number.c_str())))
        g_variant_unref(reply);
}

void MockMmsService::refuse_sending(std::string const& why)
{
    if (GVariant* reply = call("RefuseSending", g_variant_new("(s)", why.c_str())))
        g_variant_unref(reply);
}

void MockMmsService::send_outcome(std::string const& path, std::string const& status)
{
    if (GVariant* reply = call("SendOutcome", g_variant_new("(ss)", path.c_str(), status.c_str())))
        g_variant_unref(reply);
}

}
