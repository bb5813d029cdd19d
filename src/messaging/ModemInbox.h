#pragma once

#include "platform/MessageStore.h"

#include <cstdint>
#include <string>

namespace velloq {

// What the modem service takes from a modem and files into the message store: received text
// messages, and the network's status reports on messages that were sent.

struct ReceivedSms {
    std::u16string number;
    std::u16string text;
    // The network's time stamp as the modem gave it, and as FILETIME (UTC).
    std::string timestamp;
    int64_t filetime { 0 };
    // The ModemManager that held it (its bus name) and its object path there: together they
    // tell one modem message from another, also two equal texts from one sender in one second.
    std::string instance;
    std::string source;
    // A class-0 ("flash") message, meant to be shown at once.
    bool flash { false };
};

// Files a received message into the inbox, unread, once: the same modem message (the same
// ModemManager, path, sender, time stamp and text) is not filed again, so a crash between filing
// and deleting it from the modem does no harm while ModemManager keeps running. Only when
// ModemManager restarted in that window can it be filed a second time: a duplicate, never a loss.
platform::StoreResult<platform::ModemFilingLog::Filing> file_received_sms(platform::MessageStore&, ReceivedSms const&);

struct StatusReport {
    // The recipient the report is about.
    std::u16string number;
    int64_t reference { 0 };
    // The network's delivery state (3GPP TS 23.040 TP-Status).
    uint32_t delivery_state { 0 };
    int64_t filetime { 0 };
    std::string source;
};

enum class ReportOutcome {
    Delivered,
    NotDelivered,
    // Not final: the network is still trying, so nothing changes.
    Pending,
    // No message sent in the last days has this reference and number.
    Unmatched,
    AlreadyFiled,
    Failed,
};

// Matches a report to its sent message (in Sent Items or, when it failed for another recipient,
// still in the outbox) by reference and number, the newest one sent within the last three days
// (references wrap at 256), sets that recipient's state, and files the delivery
// or non-delivery report message into the inbox, once.
ReportOutcome file_status_report(platform::MessageStore&, StatusReport const&, int64_t now_filetime);

char16_t const* report_outcome_name(ReportOutcome);

}
