#include "OutboxSender.h"

#include "ServiceLog.h"
#include "platform/Utf.h"

namespace velloq::modem {

namespace {

// ModemManager's word for a modem that did not answer its command in time.
constexpr char const* modem_manager_timeout = "org.freedesktop.ModemManager1.Error.Serial.ResponseTimeout";

std::string number_of(OutgoingSms const& sms)
{
    return to_utf8(sms.address);
}

}

bool send_outcome_unknown(GError const* error)
{
    if (!error)
        return false;
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) || g_error_matches(error, MM_SERIAL_ERROR, MM_SERIAL_ERROR_RESPONSE_TIMEOUT))
        return true;
    gchar* remote = g_dbus_error_get_remote_error(error);
    bool timeout = remote && g_str_equal(remote, modem_manager_timeout);
    g_free(remote);
    return timeout;
}

void delete_from_modem(MMModemMessaging* messaging, std::string const& path)
{
    // Not cancelled with its caller: the deletion is asked for even when the caller is gone.
    mm_modem_messaging_delete(messaging, path.c_str(), nullptr, finish_async, async_done([path](GObject* source, GAsyncResult* result) {
        GErrorHolder error;
        if (!mm_modem_messaging_delete_finish(MM_MODEM_MESSAGING(source), result, error.out()))
            say("cannot delete message " + path + " from the modem: " + error.message());
    }));
}

OutboxSender::OutboxSender(platform::MessageStore& store, MMModemMessaging* messaging, std::string instance, Done done)
    : m_run(store, false)
    , m_messaging(MM_MODEM_MESSAGING(g_object_ref(messaging)))
    , m_instance(std::move(instance))
    , m_done(std::move(done))
{
}

void OutboxSender::start()
{
    send_next();
}

void OutboxSender::send_next()
{
    if (auto sms = m_run.next())
        create(std::move(*sms));
    else
        m_done(m_run.result());
}

void OutboxSender::create(OutgoingSms sms)
{
    GRef<MMSmsProperties> properties(mm_sms_properties_new());
    mm_sms_properties_set_text(properties.get(), to_utf8(sms.text).c_str());
    mm_sms_properties_set_number(properties.get(), number_of(sms).c_str());
    mm_sms_properties_set_delivery_report_request(properties.get(), sms.report_requested);
    mm_modem_messaging_create(m_messaging.get(), properties.get(), m_calls.get(), finish_async,
        async_done([this, sms = std::move(sms)](GObject* source, GAsyncResult* result) mutable {
            GErrorHolder error;
            GRef<MMSms> modem_sms(mm_modem_messaging_create_finish(MM_MODEM_MESSAGING(source), result, error.out()));
            if (cancelled(error.get()))
                return;
            if (!modem_sms) {
                say("the modem did not take a message to " + number_of(sms) + ": " + error.message());
                m_run.record(sms, { false, std::nullopt, to_utf16(error.message()), std::nullopt });
                return send_next();
            }
            send(std::move(sms), std::move(modem_sms));
        }));
}

void OutboxSender::send(OutgoingSms sms, GRef<MMSms> modem_sms)
{
    // ModemManager gives a send up to five minutes (low signal); D-Bus's default is 25 s.
    g_dbus_proxy_set_default_timeout(G_DBUS_PROXY(modem_sms.get()), modem_send_timeout_seconds * 1000);
    MMSms* raw = modem_sms.get();
    mm_sms_send(raw, m_calls.get(), finish_async,
        async_done([this, sms = std::move(sms), modem_sms = std::move(modem_sms)](GObject* source, GAsyncResult* result) mutable {
            GErrorHolder error;
            bool sent = mm_sms_send_finish(MM_SMS(source), result, error.out());
            if (cancelled(error.get()))
                return;
            std::string path = mm_sms_get_path(modem_sms.get());
            if (sent)
                return read_reference(std::move(sms), std::move(modem_sms));
            if (send_outcome_unknown(error.get())) {
                say("sending " + path + " to " + number_of(sms) + " did not end in time (" + error.message() + "); it stays on the modem until the modem tells");
                m_run.record(sms, { false, std::nullopt, {}, Transmission::Unsettled { m_instance, path } });
            } else {
                say("sending " + path + " to " + number_of(sms) + " failed: " + error.message());
                m_run.record(sms, { false, std::nullopt, to_utf16(error.message()), std::nullopt });
                delete_from_modem(m_messaging.get(), path);
            }
            send_next();
        }));
}

// The reference as the modem holds it now: its reply to Send may come before its property
// change, so it is asked for.
void OutboxSender::read_reference(OutgoingSms sms, GRef<MMSms> modem_sms)
{
    std::string path = mm_sms_get_path(modem_sms.get());
    g_dbus_connection_call(g_dbus_proxy_get_connection(G_DBUS_PROXY(modem_sms.get())), MM_DBUS_SERVICE, path.c_str(),
        "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", MM_DBUS_INTERFACE_SMS, "MessageReference"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, m_calls.get(), finish_async,
        async_done([this, sms = std::move(sms), path](GObject* source, GAsyncResult* result) {
            GErrorHolder error;
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, error.out());
            if (cancelled(error.get()))
                return;
            std::optional<int64_t> reference;
            if (reply) {
                GVariant* value = nullptr;
                g_variant_get(reply, "(v)", &value);
                if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32))
                    reference = g_variant_get_uint32(value);
                g_variant_unref(value);
                g_variant_unref(reply);
            }
            say("sent " + path + " to " + number_of(sms) + (reference ? ", reference " + std::to_string(*reference) : ", no reference"));
            m_run.record(sms, { true, reference, {}, std::nullopt });
            delete_from_modem(m_messaging.get(), path);
            send_next();
        }));
}

}
