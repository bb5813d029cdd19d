#include "forms/MessageDates.h"

#include "lang/LanguageTable.h"
#include "messaging/DateFormat.h"
#include "platform/Utf.h"

namespace velloq {

namespace {

// Days back that are still named by their weekday.
constexpr int64_t days_named_by_weekday = 6;

}

std::string MessageDates::language_code() const
{
    return to_utf8(m_language.text_of(u"Locale", std::u16string()));
}

std::u16string MessageDates::in_list(MessageTime const& time, MessageTime const& now) const
{
    int64_t days = days_before(time, now);
    if (days <= 0)
        return time_text(time, language_code());
    if (days == 1)
        return m_language.text_of(u"Yesterday");
    if (days <= days_named_by_weekday)
        return weekday_text(time, language_code(), true);
    return short_date_text(time, now, language_code());
}

std::u16string MessageDates::day_heading(MessageTime const& time, MessageTime const& now) const
{
    int64_t days = days_before(time, now);
    if (days == 0)
        return m_language.text_of(u"Today");
    if (days == 1)
        return m_language.text_of(u"Yesterday");
    if (days > 1 && days <= days_named_by_weekday)
        return weekday_text(time, language_code(), false);
    return date_text(time, language_code());
}

std::u16string MessageDates::clock(MessageTime const& time) const
{
    return time_text(time, language_code());
}

}
