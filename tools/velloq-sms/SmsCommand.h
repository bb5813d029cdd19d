#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace velloq::tools {

enum class SmsExit : int {
    Ok = 0,
    StoreUnavailable = 1,
    BadArguments = 2,
    // Messages wait in the outbox: no modem took them.
    NotSent = 3,
};

// Runs one velloq-sms command on the message store of the current device folder.
SmsExit run_sms_command(std::vector<std::string> const& arguments, std::ostream& out, std::ostream& err);

// "2026-12-08T10:30", "…:05", with "Z" or "+05:30" for other zones than the local one; as
// milliseconds since 1970, or nullopt.
std::optional<int64_t> parse_iso_time(std::string const& text);

}
