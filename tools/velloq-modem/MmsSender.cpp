#include "MmsSender.h"

#include "GObjectRef.h"
#include "ServiceLog.h"
#include "messaging/MessageRecord.h"
#include "platform/FileSystem.h"
#include "platform/Folders.h"
#include "platform/SendState.h"
#include "platform/Utf.h"

namespace velloq::modem {

namespace {

namespace Tag = platform::Tag;
using platform::SendState;

constexpr char const* mms_name = "org.ofono.mms";
constexpr char const* service_interface = "org.ofono.mms.Service";
// The MMS service answers SendMessage once it has the message in its own store.
constexpr int send_call_timeout_ms = 60'000;

// What the store says of each recipient: all waiting to go, none handed over yet.
bool waits_to_go(platform::StoredMessage const& message, std::set<int64_t> const& transmitted)
{
    if (message.recipients.empty() || !transmitted.empty())
        return false;
    for (auto const& row : message.recipients) {
        auto state = platform::number_of(row, Tag::RecipientState);
        if (state && *state != static_cast<int64_t>(SendState::Sending))
            return false;
    }
    return true;
}

}

GVariant* outgoing_attachments(std::u16string const& text, std::vector<MessagePart> const& parts, std::string const& text_file, std::string& why)
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a(sss)"));
    if (!text.empty()) {
        if (!platform::replace_file(text_file, to_utf8(text), why)) {
            g_variant_builder_clear(&builder);
            return nullptr;
        }
        g_variant_builder_add(&builder, "(sss)", "text.txt", "text/plain;charset=utf-8", text_file.c_str());
    }
    int number = 0;
    for (auto const& part : parts) {
        std::string id = "part" + std::to_string(++number);
        g_variant_builder_add(&builder, "(sss)", id.c_str(), part.content_type.c_str(), part.file.c_str());
    }
    return g_variant_builder_end(&builder);
}

MmsSender::MmsSender(platform::MessageStore& store)
    : m_store(store)
{
}

std::vector<MmsSender::Waiting> MmsSender::waiting()
{
    std::vector<Waiting> found;
    auto submitted = m_store.outbox().submitted_messages();
    if (!submitted) {
        say("cannot read the outbox for MMS: " + submitted.error().text);
        return found;
    }
    for (auto const& entry : *submitted) {
        if (m_in_flight.contains(entry))
            continue;
        auto message = m_store.open_message(entry);
        if (!message || platform::text_of(message->properties, Tag::MessageClass) != u"IPM.MMS")
            continue;
        auto transmitted = m_store.outbox().transmitted_recipients(entry);
        if (!transmitted || !waits_to_go(*message, *transmitted))
            continue;
        Waiting waiting { entry, {}, platform::text_of(message->properties, Tag::Subject).value_or(u""), {} };
        for (auto const& row : message->recipients)
            waiting.recipients.push_back(to_utf8(platform::text_of(row, Tag::EmailAddress).value_or(u"")));
        waiting.parts = parse_message_parts(to_utf8(platform::text_of(message->properties, Tag::MmsParts).value_or(u"")));
        found.push_back(std::move(waiting));
    }
    return found;
}

void MmsSender::send_waiting(GDBusConnection* bus, std::string const& service, GCancellable* calls)
{
    for (auto& message : waiting()) {
        auto claimed = m_store.outbox().claim_for_sending(message.entry);
        if (claimed && *claimed)
            hand_over(bus, service, std::move(message), calls);
    }
}

