#include "messaging/DateFormat.h"

#include "platform/Environment.h"

#include <unicode/datefmt.h>
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

// Formatters are costly to make; each kind is kept until the locale or the zone changes.
struct CachedFormatter {
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

icu::DateFormat* cached(CachedFormatter& cache, std::function<icu::DateFormat*()> const& make)
{
    std::string locale = locale_variables();
    std::string zone = platform::environment_value("TZ");
    if (!cache.formatter || cache.locale != locale || cache.zone != zone) {
        cache.formatter.reset(make());
        if (cache.formatter)
            cache.formatter->adoptTimeZone(icu::TimeZone::detectHostTimeZone());
        cache.locale = locale;
        cache.zone = zone;
    }
    return cache.formatter.get();
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

std::u16string time_text(MessageTime const& time)
{
    thread_local CachedFormatter cache;
    return format(cached(cache, [] { return icu::DateFormat::createTimeInstance(icu::DateFormat::kShort, user_locale()); }), time);
}

std::u16string date_text(MessageTime const& time)
{
    thread_local CachedFormatter cache;
    return format(cached(cache, [] { return icu::DateFormat::createDateInstance(icu::DateFormat::kLong, user_locale()); }), time);
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
