#include "messaging/DateFormat.h"

#include "platform/Environment.h"

#include <unicode/datefmt.h>
#include <unicode/dtptngen.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <functional>
#include <memory>
#include <string>

namespace velloq {

namespace {

// The user's locale for dates: LC_ALL, then LC_TIME, then LANG ("de_DE.UTF-8" -> "de_DE").
icu::Locale user_locale()
{
    for (char const* variable : { "LC_ALL", "LC_TIME", "LANG" }) {
        std::string value = platform::environment_value(variable);
        if (value.empty())
            continue;
        std::string name = value.substr(0, value.find_first_of(".@"));
        if (name == "C" || name == "POSIX")
            return icu::Locale("en_US_POSIX");
        return icu::Locale(name.c_str());
    }
    return icu::Locale("en_US_POSIX");
}

// The user's locale where it is of the interface's language (en_GB keeps its 24-hour clock under
// an English interface); otherwise the interface language's own customs, since a locale of
// another language (often the system's unset en_US) says nothing of how this one is written.
icu::Locale shown_locale(std::string const& language)
{
    icu::Locale user = user_locale();
    if (language.empty() || language == user.getLanguage())
        return user;
    return icu::Locale(language.c_str());
}

// Formatters are costly to make; each kind is kept until the locale, language or zone changes.
struct CachedFormatter {
    std::string language;
    std::string locale;
    std::string zone;
    std::unique_ptr<icu::DateFormat> formatter;
};

// What the locale is chosen from, as it stands in the environment: comparing it is far cheaper
// than making the locale.
std::string locale_variables()
{
    return platform::environment_value("LC_ALL") + '\n' + platform::environment_value("LC_TIME") + '\n' + platform::environment_value("LANG");
}

icu::DateFormat* cached(CachedFormatter& cache, std::string const& language, std::function<icu::DateFormat*()> const& make)
{
    std::string locale = locale_variables();
    std::string zone = platform::environment_value("TZ");
    if (!cache.formatter || cache.locale != locale || cache.zone != zone || cache.language != language) {
        cache.formatter.reset(make());
        if (cache.formatter)
            cache.formatter->adoptTimeZone(icu::TimeZone::detectHostTimeZone());
        cache.locale = locale;
        cache.zone = zone;
        cache.language = language;
    }
    return cache.formatter.get();
}

// A formatter for a skeleton ("MMMd"): the locale's own pattern of those fields, in its order.
icu::DateFormat* from_skeleton(char16_t const* skeleton, std::string const& language)
{
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale locale = shown_locale(language);
    std::unique_ptr<icu::DateTimePatternGenerator> generator(icu::DateTimePatternGenerator::createInstance(locale, status));
    if (U_FAILURE(status))
        return nullptr;
    icu::UnicodeString pattern = generator->getBestPattern(icu::UnicodeString(skeleton), status);
    if (U_FAILURE(status))
        return nullptr;
    auto formatter = std::make_unique<icu::SimpleDateFormat>(pattern, locale, status);
    return U_FAILURE(status) ? nullptr : formatter.release();
}

// The local calendar day of a time, counted from an epoch of the calendar's own.
int64_t local_day(MessageTime const& time)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(icu::TimeZone::detectHostTimeZone(), status));
    if (U_FAILURE(status))
        return time.unix_milliseconds() / 86'400'000;
    calendar->setTime(static_cast<UDate>(time.unix_milliseconds()), status);
    int32_t day = calendar->get(UCAL_JULIAN_DAY, status);
    return U_FAILURE(status) ? time.unix_milliseconds() / 86'400'000 : day;
}

int32_t local_year(MessageTime const& time)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(icu::TimeZone::detectHostTimeZone(), status));
    if (U_FAILURE(status))
        return 0;
    calendar->setTime(static_cast<UDate>(time.unix_milliseconds()), status);
    return calendar->get(UCAL_YEAR, status);
}

std::u16string format(icu::DateFormat* formatter, MessageTime const& time)
{
    if (!formatter)
        return {};
    icu::UnicodeString text;
    formatter->format(static_cast<UDate>(time.unix_milliseconds()), text);
    return std::u16string(reinterpret_cast<char16_t const*>(text.getBuffer()), static_cast<size_t>(text.length()));
}

std::u16string format_pattern(char16_t const* pattern, MessageTime const& time)
{
    UErrorCode status = U_ZERO_ERROR;
    icu::SimpleDateFormat formatter(icu::UnicodeString(pattern), user_locale(), status);
    if (U_FAILURE(status))
        return {};
    formatter.adoptTimeZone(icu::TimeZone::detectHostTimeZone());
    return format(&formatter, time);
}

}

std::u16string time_text(MessageTime const& time, std::string const& language)
{
    thread_local CachedFormatter cache;
    return format(cached(cache, language, [&] { return icu::DateFormat::createTimeInstance(icu::DateFormat::kShort, shown_locale(language)); }), time);
}

std::u16string date_text(MessageTime const& time, std::string const& language)
{
    thread_local CachedFormatter cache;
    return format(cached(cache, language, [&] { return icu::DateFormat::createDateInstance(icu::DateFormat::kLong, shown_locale(language)); }), time);
}

std::u16string weekday_text(MessageTime const& time, std::string const& language, bool abbreviated)
{
    thread_local CachedFormatter short_cache;
    thread_local CachedFormatter long_cache;
    std::u16string text = format(cached(abbreviated ? short_cache : long_cache, language, [&] { return from_skeleton(abbreviated ? u"ccc" : u"cccc", language); }), time);
    if (!text.empty()) {
        icu::UnicodeString first(text.substr(0, 1).c_str());
        first.toUpper(shown_locale(language));
        if (first.length() == 1)
            text[0] = first.charAt(0);
    }
    return text;
}

std::u16string short_date_text(MessageTime const& time, MessageTime const& now, std::string const& language)
{
    thread_local CachedFormatter this_year;
    thread_local CachedFormatter other_year;
    if (local_year(time) == local_year(now))
        return format(cached(this_year, language, [&] { return from_skeleton(u"MMMd", language); }), time);
    return format(cached(other_year, language, [&] { return from_skeleton(u"yMd", language); }), time);
}

int64_t days_before(MessageTime const& time, MessageTime const& now)
{
    return local_day(now) - local_day(time);
}

bool locale_puts_month_first()
{
    std::unique_ptr<icu::DateFormat> formatter(icu::DateFormat::createDateInstance(icu::DateFormat::kShort, user_locale()));
    if (!formatter)
        return false;
    formatter->adoptTimeZone(icu::TimeZone::createTimeZone("UTC"));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(icu::TimeZone::createTimeZone("UTC"), status));
    calendar->set(2000, UCAL_NOVEMBER, 22, 12, 0, 0);
    icu::UnicodeString text;
    formatter->format(calendar->getTime(status), text);
    int32_t month = text.indexOf(u"11");
    int32_t day = text.indexOf(u"22");
    return month >= 0 && day >= 0 && month < day;
}

std::u16string day_month_text(MessageTime const& time)
{
    return format_pattern(locale_puts_month_first() ? u"MM.dd" : u"dd.MM", time);
}

}
