#include "messaging/MessageTime.h"

#include "platform/Environment.h"

#include <unicode/calendar.h>
#include <unicode/timezone.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <memory>

namespace velloq {

namespace {

// The calendar of the user's zone (TZ, else the system's) with its full rules, made again only
// when TZ changes: making one costs far more than reading a message.
icu::Calendar* local_calendar()
{
    thread_local std::string zone_name;
    thread_local std::unique_ptr<icu::Calendar> calendar;
    std::string current = platform::environment_value("TZ");
    if (!calendar || current != zone_name) {
        UErrorCode status = U_ZERO_ERROR;
        calendar.reset(icu::Calendar::createInstance(icu::TimeZone::detectHostTimeZone(), status));
        if (U_FAILURE(status))
            calendar.reset();
        zone_name = current;
    }
    return calendar.get();
}

}

MessageTime MessageTime::from_filetime(int64_t filetime)
{
    MessageTime time;
    time.m_filetime = filetime;
    return time;
}

LocalTime MessageTime::local() const
{
    LocalTime local;
    UErrorCode status = U_ZERO_ERROR;
    icu::Calendar* calendar = local_calendar();
    if (!calendar)
        return local;
    calendar->setTime(static_cast<UDate>(unix_milliseconds()), status);
    local.year = calendar->get(UCAL_YEAR, status);
    if (calendar->get(UCAL_ERA, status) == 0)
        local.year = 1 - local.year;
    local.month = calendar->get(UCAL_MONTH, status) + 1;
    local.day_of_week = calendar->get(UCAL_DAY_OF_WEEK, status) - 1;
    local.day = calendar->get(UCAL_DATE, status);
    local.hour = calendar->get(UCAL_HOUR_OF_DAY, status);
    local.minute = calendar->get(UCAL_MINUTE, status);
    local.second = calendar->get(UCAL_SECOND, status);
    local.millisecond = calendar->get(UCAL_MILLISECOND, status);
    return local;
}

MessageTime MessageTime::from_unix_milliseconds(int64_t milliseconds)
{
    return from_filetime(milliseconds * 10'000 + filetime_unix_epoch);
}

MessageTime MessageTime::now()
{
    auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    return from_unix_milliseconds(std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count());
}

int64_t MessageTime::unix_milliseconds() const
{
    // Floor division, so instants before 1970 keep their millisecond.
    int64_t units = m_filetime - filetime_unix_epoch;
    int64_t milliseconds = units / 10'000;
    if (units % 10'000 < 0)
        --milliseconds;
    return milliseconds;
}

}
