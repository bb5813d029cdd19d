#pragma once

#include "messaging/MessageTime.h"

#include <string>

namespace velloq {

// The ways a message time is shown, in the user's locale (LC_ALL, LC_TIME, LANG). Where a
// `language` is given ("ru"), the texts are in that language: with the user's regional customs
// where the user's locale is of that language, else with the language's own.

// The locale's time of day without seconds ("14:05", "2:05 PM").
std::u16string time_text(MessageTime const&, std::string const& language = {});
// The locale's long date ("22. November 2000", "November 22, 2000").
std::u16string date_text(MessageTime const&, std::string const& language = {});
// The day of the week ("Wednesday", "Wed"), its first letter capital.
std::u16string weekday_text(MessageTime const&, std::string const& language, bool abbreviated);
// A short date: day and month named ("Jul 12", "12 июл.") in the year of `now`, else with the
// year in figures ("7/12/25", "12.07.2025").
std::u16string short_date_text(MessageTime const&, MessageTime const& now, std::string const& language);

// How many calendar days in the local time zone lie between the two times' days: 0 for the same
// day, 1 when `time` was the day before `now`; negative for a time after `now`'s day.
int64_t days_before(MessageTime const& time, MessageTime const& now);
// Day and month as two digits each with a point between, in the locale's order: "22.11" where
// the locale writes the day first, "11.22" where it writes the month first.
std::u16string day_month_text(MessageTime const&);

// True when the locale's short date of 22 November 2000 shows "11" before "22"; decided anew
// at each call.
bool locale_puts_month_first();

}
