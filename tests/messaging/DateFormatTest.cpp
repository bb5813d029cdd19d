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
