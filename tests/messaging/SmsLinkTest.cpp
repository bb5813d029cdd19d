#include "messaging/SmsLink.h"

#include <gtest/gtest.h>

using namespace velloq;

namespace {

std::optional<SmsLink> parsed(std::u16string const& link)
{
    std::string why;
    auto result = parse_sms_link(link, why);
    EXPECT_EQ(result.has_value(), why.empty()) << why;
    return result;
}

}

TEST(SmsLink, TheFormsDesktopsHandOver)
{
    struct Case {
        char16_t const* link;
        char16_t const* number;
        char16_t const* body;
    };
    for (Case const& wanted : { Case { u"sms:+4915112345678?body=Hello", u"+4915112345678", u"Hello" },
             Case { u"SMS://+49%20151%20123?BODY=Gr%C3%BC%C3%9Fe%2C%20bis%20gleich&subject=x", u"+49 151 123", u"Grüße, bis gleich" },
             Case { u"smsto:0151123456:see you", u"0151123456", u"see you" }, Case { u"sms:+49151111,+49170222?body=1+1", u"+49151111", u"1+1" },
             Case { u"smsto:+7 912 300-00-04", u"+7 912 300-00-04", u"" } }) {
        auto link = parsed(wanted.link);
        ASSERT_TRUE(link);
        EXPECT_EQ(link->number, wanted.number);
        EXPECT_EQ(link->body, wanted.body);
    }
}

TEST(SmsLink, AHostileOrBrokenLinkIsRefusedAndABodyStaysText)
{
    std::string why;
    for (char16_t const* bad : { u"sms:", u"sms:?body=hi", u"sms:hello?body=hi", u"sms:+49%2", u"sms:+49151?body=%zz", u"sms:+49151?body=%C3",
             u"sms:;rm -rf /", u"sms:+49151$(reboot)", u"mailto:a@b", u"--sms:+49151" }) {
        why.clear();
        EXPECT_FALSE(parse_sms_link(bad, why));
        EXPECT_FALSE(why.empty());
    }
    auto options = parsed(u"sms:+49151?body=--help%0A%1B[31mred%00");
    ASSERT_TRUE(options);
    EXPECT_EQ(options->body, u"--help\n[31mred");
    EXPECT_FALSE(looks_like_sms_link(u"message"));
    EXPECT_TRUE(looks_like_sms_link(u"Smsto:x"));
}
