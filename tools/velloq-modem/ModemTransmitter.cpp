#include "ModemTransmitter.h"

#include "GObjectRef.h"
#include "ServiceLog.h"
#include "platform/Utf.h"

namespace velloq::modem {

namespace {

// The reference as the modem holds it now: its reply to Send may come before its property
// change, so it is asked for.
std::optional<int64_t> message_reference(MMSms* sms)
{
    GErrorHolder error;
    GVariant* reply = g_dbus_connection_call_sync(g_dbus_proxy_get_connection(G_DBUS_PROXY(sms)), MM_DBUS_SERVICE, mm_sms_get_path(sms),
        "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", MM_DBUS_INTERFACE_SMS, "MessageReference"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, error.out());
    if (!reply)
        return std::nullopt;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    std::optional<int64_t> reference;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32))
        reference = g_variant_get_uint32(value);
    g_variant_unref(value);
    g_variant_unref(reply);
    return reference;
}

}

Transmission ModemTransmitter::transmit(std::u16string const& address, std::u16string const& text, bool report_requested)
{
    std::string number = to_utf8(address);
    GRef<MMSmsProperties> properties(mm_sms_properties_new());
    mm_sms_properties_set_text(properties.get(), to_utf8(text).c_str());
    mm_sms_properties_set_number(properties.get(), number.c_str());
    mm_sms_properties_set_delivery_report_request(properties.get(), report_requested);
    GErrorHolder error;
    GRef<MMSms> sms(mm_modem_messaging_create_sync(m_messaging, properties.get(), nullptr, error.out()));
    if (!sms) {
        say("the modem did not take a message to " + number + ": " + error.message());
        return { false, std::nullopt, to_utf16(error.message()) };
    }
    std::string path = mm_sms_get_path(sms.get());
    bool sent = mm_sms_send_sync(sms.get(), nullptr, error.out());
    Transmission result { sent, sent ? message_reference(sms.get()) : std::nullopt, to_utf16(error.message()) };
    if (sent)
        say("sent " + path + " to " + number + (result.reference ? ", reference " + std::to_string(*result.reference) : ", no reference"));
    else
        say("sending " + path + " to " + number + " failed: " + error.message());
    GErrorHolder removal;
    if (!mm_modem_messaging_delete_sync(m_messaging, path.c_str(), nullptr, removal.out()))
        say("cannot delete message " + path + " from the modem: " + removal.message());
    return result;
}

}
