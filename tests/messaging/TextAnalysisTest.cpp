#include "messaging/TextAnalysis.h"

#include "platform/Utf.h"

#include <gtest/gtest.h>

using namespace velloq;

TEST(TextAnalysis, Links)
{
    EXPECT_TRUE(is_link(u"www."));
    EXPECT_FALSE(is_link(u"www"));
    EXPECT_TRUE(is_link(u"site.ru"));
    EXPECT_FALSE(is_link(u".ru"));
    EXPECT_FALSE(is_link(u"SITE.RU"));
    EXPECT_TRUE(is_link(u"example.info"));
    EXPECT_TRUE(is_link(u"http://x"));
    EXPECT_TRUE(is_link(u"http://"));
    EXPECT_FALSE(is_link(u"http:/"));
    EXPECT_TRUE(is_link(u"https://example.org/photos/summer"));
    EXPECT_FALSE(is_link(u"https:/x"));
    EXPECT_TRUE(is_link(u"shop.mobi"));
    EXPECT_FALSE(is_link(u"hello"));
}

TEST(TextAnalysis, PhoneNumbers)
{
    EXPECT_TRUE(is_phone_number(u"+7 (916) 123-45-67"));
    EXPECT_FALSE(is_phone_number(u"12"));
    EXPECT_FALSE(is_phone_number(to_u16_decimal(MessageTime::now().year())));
    EXPECT_TRUE(is_phone_number(u"112"));
    EXPECT_EQ(last_seven_digits(u"+49 (151) 234-56789"), u"3456789");
    EXPECT_EQ(last_seven_digits(u"+49 151 2345678"), u"2345678");
    EXPECT_EQ(last_seven_digits(u"abc"), u"");
}

TEST(TextAnalysis, FindsLinksAndNumbersInTheOrderTheyEnd)
{
    EXPECT_EQ(find_items(u"call me: +7 (916) 123-45-67, thanks"), (std::vector<std::u16string> { u"+7 (916) 123-45-67" }));
    EXPECT_EQ(find_items(u"see https://example.org/photos/summer ok"), (std::vector<std::u16string> { u"https://example.org/photos/summer" }));
    EXPECT_TRUE(find_items(u"abc12345").empty());
    EXPECT_TRUE(find_items(u"12").empty());
    EXPECT_TRUE(find_items(to_u16_decimal(MessageTime::now().year())).empty());
    EXPECT_EQ(find_items(u"see www.example.org or call 0151 2345678"), (std::vector<std::u16string> { u"www.example.org", u"0151 2345678" }));
    EXPECT_EQ(find_items(u"Посмотри www.example.ru/news"), (std::vector<std::u16string> { u"www.example.ru/news" }));
    EXPECT_EQ(find_items(u"Посмотри site.ru"), (std::vector<std::u16string> { u"site.ru" }));
    EXPECT_EQ(find_items(u"(site.ru)"), (std::vector<std::u16string> { u"site.ru" }));
    MessageRecord record;
    record.text = u"mail@example.com";
    find_items(record);
    EXPECT_EQ(record.found_items, (std::vector<std::u16string> { u"mail@example.com" }));
}

TEST(TextAnalysis, SmsParts)
{
    EXPECT_EQ(count_sms_parts(u""), (SmsParts { 1, 160 }));
    EXPECT_EQ(count_sms_parts(std::u16string(160, u'a')), (SmsParts { 1, 0 }));
    EXPECT_EQ(count_sms_parts(std::u16string(161, u'a')), (SmsParts { 2, 145 }));
    std::u16string cyrillic = std::u16string(69, u'a') + u"я";
    EXPECT_EQ(count_sms_parts(cyrillic), (SmsParts { 1, 0 }));
    EXPECT_EQ(count_sms_parts(cyrillic + u"a"), (SmsParts { 2, 63 }));
    EXPECT_EQ(count_sms_parts(u"{€}"), (SmsParts { 1, 157 }));
    EXPECT_FALSE(is_gsm_character(u'`'));
    int gsm = 0;
    for (char32_t c = 0; c < 0x10000; ++c)
        gsm += is_gsm_character(static_cast<char16_t>(c));
    EXPECT_EQ(gsm, 137);
}
