#include "ModemLink.h"

#include "ServiceLog.h"
#include "messaging/ModemInbox.h"
#include "platform/Utf.h"

namespace velloq::modem {

namespace {

constexpr int64_t filetime_unix_epoch = 116'444'736'000'000'000LL;
// A message still arriving in parts after this long will not be completed; it is dropped so it
// cannot hold up the modem's storage.
constexpr gint64 incomplete_limit_seconds = 2 * 24 * 3600;

std::string text_of(gchar const* text)
{
    return text ? text : "";
}

GRef<MMSms> sms_at(GDBusConnection* connection, std::string const& path)
{
    GErrorHolder error;
    auto* sms = static_cast<MMSms*>(g_initable_new(MM_TYPE_SMS, nullptr, error.out(), "g-flags", G_DBUS_PROXY_FLAGS_DO_NOT_AUTO_START,
        "g-name", MM_DBUS_SERVICE, "g-connection", connection, "g-object-path", path.c_str(), "g-interface-name", MM_DBUS_INTERFACE_SMS,
        nullptr));
    if (!sms)
        say("cannot read message " + path + ": " + error.message());
    return GRef<MMSms>(sms);
}

}

int64_t now_filetime()
{
    return g_get_real_time() * 10 + filetime_unix_epoch;
}

int64_t sms_filetime(gchar const* timestamp)
{
    if (!timestamp || !*timestamp)
        return now_filetime();
    GDateTime* time = g_date_time_new_from_iso8601(timestamp, nullptr);
    if (!time)
        return now_filetime();
    int64_t filetime = g_date_time_to_unix(time) * 10'000'000 + filetime_unix_epoch;
    g_date_time_unref(time);
    return filetime;
}

ModemLink::ModemLink(MMObject* object, platform::MessageStore& store, std::function<void()> became_usable)
    : m_object(MM_OBJECT(g_object_ref(object)))
    , m_modem(mm_object_get_modem(object))
    , m_store(store)
    , m_became_usable(std::move(became_usable))
{
    if (m_modem)
        m_signals.emplace_back(m_modem.get(), g_signal_connect(m_modem.get(), "notify::state", G_CALLBACK(on_modem_state), this));
    m_signals.emplace_back(m_object.get(), g_signal_connect(m_object.get(), "interface-added", G_CALLBACK(on_interface_added), this));
    attach_messaging();
    say("modem " + path() + " " + state_text());
    m_was_usable = usable();
}

std::string ModemLink::path() const
{
    return text_of(mm_object_get_path(m_object.get()));
}

bool ModemLink::usable() const
{
    return m_modem && m_messaging && mm_modem_get_state(m_modem.get()) >= MM_MODEM_STATE_REGISTERED;
}

std::string ModemLink::state_text() const
{
    if (!m_modem)
        return "has no modem interface";
    MMModemState state = mm_modem_get_state(m_modem.get());
    std::string text = "is " + text_of(mm_modem_state_get_string(state));
    if (!m_messaging)
        text += ", without messaging";
    return text;
}

void ModemLink::attach_messaging()
{
    if (m_messaging)
        return;
    m_messaging.reset(mm_object_get_modem_messaging(m_object.get()));
    if (!m_messaging)
        return;
    m_signals.emplace_back(m_messaging.get(), g_signal_connect(m_messaging.get(), "added", G_CALLBACK(on_added), this));
    sweep();
}

void ModemLink::sweep()
{
    if (!m_messaging)
        return;
    GErrorHolder error;
    GList* list = mm_modem_messaging_list_sync(m_messaging.get(), nullptr, error.out());
    if (error) {
        say("cannot list the messages of modem " + path() + ": " + error.message());
        return;
    }
    for (GList* item = list; item; item = item->next)
        take(MM_SMS(item->data));
    g_list_free_full(list, g_object_unref);
}

void ModemLink::take_path(std::string const& path)
{
    if (m_incomplete.contains(path))
        return;
    auto sms = sms_at(g_dbus_proxy_get_connection(G_DBUS_PROXY(m_messaging.get())), path);
    if (sms)
        take(sms.get());
}

void ModemLink::take(MMSms* sms)
{
    MMSmsPduType type = mm_sms_get_pdu_type(sms);
    MMSmsState state = mm_sms_get_state(sms);
    if (type == MM_SMS_PDU_TYPE_STATUS_REPORT && state == MM_SMS_STATE_RECEIVED)
        take_report(sms);
    else if (type == MM_SMS_PDU_TYPE_SUBMIT || type == MM_SMS_PDU_TYPE_CDMA_SUBMIT)
        return; // a message being sent, or one the user keeps on the SIM
    else if (state == MM_SMS_STATE_RECEIVED)
        take_received(sms);
    else if (state == MM_SMS_STATE_RECEIVING)
        watch_incomplete(sms);
}

void ModemLink::take_received(MMSms* sms)
{
    std::string path = text_of(mm_sms_get_path(sms));
    ReceivedSms received { to_utf16(text_of(mm_sms_get_number(sms))), to_utf16(text_of(mm_sms_get_text(sms))), sms_filetime(mm_sms_get_timestamp(sms)), path };
    switch (file_received_sms(m_store, received)) {
    case platform::MessageStore::Filing::Failed:
        // It stays on the modem; the next sweep files it.
        say("cannot file message " + path + ": " + m_store.last_error());
        return;
    case platform::MessageStore::Filing::AlreadyFiled:
        say("message " + path + " was filed before");
        break;
    case platform::MessageStore::Filing::Filed:
        say("filed message " + path + " from " + to_utf8(received.number));
        break;
    }
    remove_from_modem(path);
}

void ModemLink::take_report(MMSms* sms)
{
    std::string path = text_of(mm_sms_get_path(sms));
    StatusReport report { to_utf16(text_of(mm_sms_get_number(sms))), mm_sms_get_message_reference(sms), mm_sms_get_delivery_state(sms),
        sms_filetime(mm_sms_get_discharge_timestamp(sms)), path };
    ReportOutcome outcome = file_status_report(m_store, report, now_filetime());
    say("status report " + path + " for reference " + std::to_string(report.reference) + " to " + to_utf8(report.number) + ": "
        + to_utf8(report_outcome_name(outcome)));
    if (outcome != ReportOutcome::Failed)
        remove_from_modem(path);
}

void ModemLink::watch_incomplete(MMSms* sms)
{
    std::string path = text_of(mm_sms_get_path(sms));
    auto [place, added] = m_incomplete.try_emplace(path);
    if (added) {
        place->second.sms.reset(MM_SMS(g_object_ref(sms)));
        place->second.first_seen = g_get_real_time() / G_USEC_PER_SEC;
        m_sms_signals.try_emplace(path, sms, g_signal_connect(sms, "notify::state", G_CALLBACK(on_sms_state), this));
    }
    if (stale(sms, path)) {
        say("message " + path + " from " + text_of(mm_sms_get_number(sms)) + " stayed incomplete for days; dropped from the modem");
        remove_from_modem(path);
    }
}

bool ModemLink::stale(MMSms* sms, std::string const& path)
{
    gint64 now = g_get_real_time() / G_USEC_PER_SEC;
    gint64 since = m_incomplete[path].first_seen;
    if (gchar const* timestamp = mm_sms_get_timestamp(sms); timestamp && *timestamp)
        since = std::min(since, static_cast<gint64>((sms_filetime(timestamp) - filetime_unix_epoch) / 10'000'000));
    return now - since > incomplete_limit_seconds;
}

void ModemLink::remove_from_modem(std::string const& path)
{
    m_sms_signals.erase(path);
    m_incomplete.erase(path);
    GErrorHolder error;
    if (!mm_modem_messaging_delete_sync(m_messaging.get(), path.c_str(), nullptr, error.out()))
        say("cannot delete message " + path + " from the modem: " + error.message());
}

void ModemLink::state_changed()
{
    bool now_usable = usable();
    say("modem " + path() + " " + state_text());
    if (now_usable && !m_was_usable)
        m_became_usable();
    m_was_usable = now_usable;
}

void ModemLink::on_added(MMModemMessaging*, gchar const* path, gboolean, gpointer self)
{
    static_cast<ModemLink*>(self)->take_path(text_of(path));
}

void ModemLink::on_interface_added(GDBusObject*, GDBusInterface*, gpointer self)
{
    auto* link = static_cast<ModemLink*>(self);
    link->attach_messaging();
    link->state_changed();
}

void ModemLink::on_modem_state(GObject*, GParamSpec*, gpointer self)
{
    static_cast<ModemLink*>(self)->state_changed();
}

void ModemLink::on_sms_state(GObject* sms, GParamSpec*, gpointer self)
{
    auto* link = static_cast<ModemLink*>(self);
    std::string path = text_of(mm_sms_get_path(MM_SMS(sms)));
    if (mm_sms_get_state(MM_SMS(sms)) == MM_SMS_STATE_RECEIVING)
        return;
    // Keeps the message alive while it is taken; its watch ends in the taking.
    GRef<MMSms> held(MM_SMS(g_object_ref(sms)));
    link->m_sms_signals.erase(path);
    link->m_incomplete.erase(path);
    link->take(held.get());
}

}
