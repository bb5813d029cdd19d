#include "messaging/Transmitter.h"

#include "messaging/MessageTime.h"

#include <set>

namespace velloq {

namespace {

namespace Tag = platform::Tag;

std::u16string text_property(platform::PropertySet const& properties, uint32_t tag)
{
    auto found = properties.find(tag);
    return found != properties.end() && std::holds_alternative<std::u16string>(found->second) ? std::get<std::u16string>(found->second) : std::u16string();
}

bool report_requested(platform::PropertySet const& properties)
{
    auto found = properties.find(Tag::DeliveryReportRequested);
    return found != properties.end() && std::holds_alternative<int64_t>(found->second) && std::get<int64_t>(found->second) != 0;
}

void file_report(platform::MessageStore& store, std::u16string const& address, bool delivered)
{
    auto stores = store.stores();
    if (!stores || stores->empty())
        return;
    auto inbox = store.store_property(stores->front().entry_id, Tag::InboxEntryId);
    if (!inbox)
        return;
    platform::StoredMessage report;
    report.properties[Tag::MessageClass] = std::u16string(delivered ? u"REPORT.IPM.SMStext.DR" : u"REPORT.IPM.SMStext.NDR");
    report.properties[Tag::Subject] = std::u16string(delivered ? u"Delivered to " : u"Not delivered to ") + address;
    report.properties[Tag::MessageFlags] = int64_t(0);
    report.properties[Tag::DeliveryTime] = MessageTime::now().filetime();
    report.properties[Tag::SenderName] = std::u16string();
    report.properties[Tag::SenderAddress] = address;
    store.create_message(*inbox, report, false);
}

}

namespace {

// Sends to every recipient the message has not gone to yet, noting each one it reaches.
bool transmit_to_recipients(platform::MessageStore& store, platform::Bytes const& entry, platform::StoredMessage const& message, ModemBackend& modem)
{
    std::u16string text = text_property(message.properties, Tag::Subject);
    std::set<int64_t> done = store.transmitted_recipients(entry);
    bool delivered = true;
    for (size_t row = 0; row < message.recipients.size(); ++row) {
        if (done.contains(static_cast<int64_t>(row)))
            continue;
        if (modem.transmit(text_property(message.recipients[row], Tag::EmailAddress), text))
            store.mark_transmitted(entry, static_cast<int64_t>(row));
        else
            delivered = false;
    }
    return delivered;
}

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
        if (!transmit_to_recipients(store, entry, *message, modem) || !store.move_to_sent(entry)) {
            store.release_claim(entry);
            ++result.failed;
            continue;
        }
        ++result.sent;
        if (report_requested(message->properties)) {
            for (auto const& recipient : message->recipients) {
                file_report(store, text_property(recipient, Tag::EmailAddress), true);
                ++result.reports;
            }
        }
    }
    return result;
}

}
