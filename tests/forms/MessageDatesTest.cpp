#include "forms/MessageDates.h"

#include "lang/LanguageTable.h"
#include "platform/Utf.h"
#include "support/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <ctime>

using namespace velloq;

namespace {

// Wednesday 9 December 2026, 15:00 in Berlin.
constexpr int64_t wednesday_afternoon = 1'796'824'800'000LL;

class MessageDatesTest : public testing::Test {
protected:
    void SetUp() override { ::tzset(); }
    void TearDown() override
    {
        m_zone.reset();
        ::tzset();
    }
    std::u16string list(MessageDates const& dates, int hours_before) const
    {
        return dates.in_list(now.add_hours(-hours_before), now);
    }

    test::ScopedEnvironment m_locale { "LC_ALL", "en_US.UTF-8" };
    std::optional<test::ScopedEnvironment> m_zone { std::in_place, "TZ", "Europe/Berlin" };
    MessageTime now = MessageTime::from_unix_milliseconds(wednesday_afternoon);
};

}

// Today's time, "Yesterday" from midnight back, the weekday within the week, then the date; in the
// interface's language, whose own customs win over a locale of another language.
TEST_F(MessageDatesTest, TheListNamesTheDayAsCloseAsItIs)
{
    ::tzset();
    LanguageTable english;
    english.parse(u"Locale=en\nToday=Today\nYesterday=Yesterday");
    MessageDates dates(english);
    EXPECT_EQ(list(dates, 2), u"1:00\u202FPM");
    EXPECT_EQ(list(dates, 16), u"Yesterday");
    EXPECT_EQ(list(dates, 39), u"Yesterday");
    EXPECT_EQ(list(dates, 40), u"Mon");
    EXPECT_EQ(list(dates, 24 * 6), u"Thu");
    EXPECT_EQ(list(dates, 24 * 7), u"Dec 2");
    EXPECT_EQ(dates.day_heading(now.add_hours(-1), now), u"Today");
    EXPECT_EQ(dates.day_heading(now.add_hours(-24 * 3), now), u"Sunday");

    LanguageTable russian;
    russian.parse(u"Locale=ru\nToday=Сегодня\nYesterday=Вчера");
    MessageDates russian_dates(russian);
    EXPECT_EQ(list(russian_dates, 2), u"13:00");
    EXPECT_EQ(list(russian_dates, 16), u"Вчера");
    EXPECT_EQ(list(russian_dates, 41), u"Пн");
    EXPECT_EQ(list(russian_dates, 24 * 7), u"2 дек.");
    EXPECT_EQ(russian_dates.day_heading(now.add_hours(-24 * 300), now), u"12 февраля 2026\u202Fг.");
    EXPECT_EQ(russian_dates.clock(now), u"15:00");
}
