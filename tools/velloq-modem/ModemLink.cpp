#include "ModemLink.h"

#include "ServiceLog.h"
#include "SmsProxy.h"
#include "messaging/ModemInbox.h"
#include "platform/Utf.h"

namespace velloq::modem {

namespace {

constexpr int64_t filetime_unix_epoch = 116'444'736'000'000'000LL;
// A message still arriving in parts this long after the service first saw it will not be
// completed; it is dropped so it cannot hold up the modem's storage. Measured from the first
// sighting, never from the network's time stamp, which is days old after days without coverage.
constexpr gint64 incomplete_limit_seconds = 2 * 24 * 3600;
// Messages whose filing failed (a busy or full store) are tried again this often.
constexpr guint housekeeping_seconds = 60;
// How long the messages found waiting on a modem are taken before the service looks at its
// socket and the bus again.
constexpr gint64 waiting_slice_us = 20'000;

std::string text_of(gchar const* text)
{
    return text ? text : "";
}

gint64 now_unix()
{
    return g_get_real_time() / G_USEC_PER_SEC;
}

// What identifies a message arriving in parts across restarts of the service and of
// ModemManager: its sender and the time stamp of its first part.
std::string incomplete_key(MMSms* sms)
{
    return "parts\n" + text_of(mm_sms_get_number(sms)) + "\n" + text_of(mm_sms_get_timestamp(sms));
}

// A message that carries data instead of text: a WAP push (the MMS notification of a picture or
// a group message) or another binary message, which belongs to the program that handles it.
bool carries_data(MMSms* sms)
{
    gsize size = 0;
    mm_sms_get_data(sms, &size);
    gchar const* text = mm_sms_get_text(sms);
    return size > 0 && (!text || !*text);
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
    // Without a UTC offset the time is the phone's own (local) time.
    GTimeZone* local = g_time_zone_new_local();
    GDateTime* time = g_date_time_new_from_iso8601(timestamp, local);
    g_time_zone_unref(local);
    if (!time)
        return now_filetime();
    int64_t filetime = g_date_time_to_unix(time) * 10'000'000 + filetime_unix_epoch;
    g_date_time_unref(time);
    return filetime;
}

ModemLink::ModemLink(MMObject* object, std::string instance, platform::MessageStore& store, Events events)
    : m_object(MM_OBJECT(g_object_ref(object)))
    , m_modem(mm_object_get_modem(object))
    , m_instance(std::move(instance))
    , m_store(store)
    , m_events(std::move(events))
{
    if (m_modem)
        m_signals.emplace_back(m_modem.get(), g_signal_connect(m_modem.get(), "notify::state", G_CALLBACK(on_modem_state), this));
    m_signals.emplace_back(m_object.get(), g_signal_connect(m_object.get(), "interface-added", G_CALLBACK(on_interface_added), this));
    m_housekeeping = g_timeout_add_seconds(housekeeping_seconds, on_housekeeping, this);
    attach_messaging();
    say("modem " + path() + " " + state_text());
    m_was_usable = usable();
}

ModemLink::~ModemLink()
{
    g_source_remove(m_housekeeping);
    if (m_take_waiting)
        g_source_remove(m_take_waiting);
}

std::vector<std::string> ModemLink::own_numbers() const
{
    std::vector<std::string> numbers;
    if (m_modem) {
        if (gchar const* const* own = mm_modem_get_own_numbers(m_modem.get())) {
            for (; *own; ++own)
                numbers.emplace_back(*own);
        }
    }
    return numbers;
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
    m_signals.emplace_back(m_messaging.get(), g_signal_connect(m_messaging.get(), "deleted", G_CALLBACK(on_deleted), this));
    list_messages();
}

// Once per modem: after that ModemManager's Added and Deleted signals tell what changes.
void ModemLink::list_messages()
{
    m_listed = false;
    mm_modem_messaging_list(m_messaging.get(), m_calls.get(), finish_async, async_done([this](GObject* source, GAsyncResult* result) {
        GErrorHolder error;
        GList* list = mm_modem_messaging_list_finish(MM_MODEM_MESSAGING(source), result, error.out());
        if (cancelled(error.get()))
            return;
        if (error) {
            // The next round of housekeeping asks again.
            say("cannot list the messages of modem " + path() + ": " + error.message());
            return;
        }
        m_listed = true;
        for (GList* item = list; item; item = item->next)
            m_waiting.emplace_back(MM_SMS(item->data));
        g_list_free(list);
        if (!m_waiting.empty() && !m_take_waiting)
            m_take_waiting = g_idle_add(on_take_waiting, this);
    }));
}

// A modem full of messages is taken a slice at a time, so the service answers in between.
bool ModemLink::take_waiting()
{
    gint64 until = g_get_monotonic_time() + waiting_slice_us;
    while (!m_waiting.empty() && g_get_monotonic_time() < until) {
        GRef<MMSms> sms = std::move(m_waiting.front());
        m_waiting.pop_front();
        take(sms.get());
    }
    if (!m_waiting.empty())
        return true;
    m_take_waiting = 0;
    return false;
}

gboolean ModemLink::on_take_waiting(gpointer self)
{
    return static_cast<ModemLink*>(self)->take_waiting() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void ModemLink::take_path(std::string const& path)
{
    if (m_incomplete.contains(path) || m_busy.contains(path) || !m_messaging)
        return;
    m_busy.insert(path);
    GDBusConnection* connection = g_dbus_proxy_get_connection(G_DBUS_PROXY(m_messaging.get()));
    make_sms_proxy(connection, path, m_calls.get(), [this, path](GRef<MMSms> sms, GErrorHolder const& error) {
        m_busy.erase(path);
        if (!sms) {
            say("cannot read message " + path + ": " + error.message());
            m_retry.insert(path);
            return;
        }
        take(sms.get());
    });
}

void ModemLink::take(MMSms* sms)
{
    std::string path = text_of(mm_sms_get_path(sms));
    if (m_busy.contains(path))
        return;
    m_retry.erase(path);
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

void ModemLink::leave_on_modem(std::string const& path, std::string const& why)
{
    if (m_left.insert(path).second)
        say("message " + path + " left on the modem: " + why);
}

void ModemLink::take_received(MMSms* sms)
{
    std::string path = text_of(mm_sms_get_path(sms));
    if (carries_data(sms))
        return leave_on_modem(path, "it carries data, not text (an MMS notification or another program's message)");
    ReceivedSms received;
    received.number = to_utf16(text_of(mm_sms_get_number(sms)));
    received.text = to_utf16(text_of(mm_sms_get_text(sms)));
    received.timestamp = text_of(mm_sms_get_timestamp(sms));
    received.filetime = sms_filetime(mm_sms_get_timestamp(sms));
    received.instance = m_instance;
    received.source = path;
    received.flash = mm_sms_get_class(sms) == 0;
    auto filing = file_received_sms(m_store, received);
    if (!filing) {
        // It stays on the modem; housekeeping files it.
        say("cannot file message " + path + ": " + filing.error().text);
        m_retry.insert(path);
        return;
    }
    if (*filing == platform::ModemFilingLog::Filing::AlreadyFiled)
        say("message " + path + " was filed before");
    else
        say(std::string(received.flash ? "filed flash message " : "filed message ") + path + " from " + to_utf8(received.number));
    remove_from_modem(path);
}

void ModemLink::take_report(MMSms* sms)
{
    std::string path = text_of(mm_sms_get_path(sms));
    StatusReport report { to_utf16(text_of(mm_sms_get_number(sms))), mm_sms_get_message_reference(sms), mm_sms_get_delivery_state(sms),
        sms_filetime(mm_sms_get_discharge_timestamp(sms)), path };
    ReportOutcome outcome = file_status_report(m_store, report, now_filetime());
    std::string about = "status report " + path + " for reference " + std::to_string(report.reference) + " to " + to_utf8(report.number);
    if (outcome == ReportOutcome::Unmatched)
        return leave_on_modem(path, about + " matches no message sent here; it is left for the program that sent it");
    say(about + ": " + to_utf8(report_outcome_name(outcome)));
    if (outcome == ReportOutcome::Failed)
        m_retry.insert(path);
    else
        remove_from_modem(path);
}

void ModemLink::watch_incomplete(MMSms* sms)
{
    std::string path = text_of(mm_sms_get_path(sms));
    auto [place, added] = m_incomplete.try_emplace(path);
    if (!added)
        return;
    place->second.sms.reset(MM_SMS(g_object_ref(sms)));
    place->second.key = incomplete_key(sms);
    m_sms_signals.try_emplace(path, sms, g_signal_connect(sms, "notify::state", G_CALLBACK(on_sms_state), this));
    auto first_seen = m_store.modem_filing().first_seen_incomplete(place->second.key, now_unix());
    if (!first_seen)
        say("cannot note incomplete message " + path + ": " + first_seen.error().text);
    place->second.first_seen = first_seen.value_or(now_unix());
    say("message " + path + " from " + text_of(mm_sms_get_number(sms)) + " is arriving in parts, first seen " +
        std::to_string((now_unix() - place->second.first_seen) / 60) + " minutes ago");
    drop_if_stale(path);
}

void ModemLink::forget_incomplete(std::string const& key)
{
    if (auto forgotten = m_store.modem_filing().forget_incomplete(key); !forgotten)
        say("cannot forget an incomplete message: " + forgotten.error().text);
}

void ModemLink::drop_if_stale(std::string const& path)
{
    auto const& incomplete = m_incomplete.at(path);
    if (now_unix() - incomplete.first_seen <= incomplete_limit_seconds)
        return;
    say("message " + path + " from " + text_of(mm_sms_get_number(incomplete.sms.get())) + " stayed incomplete for days; dropped from the modem");
    forget_incomplete(incomplete.key);
    remove_from_modem(path);
}

void ModemLink::housekeeping()
{
    std::vector<std::string> incomplete;
    for (auto const& [path, message] : m_incomplete)
        incomplete.push_back(path);
    for (auto const& path : incomplete)
        drop_if_stale(path);
    if (m_messaging && !m_listed)
        list_messages();
    for (auto const& path : std::set<std::string>(m_retry))
        take_path(path);
}

void ModemLink::forget(std::string const& path)
{
    m_sms_signals.erase(path);
    m_incomplete.erase(path);
    m_retry.erase(path);
    m_left.erase(path);
}

void ModemLink::remove_from_modem(std::string const& path)
{
    forget(path);
    m_busy.insert(path);
    mm_modem_messaging_delete(m_messaging.get(), path.c_str(), m_calls.get(), finish_async,
        async_done([this, path](GObject* source, GAsyncResult* result) {
            GErrorHolder error;
            mm_modem_messaging_delete_finish(MM_MODEM_MESSAGING(source), result, error.out());
            if (cancelled(error.get()))
                return;
            m_busy.erase(path);
            if (error)
                say("cannot delete message " + path + " from the modem: " + error.message());
        }));
}

void ModemLink::state_changed()
{
    bool now_usable = usable();
    say("modem " + path() + " " + state_text());
    if (now_usable && !m_was_usable)
        m_events.became_usable();
    m_was_usable = now_usable;
}

void ModemLink::on_added(MMModemMessaging*, gchar const* path, gboolean, gpointer self)
{
    static_cast<ModemLink*>(self)->take_path(text_of(path));
}

void ModemLink::on_deleted(MMModemMessaging*, gchar const* path, gpointer self)
{
    auto* link = static_cast<ModemLink*>(self);
    std::string deleted = text_of(path);
    // An incomplete message ModemManager gave up on is forgotten here too, also one still
    // waiting to be taken.
    if (auto found = link->m_incomplete.find(deleted); found != link->m_incomplete.end())
        link->forget_incomplete(found->second.key);
    std::erase_if(link->m_waiting, [&](GRef<MMSms> const& sms) {
        if (text_of(mm_sms_get_path(sms.get())) != deleted)
            return false;
        if (mm_sms_get_state(sms.get()) == MM_SMS_STATE_RECEIVING)
            link->forget_incomplete(incomplete_key(sms.get()));
        return true;
    });
    link->forget(deleted);
    link->m_events.message_deleted(deleted);
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
    if (auto found = link->m_incomplete.find(path); found != link->m_incomplete.end())
        link->forget_incomplete(found->second.key);
    link->forget(path);
    link->take(held.get());
}

gboolean ModemLink::on_housekeeping(gpointer self)
{
    static_cast<ModemLink*>(self)->housekeeping();
    return G_SOURCE_CONTINUE;
}

}
