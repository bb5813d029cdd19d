#include "messaging/Transmitter.h"

#include "messaging/MessageTime.h"
#include "platform/Folders.h"
#include "shell/Registry.h"

#include <set>

namespace velloq {

namespace {

namespace Tag = platform::Tag;
using platform::SendState;

std::u16string text_property(platform::PropertySet const& properties, uint32_t tag)
{
    return platform::text_of(properties, tag).value_or(u"");
}

bool report_requested(platform::PropertySet const& properties)
{
    return platform::number_of(properties, Tag::DeliveryReportRequested).value_or(0) != 0;
}

platform::PropertySet recipient_outcome(Transmission const& transmission)
{
    platform::PropertySet outcome;
    outcome[Tag::RecipientState] = static_cast<int64_t>(transmission.sent ? SendState::Sent : SendState::NotSent);
    outcome[Tag::SendError] = transmission.error;
    if (transmission.sent) {
        outcome[Tag::SentTime] = MessageTime::now().filetime();
        if (transmission.reference)
            outcome[Tag::MessageReference] = *transmission.reference;
    }
    return outcome;
}

// Sends to every recipient the message has not gone to yet, noting how far each one got.
bool transmit_to_recipients(platform::MessageStore& store, platform::Bytes const& entry, platform::StoredMessage const& message, ModemBackend& modem)
{
    std::u16string text = text_property(message.properties, Tag::Subject);
    bool report = report_requested(message.properties);
    std::set<int64_t> done = store.transmitted_recipients(entry);
    bool delivered = true;
    for (size_t row = 0; row < message.recipients.size(); ++row) {
        auto recipient_row = static_cast<int64_t>(row);
        if (done.contains(recipient_row))
            continue;
        Transmission transmission = modem.transmit(text_property(message.recipients[row], Tag::EmailAddress), text, report);
        if (transmission.sent)
            store.mark_transmitted(entry, recipient_row);
        else
            delivered = false;
        store.set_recipient_properties(entry, recipient_row, recipient_outcome(transmission));
    }
    return delivered;
}

int32_t report_at_once(platform::MessageStore& store, platform::Bytes const& sent, platform::StoredMessage const& message)
{
    int32_t reports = 0;
    for (size_t row = 0; row < message.recipients.size(); ++row) {
        store.set_recipient_properties(sent, static_cast<int64_t>(row), { { Tag::RecipientState, static_cast<int64_t>(SendState::Delivered) } });
        if (file_delivery_report(store, text_property(message.recipients[row], Tag::EmailAddress), true, sent))
            ++reports;
    }
    return reports;
}

}

platform::StoredMessage delivery_report(std::u16string const& address, bool delivered, platform::Bytes const& reported, int64_t filetime)
{
    platform::StoredMessage report;
    report.properties[Tag::MessageClass] = std::u16string(delivered ? u"REPORT.IPM.SMStext.DR" : u"REPORT.IPM.SMStext.NDR");
    report.properties[Tag::Subject] = std::u16string(delivered ? u"Delivered to " : u"Not delivered to ") + address;
    report.properties[Tag::MessageFlags] = int64_t(0);
    report.properties[Tag::DeliveryTime] = filetime;
    report.properties[Tag::SenderName] = std::u16string();
    report.properties[Tag::SenderAddress] = address;
    if (!reported.empty())
        report.properties[Tag::ReportedMessage] = reported;
    return report;
}

bool file_delivery_report(platform::MessageStore& store, std::u16string const& address, bool delivered, platform::Bytes const& reported)
{
    auto stores = store.stores();
    if (!stores || stores->empty())
        return false;
    auto inbox = store.store_property(stores->front().entry_id, Tag::InboxEntryId);
    return inbox && store.create_message(*inbox, delivery_report(address, delivered, reported, MessageTime::now().filetime()), false);
}

TransmitResult transmit_outbox(platform::MessageStore& store, ModemBackend& modem)
{
    TransmitResult result;
    // A transmitter that was killed mid-send left its claims behind; they go back to the queue.
    store.release_abandoned_claims();
    for (auto const& entry : store.submitted_messages()) {
        // A message another transmitter took already is not sent again.
        if (!store.claim_for_sending(entry))
            continue;
        auto message = store.open_message(entry);
        if (!message) {
            store.release_claim(entry);
            continue;
        }
        // Every way out that does not reach Sent Items gives the claim back.
        std::optional<platform::Bytes> sent;
        if (!transmit_to_recipients(store, entry, *message, modem) || !(sent = store.move_to_sent(entry))) {
            store.release_claim(entry);
            ++result.failed;
            continue;
        }
        ++result.sent;
        if (report_requested(message->properties) && modem.reports_at_once())
            result.reports += report_at_once(store, *sent, *message);
    }
    return result;
}

bool loopback_modem_chosen()
{
    std::u16string modem;
    return reg_get_string(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Modem", modem) && modem == u"loopback";
}

}

namespace velloq {

std::string modem_service_socket()
{
    return platform::device_folder() + "/velloq-modem.socket";
}

}
