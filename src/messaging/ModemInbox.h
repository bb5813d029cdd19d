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
    // The network's time stamp of the message (FILETIME, UTC).
    int64_t filetime { 0 };
    // Where it lay (the modem's object path of the message), for the log and the store's record.
    std::string source;
};

// Files a received message into the inbox, unread, once: a message filed before (same number,
// time stamp and text) is not filed again.
platform::MessageStore::Filing file_received_sms(platform::MessageStore&, ReceivedSms const&);

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

// Matches a report to its sent message by reference and number, the newest one sent within the
// last three days (references wrap at 256), sets that recipient's state, and files the delivery
// or non-delivery report message into the inbox, once.
ReportOutcome file_status_report(platform::MessageStore&, StatusReport const&, int64_t now_filetime);

char16_t const* report_outcome_name(ReportOutcome);

}