void MmsSender::hand_over(GDBusConnection* bus, std::string const& service, Waiting message, GCancellable* calls)
{
    std::string folder = platform::device_folder() + "/Outgoing";
    std::string why;
    platform::make_directory_chain(folder);
    message.text_file = folder + "/" + EntryId(message.entry).hex() + ".txt";
    GVariant* attachments = outgoing_attachments(message.text, message.parts, message.text_file, why);
    if (!attachments) {
        not_handed_over(message, "its text could not be written: " + why);
        return;
    }
    GVariantBuilder recipients;
    g_variant_builder_init(&recipients, G_VARIANT_TYPE("as"));
    for (auto const& recipient : message.recipients)
        g_variant_builder_add(&recipients, "s", recipient.c_str());
    GVariant* options = g_variant_new_variant(g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0));
    m_in_flight.emplace(message.entry, message.recipients.size());
    g_dbus_connection_call(bus, mms_name, service.c_str(), service_interface, "SendMessage",
        g_variant_new("(as@v@a(sss))", &recipients, options, attachments), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
        send_call_timeout_ms, calls, finish_async, async_done([this, service, message](GObject* source, GAsyncResult* result) {
            GErrorHolder error;
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, error.out());
            if (cancelled(error.get()))
                return;
            m_in_flight.erase(message.entry);
            platform::remove_file(message.text_file);
            if (!reply) {
                not_handed_over(message, error.message());
                return;
            }
            gchar const* path = nullptr;
            g_variant_get(reply, "(&o)", &path);
            handed_over(service, message, path);
            g_variant_unref(reply);
        }));
}

void MmsSender::handed_over(std::string const& service, Waiting const& message, std::string const& path)
{
    auto noted = m_store.mms_filing().handed_over(message.entry, service, path, message.recipients.size());
    (void)m_store.outbox().release_claim(message.entry);
    if (!noted) {
        // The MMS service sends it whatever the store says: it stays claimed by none and shows as
        // on its way, and the MMS service's listing settles it.
        say("MMS " + path + " was handed over, but the store could not note it: " + noted.error().text);
        return;
    }
    say("handed MMS to " + std::to_string(message.recipients.size()) + " recipients to the MMS service as " + path);
}

void MmsSender::not_handed_over(Waiting const& message, std::string const& why)
{
    say("the MMS service did not take an MMS: " + why);
    show_not_sent(message.entry, message.recipients.size(), why);
}

void MmsSender::show_not_sent(platform::Bytes const& entry, size_t recipients, std::string const& why)
{
    for (size_t row = 0; row < recipients; ++row) {
        platform::PropertySet failed { { Tag::RecipientState, static_cast<int64_t>(SendState::NotSent) }, { Tag::SendError, to_utf16(why) } };
        (void)m_store.set_recipient_properties(entry, static_cast<int64_t>(row), failed);
    }
    (void)m_store.outbox().release_claim(entry);
}

void MmsSender::abandon_in_flight()
{
    for (auto const& [entry, recipients] : m_in_flight)
        show_not_sent(entry, recipients, "the MMS service stopped while it was taking the message");
    if (!m_in_flight.empty())
        say("the MMS service stopped while it was taking " + std::to_string(m_in_flight.size()) + " MMS: they show as not sent");
    m_in_flight.clear();
}

size_t MmsSender::recipient_count(platform::Bytes const& entry)
{
    auto message = m_store.open_message(entry);
    return message ? message->recipients.size() : 0;
}

void MmsSender::status_is(std::string const& path, std::string const& status)
{
    if (status != "sent" && status != "delivered")
        return;
    auto handed = m_store.mms_filing().handed_over_message(path);
    if (!handed || !*handed)
        return;
    platform::Bytes const& entry = (*handed)->entry;
    size_t recipients = recipient_count(entry);
    for (size_t row = 0; row < recipients; ++row)
        (void)m_store.set_recipient_properties(entry, static_cast<int64_t>(row), { { Tag::RecipientState, static_cast<int64_t>(SendState::Sent) } });
    auto claimed = m_store.outbox().claim_for_sending(entry);
    auto moved = claimed && *claimed ? m_store.outbox().move_to_sent(entry) : platform::StoreResult<platform::Bytes>(platform::StoreError::not_found("claimed by another"));
    if (!moved) {
        (void)m_store.outbox().release_claim(entry);
        say("MMS " + path + " was sent, but it could not move to Sent Items: " + moved.error().text);
        return;
    }
    say("MMS " + path + " was sent");
}

void MmsSender::failed(std::string const& path, std::string const& why)
{
    auto handed = m_store.mms_filing().handed_over_message(path);
    if (!handed || !*handed)
        return;
    size_t recipients = recipient_count((*handed)->entry);
    if (auto noted = m_store.mms_filing().not_sent(path, to_utf16(why), recipients); !noted)
        say("MMS " + path + " was not sent, and the store could not note it: " + noted.error().text);
    else
        say("MMS " + path + " was not sent: " + why);
}

}
