#pragma once

#include <string_view>

namespace velloq {

// Asks the state-and-notification broker to start `program_command` whenever the count of unread
// text messages is non-zero. True when registered, or when a registration of this name exists.
bool set_app_notification(std::u16string_view name, std::u16string_view program_command);

// Withdraws the registration; true whenever the broker could be reached.
bool stop_app_notification(std::u16string_view name);

// Writes a log line for each thing the broker decides after a watched value changes in this
// process (started, not started again, condition false, start failed). Idempotent.
void log_broker_decisions();

}
