#pragma once

#include "messaging/MessageTime.h"

#include <string>

namespace velloq {

// The three ways a message time is shown, in the user's locale (LC_ALL, LC_TIME, LANG).

// The locale's time of day without seconds ("14:05", "2:05 PM").
std::u16string time_text(MessageTime const&);
// The locale's long date ("22. November 2000", "November 22, 2000").
std::u16string date_text(MessageTime const&);
// Day and month as two digits each with a point between, in the locale's order: "22.11" where
// the locale writes the day first, "11.22" where it writes the month first.
std::u16string day_month_text(MessageTime const&);

// True when the locale's short date of 22 November 2000 shows "11" before "22"; decided anew
// at each call.
bool locale_puts_month_first();

}
