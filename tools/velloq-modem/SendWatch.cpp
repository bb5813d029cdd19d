#include "SendWatch.h"

#include "OutboxSender.h"
#include "ServiceLog.h"
#include "SmsProxy.h"
#include "messaging/MessageTime.h"
#include "messaging/Transmitter.h"

#include <ctime>

namespace velloq::modem {

namespace {

namespace Tag = platform::Tag;
using platform::SendState;

constexpr char16_t const* unknown_outcome = u"The modem did not say whether it was sent";
constexpr int64_t settle_limit_seconds = 2 * modem_send_timeout_seconds;

// A proxy of a message ModemManager does not have holds no properties.
bool exists(MMSms* sms)
{
    gchar** names = g_dbus_proxy_get_cached_property_names(G_DBUS_PROXY(sms));
    bool any = names && *names;
    g_strfreev(names);
    return any;
}

}

SendWatch::SendWatch(platform::MessageStore& store, std::function<void(std::string const& path)> remove_from_modem)
    : m_store(store)
    , m_remove_from_modem(std::move(remove_from_modem))
{
}

// The sends still to be settled; none while the store cannot be read (the next look tries again).
std::vector<platform::OutboxQueue::UnsettledSend> SendWatch::unsettled_sends()
{
    auto sends = m_store.outbox().unsettled_sends();
    if (!sends) {
        say("cannot read the sends still to be settled: " + sends.error().text);
        return {};
    }
    return std::move(*sends);
}

void SendWatch::refresh(GDBusConnection* bus, std::string const& instance)
{
    if (instance != m_instance)
        m_watched.clear();
    m_instance = instance;
    for (auto const& send : unsettled_sends()) {
        if (send.instance != instance)
            settle_unknown(send.instance, send.path, "ModemManager restarted");
        else if (!m_watched.contains(send.path))
            watch(bus, send);
    }
    expire();
}

void SendWatch::watch(GDBusConnection* bus, platform::OutboxQueue::UnsettledSend const& send)
{
    m_watched[send.path].since = send.since;
    std::string path = send.path;
    make_sms_proxy(bus, path, m_calls.get(), [this, path](GRef<MMSms> sms, GErrorHolder const&) {
        auto watched = m_watched.find(path);
        if (watched == m_watched.end())
            return;
        if (!sms || !exists(sms.get()))
            return settle_unknown(m_instance, path, "the modem's message is gone");
        watched->second.state = SignalConnection(sms.get(), g_signal_connect(sms.get(), "notify::state", G_CALLBACK(on_state), this));
        watched->second.sms = std::move(sms);
        look_at(path);
    });
}

void SendWatch::look_at(std::string const& path)
{
    auto watched = m_watched.find(path);
    if (watched != m_watched.end() && watched->second.sms && mm_sms_get_state(watched->second.sms.get()) == MM_SMS_STATE_SENT)
        settle_sent(path, watched->second.sms.get());
}

void SendWatch::settle_sent(std::string const& path, MMSms* sms)
{
    platform::PropertySet sent { { Tag::RecipientState, static_cast<int64_t>(SendState::Sent) }, { Tag::SendError, std::u16string() },
        { Tag::SentTime, MessageTime::now().filetime() }, { Tag::MessageReference, static_cast<int64_t>(mm_sms_get_message_reference(sms)) } };
    auto settled = m_store.outbox().settle_send(m_instance, path, sent);
    if (!settled)
        return say("cannot note that " + path + " was sent: " + settled.error().text);
    if (!*settled)
        return say(path + " was settled before");
    say("the modem sent " + path + " after all, reference " + std::to_string(mm_sms_get_message_reference(sms)));
    GRef<MMSms> held(MM_SMS(g_object_ref(sms)));
    m_watched.erase(path);
    m_remove_from_modem(path);
}

void SendWatch::settle_unknown(std::string const& instance, std::string const& path, std::string const& why)
{
    platform::PropertySet unknown { { Tag::RecipientState, static_cast<int64_t>(SendState::NotSent) }, { Tag::SendError, std::u16string(unknown_outcome) } };
    auto settled = m_store.outbox().settle_send(instance, path, unknown);
    if (!settled)
        say("cannot note that whether " + path + " was sent is not known: " + settled.error().text);
    else if (*settled)
        say("whether " + path + " was sent is not known (" + why + "); it shows as not sent and is not sent again by itself");
    m_watched.erase(path);
}

void SendWatch::message_deleted(std::string const& path)
{
    if (m_watched.contains(path))
        settle_unknown(m_instance, path, "ModemManager deleted it");
}

void SendWatch::expire()
{
    int64_t now = static_cast<int64_t>(std::time(nullptr));
    for (auto const& send : unsettled_sends())
        if (now - send.since > settle_limit_seconds)
            settle_unknown(send.instance, send.path, "no word from the modem for " + std::to_string(settle_limit_seconds / 60) + " minutes");
}

void SendWatch::on_state(GObject* sms, GParamSpec*, gpointer self)
{
    static_cast<SendWatch*>(self)->look_at(mm_sms_get_path(MM_SMS(sms)));
}

}
