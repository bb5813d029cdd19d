#include "shell/KeyCode.h"

#include <gtest/gtest.h>

using namespace velloq;

TEST(KeyCode, TableNamesEveryCode)
{
    EXPECT_EQ(key_name(Key::None), u"None");
    EXPECT_EQ(key_name(Key::Backspace), u"Backspace");
    EXPECT_EQ(key_name(Key::A), u"A");
    EXPECT_EQ(key_name(Key::Z), u"Z");
    EXPECT_EQ(key_name(Key::Digit0), u"0");
    EXPECT_EQ(key_name(Key::Digit9), u"9");
    EXPECT_EQ(key_name(Key::Star), u"*");
    EXPECT_EQ(key_name(Key::Pound), u"#");
    EXPECT_EQ(key_name(Key::VolumeDown), u"VOLUME_DOWN");
    EXPECT_EQ(key_name(static_cast<KeyCode>(65)), u"None");
    EXPECT_EQ(key_name(static_cast<KeyCode>(-1)), u"None");
}

TEST(KeyCode, NamesResolveBackToTheirCodes)
{
    for (int code = 0; code <= Key::Last; ++code)
        EXPECT_EQ(key_code_from_name(key_name(static_cast<KeyCode>(code))), code);
    EXPECT_EQ(key_code_from_name(u"SOFT_RIGHT"), Key::SoftRight);
    EXPECT_FALSE(key_code_from_name(u"soft_right"));
    EXPECT_FALSE(key_code_from_name(u""));
}
