#include "messaging/ModemInbox.h"

#include "messaging/Chat.h"
#include "messaging/Transmitter.h"
#include "platform/Utf.h"

#include <optional>

namespace velloq {

namespace {

namespace Tag = platform::Tag;
using platform::SendState;

constexpr int64_t filetime_per_day = 864'000'000'000LL;
// A reference names the newest of its messages sent within this many days.
constexpr int64_t report_match_days = 3;

std::optional<bool> delivered(uint32_t delivery_state)
{
    // TP-Status 0x00-0x1F: done; 0x20-0x3F: the network still tries; 0x40-0x7F: given up. The
    // CDMA error states (0x200 on) are final too; 0x100 says nothing.
    if (delivery_state < 0x20)
        return true;
    if ((delivery_state >= 0x40 && delivery_state < 0x80) || delivery_state >= 0x200)
        return false;
    return std::nullopt;
}

using SentRecipient = platform::ModemFilingLog::SentRecipient;

platform::StoreResult<std::optional<SentRecipient>> match_report(platform::MessageStore& store, StatusReport const& report, int64_t now)
{
    std::u16string key = chat_key(report.number, {});
    auto candidates = store.modem_filing().sent_with_reference(report.reference);
    if (!candidates)
        return candidates.error();
    std::optional<SentRecipient> best;
    int64_t best_time = 0;
    for (auto& candidate : *candidates) {
        int64_t sent = platform::number_of(candidate.properties, Tag::SentTime).value_or(0);
        if (sent < now - report_match_days * filetime_per_day || chat_key(platform::text_of(candidate.properties, Tag::EmailAddress).value_or(u""), {}) != key)
            continue;
        if (!best || sent > best_time) {
            best_time = sent;
            best = std::move(candidate);
        }
    }
    return best;
}

std::string report_key(StatusReport const& report)
{
    return "report\n" + to_utf8(report.number) + "\n" + std::to_string(report.reference) + "\n" + std::to_string(report.filetime);
}

}

platform::StoreResult<platform::ModemFilingLog::Filing> file_received_sms(platform::MessageStore& store, ReceivedSms const& sms)
{
    platform::StoredMessage message;
    message.properties[Tag::MessageClass] = std::u16string(u"IPM.SMStext");
    message.properties[Tag::Subject] = sms.text;
    message.properties[Tag::MessageFlags] = int64_t(0);
    message.properties[Tag::DeliveryTime] = sms.filetime;
    message.properties[Tag::SenderName] = std::u16string();
    message.properties[Tag::SenderAddress] = sms.number;
    // Nothing of the key depends on when it was filed: filing it again after a crash gives the same key.
    std::string key = "sms\n" + sms.instance + "\n" + sms.source + "\n" + to_utf8(sms.number) + "\n" + sms.timestamp + "\n" + to_utf8(sms.text);
    return store.modem_filing().file_from_modem(key, sms.source, message);
}

ReportOutcome file_status_report(platform::MessageStore& store, StatusReport const& report, int64_t now_filetime)
{
    auto outcome = delivered(report.delivery_state);
    if (!outcome)
        return ReportOutcome::Pending;
    std::string key = report_key(report);
    auto known = store.modem_filing().filed_from_modem(key);
    if (!known)
        return ReportOutcome::Failed;
    if (*known)
        return ReportOutcome::AlreadyFiled;
    auto matched = match_report(store, report, now_filetime);
    if (!matched)
        return ReportOutcome::Failed;
    auto& sent = *matched;
    if (!sent)
        return ReportOutcome::Unmatched;
    auto state = static_cast<int64_t>(*outcome ? SendState::Delivered : SendState::NotDelivered);
    if (!store.set_recipient_properties(sent->entry, sent->row, { { Tag::RecipientState, state } }))
        return ReportOutcome::Failed;
    // The report names the number as it was sent, so it joins the chat the message is in.
    auto message = delivery_report(platform::text_of(sent->properties, Tag::EmailAddress).value_or(u""), *outcome, sent->entry, report.filetime ? report.filetime : now_filetime);
    auto filed = store.modem_filing().file_from_modem(key, report.source, message);
    if (!filed)
        return ReportOutcome::Failed;
    if (*filed == platform::ModemFilingLog::Filing::AlreadyFiled)
        return ReportOutcome::AlreadyFiled;
    return *outcome ? ReportOutcome::Delivered : ReportOutcome::NotDelivered;
}

char16_t const* report_outcome_name(ReportOutcome outcome)
{
    switch (outcome) {
    case ReportOutcome::Delivered:
        return u"delivered";
    case ReportOutcome::NotDelivered:
        return u"not delivered";
    case ReportOutcome::Pending:
        return u"pending";
    case ReportOutcome::Unmatched:
        return u"unmatched";
    case ReportOutcome::AlreadyFiled:
        return u"already filed";
    case ReportOutcome::Failed:
        break;
    }
    return u"failed";
}

}
