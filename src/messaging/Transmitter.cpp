#include "messaging/Transmitter.h"

#include "messaging/MessageRecord.h"
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
    // Filed read: it tells the state of the user's own message, never a new word to be alerted to.
    report.properties[Tag::MessageFlags] = int64_t(message_flag_read);
    report.properties[Tag::DeliveryTime] = filetime;
    report.properties[Tag::SenderName] = std::u16string();
    report.properties[Tag::SenderAddress] = address;
    if (!reported.empty())
        report.properties[Tag::ReportedMessage] = reported;
    return report;
}

bool file_delivery_report(platform::MessageStore& store, std::u16string const& address, bool delivered, platform::Bytes const& reported)
{
    auto inbox = store.folder(Tag::InboxEntryId);
    return inbox && store.create_message(*inbox, delivery_report(address, delivered, reported, MessageTime::now().filetime()), false);
}

OutboxRun::OutboxRun(platform::MessageStore& store, bool reports_at_once)
    : m_outbox(store.outbox())
    , m_store(store)
    , m_reports_at_once(reports_at_once)
{
    // A transmitter that was killed mid-send left its claims behind; they go back to the queue.
    // A queue that cannot be read is tried again at the next pass.
    (void)m_outbox.release_abandoned_claims();
    m_queue = m_outbox.submitted_messages().value_or({});
}

OutboxRun::~OutboxRun()
{
    // A pass abandoned mid-message (its modem went away) gives the claim back.
    if (m_current && !m_stopped)
        (void)m_outbox.release_claim(m_current->entry);
}

std::optional<OutgoingSms> OutboxRun::next()
{
    while (!m_stopped) {
        if (!m_current && !open_next_message())
            return std::nullopt;
        if (m_current->next_row == m_current->rows.size()) {
            finish_message();
            continue;
        }
        int64_t row = m_current->rows[m_current->next_row++];
        auto const& properties = m_current->message.properties;
        return OutgoingSms { m_current->entry, row, text_property(m_current->message.recipients[static_cast<size_t>(row)], Tag::EmailAddress),
            text_property(properties, Tag::Subject), report_requested(properties) };
    }
    return std::nullopt;
}

// Claims the next message of the queue that another transmitter has not taken, with the
// recipients it has not gone to yet.
bool OutboxRun::open_next_message()
{
    while (m_queued < m_queue.size()) {
        auto const& entry = m_queue[m_queued++];
        auto claimed = m_outbox.claim_for_sending(entry);
        if (!claimed)
            return stop();
        if (!*claimed)
            continue;
        auto message = m_store.open_message(entry);
        // An MMS goes through the phone's MMS service, never as text messages.
        if (message && platform::text_of(message->properties, Tag::MessageClass) == u"IPM.MMS") {
            (void)m_outbox.release_claim(entry);
            continue;
        }
        // Which recipients it already went to must be known, or one of them could get it twice:
        // without that the message goes back to the queue and the pass ends.
        auto done = message ? m_outbox.transmitted_recipients(entry) : platform::StoreResult<std::set<int64_t>>(message.error());
        if (!done) {
            (void)m_outbox.release_claim(entry);
            if (done.error().kind == platform::StoreError::Kind::NotFound)
                continue;
            return stop();
        }
        Current current { entry, std::move(*message), {}, 0, true };
        for (size_t row = 0; row < current.message.recipients.size(); ++row)
            if (!done->contains(static_cast<int64_t>(row)))
                current.rows.push_back(static_cast<int64_t>(row));
        m_current = std::move(current);
        return true;
    }
    return false;
}

// The store failed: the pass ends, so nothing is sent that cannot be noted.
bool OutboxRun::stop()
{
    m_stopped = true;
    ++m_result.failed;
    return false;
}

void OutboxRun::record(OutgoingSms const& sms, Transmission const& transmission)
{
    if (!m_current || m_current->entry != sms.entry)
        return;
    bool noted = true;
    if (transmission.unsettled) {
        platform::PropertySet on_its_way { { Tag::RecipientState, static_cast<int64_t>(SendState::Sending) }, { Tag::SendError, std::u16string() } };
        noted = m_outbox.note_unsettled_send(sms.entry, sms.row, transmission.unsettled->instance, transmission.unsettled->path, on_its_way).ok();
        ++m_result.unsettled;
    } else {
        if (transmission.sent)
            noted = m_outbox.mark_transmitted(sms.entry, sms.row).ok();
        else
            m_current->all_went = false;
        noted = m_store.set_recipient_properties(sms.entry, sms.row, recipient_outcome(transmission)).ok() && noted;
    }
    // A recipient the store could not note as sent would be sent again: the pass stops here and
    // the message stays claimed until this process ends.
    if (!noted && (transmission.sent || transmission.unsettled))
        stop();
}

// Every way out that does not reach Sent Items gives the claim back.
void OutboxRun::finish_message()
{
    Current current = std::move(*m_current);
    m_current.reset();
    auto sent = current.all_went ? m_outbox.move_to_sent(current.entry) : platform::StoreError::failed("not every recipient got it");
    if (!sent) {
        (void)m_outbox.release_claim(current.entry);
        ++m_result.failed;
        return;
    }
    ++m_result.sent;
    if (report_requested(current.message.properties) && m_reports_at_once)
        m_result.reports += report_at_once(m_store, *sent, current.message);
}

TransmitResult transmit_outbox(platform::MessageStore& store, ModemBackend& modem)
{
    OutboxRun run(store, modem.reports_at_once());
    while (auto sms = run.next())
        run.record(*sms, modem.transmit(sms->address, sms->text, sms->report_requested));
    return run.result();
}

bool loopback_modem_chosen()
{
    std::u16string modem;
    return reg_get_string(registry_key::program, u"Modem", modem) && modem == u"loopback";
}

}

namespace velloq {

std::string modem_service_socket()
{
    return platform::device_folder() + "/velloq-modem.socket";
}

}
