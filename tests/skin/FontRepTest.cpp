#include "skin/FontRep.h"

#include <gtest/gtest.h>

using namespace velloq;

TEST(FontDescription, ParsesNumbersAndAFaceOfSeveralWords)
{
    auto description = parse_font_description(u"10 1 0 0 DejaVu Sans", 1);
    EXPECT_EQ(description.size, 10);
    EXPECT_TRUE(description.bold);
    EXPECT_FALSE(description.italic);
    EXPECT_FALSE(description.underline);
    EXPECT_EQ(description.face, u"DejaVu Sans");
    EXPECT_EQ(parse_font_description(u"", 2), (FontDescription { 12, 2, false, false, false, u"Tahoma" }));
    EXPECT_EQ(parse_font_description(u"9 0 1", 1), (FontDescription { 9, 1, false, true, false, u"Tahoma" }));
    EXPECT_EQ(parse_font_description(u"x 1 1 1 Face", 1).size, 12);
}

TEST(FontRep, HeightFollowsSizeAndScaleAtNinetySixDpi)
{
    FontRep font({ 10, 1, false, false, false, u"Tahoma" }, 96);
    EXPECT_EQ(font.height(), -13);
    FontRep doubled({ 10, 2, false, false, false, u"Tahoma" }, 192);
    EXPECT_EQ(doubled.height(), -26);
    ASSERT_FALSE(font.is_null());
    EXPECT_GT(font.line_height(), 10);
    EXPECT_GT(doubled.measure(u"Hello"), font.measure(u"Hello"));
}

TEST(FontRep, MeasuresCyrillicSymbolsAndSurrogatePairs)
{
    FontRep font({ 10, 1, false, false, false, u"Tahoma" }, 96);
    EXPECT_GT(font.measure(u"Привет"), 0);
    EXPECT_GT(font.measure(u"€£¥§¤"), 0);
    EXPECT_EQ(font.measure(u""), 0);
    EXPECT_NEAR(font.measure(u"ab"), font.measure(u"a") + font.measure(u"b"), 1);
    std::u16string lone_surrogate(1, char16_t(0xD83D));
    font.measure(lone_surrogate);
}

TEST(FontRep, DrawsInsideTheClipOnly)
{
    FontRep font({ 20, 1, true, false, false, u"Tahoma" }, 96);
    auto picture = Bitmap565::create(60, 40);
    picture->fill(0);
    font.draw({ { 0, 0, 30, 40 }, picture.get() }, 2, 2, u"HHHH", 0xFFFF);
    bool inside = false;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 60; ++x) {
            if (x >= 30) {
                EXPECT_EQ(picture->row(y)[x], 0) << x << "," << y;
            }
            inside |= picture->row(y)[x] == 0xFFFF;
        }
    }
    EXPECT_TRUE(inside);
    font.draw({ { 0, 0, 60, 40 }, picture.get() }, -500, -500, u"far away", 0xFFFF);
}

TEST(FontRep, BreaksBetweenWordsAndInsideLongWords)
{
    FontRep font({ 10, 1, false, false, false, u"Tahoma" }, 96);
    int32_t width = font.measure(u"hello world");
    auto lines = font.break_lines(u"hello world hello world", width);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], u"hello world");
    EXPECT_EQ(lines[1], u"hello world");
    auto broken = font.break_lines(u"abcdefghij", font.measure(u"abcd"));
    ASSERT_GE(broken.size(), 3u);
    for (auto const& line : broken)
        EXPECT_LE(font.measure(line), font.measure(u"abcd"));
    EXPECT_EQ(font.break_lines(u"one\ntwo", 1000), (std::vector<std::u16string> { u"one", u"two" }));
}

namespace {

// Pixels of the picture whose red, green and blue differ (text in one grey never does).
int coloured_pixels(Bitmap565 const& picture)
{
    int count = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            uint16_t pixel = picture.row(y)[x];
            int red = pixel >> 11, green = (pixel >> 5 & 0x3F) >> 1, blue = pixel & 0x1F;
            count += red != green || green != blue;
        }
    }
    return count;
}

}

// Emoji come from the colour emoji font, scaled to the line; a skin tone, a family joined by
// zero-width joiners and a flag are one emoji each; a heart with U+FE0F is the emoji, without
// it the text heart, inside the clip only.
TEST(FontRep, DrawsEmojiInTheirColoursAtTheSizeOfTheText)
{
    FontRep font({ 13, 1, false, false, false, u"Tahoma" }, 96);
    int cake = font.measure(u"\U0001F382");
    EXPECT_GT(cake, 10);
    EXPECT_LT(cake, 2 * font.line_height());
    EXPECT_EQ(font.measure(u"\U0001F44D\U0001F3FD"), font.measure(u"\U0001F44D"));
    EXPECT_EQ(font.measure(u"\U0001F468\u200D\U0001F469\u200D\U0001F467"), cake);
    EXPECT_EQ(font.measure(u"\U0001F1E9\U0001F1EA"), cake);
    EXPECT_EQ(font.measure(u"\U0001F600"), cake);
    auto picture = Bitmap565::create(80, 30);
    picture->fill(0xFFFF);
    font.draw({ { 0, 0, 40, 30 }, picture.get() }, 0, 2, u"\U0001F382\U0001F382\U0001F382\U0001F382", 0);
    EXPECT_GT(coloured_pixels(*picture), 20);
    for (int y = 0; y < 30; ++y) {
        for (int x = 40; x < 80; ++x)
            ASSERT_EQ(picture->row(y)[x], 0xFFFF) << x << "," << y;
    }
    picture->fill(0xFFFF);
    font.draw({ { 0, 0, 80, 30 }, picture.get() }, 0, 2, u"\u2764", 0);
    EXPECT_EQ(coloured_pixels(*picture), 0);
    font.draw({ { 0, 0, 80, 30 }, picture.get() }, 0, 2, u"\u2764\uFE0F", 0);
    EXPECT_GT(coloured_pixels(*picture), 20);
}
