#include "messaging/Transmitter.h"

#include "messaging/MessageTime.h"

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

TransmitResult transmit_outbox(platform::MessageStore& store, ModemBackend& modem)
{
    TransmitResult result;
    for (auto const& entry : store.submitted_messages()) {
        // A message another transmitter took already is not sent again.
        if (!store.claim_for_sending(entry))
            continue;
        auto message = store.open_message(entry);
        if (!message) {
            store.release_claim(entry);
            continue;
        }
        std::u16string text = text_property(message->properties, Tag::Subject);
        bool delivered = true;
        for (auto const& recipient : message->recipients)
            delivered &= modem.transmit(text_property(recipient, Tag::EmailAddress), text);
        if (!delivered) {
            store.release_claim(entry);
            ++result.failed;
            continue;
        }
        if (!store.move_to_sent(entry))
            continue;
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
