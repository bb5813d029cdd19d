#include "messaging/DateFormat.h"

#include "platform/Utf.h"
#include "support/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>

using namespace velloq;

namespace {

// 2000-11-22 13:05:09 UTC.
constexpr int64_t november_22_2000 = 974'898'309'000LL;

// The zone and locale the tests choose, given back afterwards.
class MessageTimeTest : public testing::Test {
protected:
    void TearDown() override { ::tzset(); }
    void use_zone(char const* zone)
    {
        m_zone.emplace("TZ", zone);
        ::tzset();
    }
    void use_locale(char const* locale) { m_locale.emplace("LC_ALL", locale); }

private:
    std::optional<test::ScopedEnvironment> m_zone;
    std::optional<test::ScopedEnvironment> m_locale;
};

using DateTexts = MessageTimeTest;

}

TEST_F(MessageTimeTest, FiletimeAndUnixTimeAreTheSameInstant)
{
    use_zone("UTC");
    auto time = MessageTime::from_unix_milliseconds(november_22_2000);
    EXPECT_EQ(time.filetime(), november_22_2000 * 10'000 + filetime_unix_epoch);
    EXPECT_EQ(time.local(), (LocalTime { 2000, 11, 3, 22, 13, 5, 9, 0 }));
    EXPECT_EQ(time.add_hours(-14).local().day, 21);
    EXPECT_EQ(time.compare(time.add_hours(1)), -1);
    EXPECT_EQ(time.compare(time), 0);
    EXPECT_EQ(MessageTime::from_filetime(0).local().year, 1601);
}

TEST_F(MessageTimeTest, HalfHourZonesAndDaylightSavingFollowTheInstant)
{
    use_zone("Asia/Kolkata");
    auto kolkata = MessageTime::from_unix_milliseconds(november_22_2000).local();
    EXPECT_EQ(kolkata.hour, 18);
    EXPECT_EQ(kolkata.minute, 35);
    use_zone("Europe/Berlin");
    // 2026-03-29 00:30 UTC is winter time (+1); 02:30 UTC the same day is summer time (+2).
    auto before = MessageTime::from_unix_milliseconds(1'774'744'200'000LL).local();
    auto after = MessageTime::from_unix_milliseconds(1'774'751'400'000LL).local();
    EXPECT_EQ(before.hour, 1);
    EXPECT_EQ(before.minute, 30);
    EXPECT_EQ(after.hour, 4);
    EXPECT_EQ(after.minute, 30);
}

TEST_F(DateTexts, TextsFollowTheLocale)
{
    use_zone("UTC");
    auto time = MessageTime::from_unix_milliseconds(november_22_2000);
    use_locale("de_DE.UTF-8");
    EXPECT_EQ(time_text(time), u"13:05");
    EXPECT_EQ(date_text(time), u"22. November 2000");
    EXPECT_FALSE(locale_puts_month_first());
    EXPECT_EQ(day_month_text(time), u"22.11");
    use_locale("en_US.UTF-8");
    EXPECT_NE(time_text(time).find(u"1:05"), std::u16string::npos) << to_utf8(time_text(time));
    EXPECT_EQ(date_text(time), u"November 22, 2000");
    EXPECT_TRUE(locale_puts_month_first());
    EXPECT_EQ(day_month_text(time), u"11.22");
    use_locale("ru_RU.UTF-8");
    EXPECT_EQ(day_month_text(time), u"22.11");
}

// The interface's language names the days and months and, unless the user's locale is of the same
// language, brings its own customs. Days are counted in the local calendar, so 23:30 and 00:30
// are a day apart though an hour is not.
TEST_F(DateTexts, TheInterfacesLanguageOverTheUsersLocaleAndLocalCalendarDays)
{
    use_zone("Europe/Berlin");
    use_locale("en_US.UTF-8");
    auto time = MessageTime::from_unix_milliseconds(november_22_2000);
    EXPECT_EQ(date_text(time, "ru"), u"22 ноября 2000\u202Fг.");
    EXPECT_EQ(time_text(time, "ru"), u"14:05");
    EXPECT_EQ(weekday_text(time, "ru", false), u"Среда");
    EXPECT_EQ(weekday_text(time, "en", true), u"Wed");
    EXPECT_NE(time_text(time, "en").find(u"2:05"), std::u16string::npos) << to_utf8(time_text(time, "en"));
    auto later_that_year = time.add_hours(24 * 10);
    EXPECT_EQ(short_date_text(time, later_that_year, "en"), u"Nov 22");
    EXPECT_EQ(short_date_text(time, later_that_year, "ru"), u"22 нояб.");
    EXPECT_EQ(short_date_text(time, time.add_hours(24 * 60), "en"), u"11/22/2000");
    use_locale("en_GB.UTF-8");
    EXPECT_EQ(short_date_text(time, time.add_hours(24 * 60), "en"), u"22/11/2000");
    EXPECT_EQ(time_text(time, "en"), u"14:05");

    // 22 November 23:30 and 23 November 00:30 in Berlin.
    auto late = MessageTime::from_unix_milliseconds(974'932'200'000LL);
    EXPECT_EQ(late.local().hour, 23);
    EXPECT_EQ(days_before(late, late.add_hours(1)), 1);
    EXPECT_EQ(days_before(late, late.add_hours(-1)), 0);
    EXPECT_EQ(days_before(late, late.add_hours(24 * 6 + 1)), 7);
    EXPECT_EQ(days_before(late.add_hours(30), late), -2);
}
