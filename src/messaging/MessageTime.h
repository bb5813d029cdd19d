#pragma once

#include <cstdint>

namespace velloq {

// A broken-down local date and time, as the platform's SYSTEMTIME.
struct LocalTime {
    int32_t year { 1601 };
    int32_t month { 1 };       // 1 to 12
    int32_t day_of_week { 1 }; // 0 = Sunday
    int32_t day { 1 };
    int32_t hour { 0 };
    int32_t minute { 0 };
    int32_t second { 0 };
    int32_t millisecond { 0 };
    bool operator==(LocalTime const&) const = default;
};

// The time of a message: an instant as a count of 100-nanosecond units since 1601-01-01 UTC (the
// platform's FILETIME). Its local time follows the time zone rules in force at that very instant
// (half-hour zones, daylight saving on either side of a change); it is worked out when asked for,
// since most messages of a large store are only ordered, never shown.
class MessageTime {
public:
    MessageTime() = default;
    static MessageTime from_filetime(int64_t filetime);
    static MessageTime from_unix_milliseconds(int64_t milliseconds);
    static MessageTime now();

    int64_t filetime() const { return m_filetime; }
    int64_t unix_milliseconds() const;
    LocalTime local() const;
    int32_t year() const { return local().year; }

    MessageTime add_hours(int64_t hours) const { return from_filetime(m_filetime + hours * 36'000'000'000LL); }
    // -1, 0 or 1 by the instant.
    int compare(MessageTime const& other) const { return m_filetime < other.m_filetime ? -1 : m_filetime > other.m_filetime ? 1 : 0; }

private:
    int64_t m_filetime { 0 };
};

// 100-nanosecond units between 1601-01-01 and 1970-01-01.
constexpr int64_t filetime_unix_epoch = 116'444'736'000'000'000LL;

}
