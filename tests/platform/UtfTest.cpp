#include "platform/Utf.h"

#include <gtest/gtest.h>

using namespace velloq;

TEST(Utf, RoundTripsEveryPlane)
{
    std::u16string text = u"Grüße, Привет, 你好, 😀";
    EXPECT_EQ(to_utf16(to_utf8(text)), text);
    EXPECT_EQ(to_utf8(u"😀"), "\xF0\x9F\x98\x80");
}

TEST(Utf, IllFormedInputBecomesReplacementCharacters)
{
    EXPECT_EQ(to_utf16("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(to_utf16("\xE2\x82"), u"\uFFFD");
    std::u16string lone_surrogate { u'x', char16_t(0xD800), u'y' };
    EXPECT_EQ(to_utf8(lone_surrogate), "x\xEF\xBF\xBDy");
}

TEST(Utf, EmbeddedZerosSurvive)
{
    std::string bytes("a\0b", 3);
    EXPECT_EQ(to_utf16(bytes), std::u16string(u"a\0b", 3));
}

TEST(Utf, FoldCaseMatchesAcrossScripts)
{
    EXPECT_EQ(fold_case(u"Software\\KETRA"), fold_case(u"software\\ketra"));
    EXPECT_EQ(fold_case(u"ПРИВЕТ"), u"привет");
    EXPECT_EQ(fold_case(u"Straße"), fold_case(u"STRASSE"));
}

TEST(Utf, DecimalNumbers)
{
    EXPECT_EQ(to_u16_decimal(-2147483648LL), u"-2147483648");
    EXPECT_EQ(to_u16_decimal_unsigned(4294967295ULL), u"4294967295");
}

TEST(Utf, TerminalTextShowsControlsEscaped)
{
    EXPECT_EQ(terminal_text(u"Hi\nthere\t!"), "Hi\\nthere\\t!");
    EXPECT_EQ(terminal_text(u"\x1b]0;owned\x07 bell"), "\\x1b]0;owned\\x07 bell");
    EXPECT_EQ(terminal_text(u"a\u009b31mb"), "a\\u{009b}31mb");
    EXPECT_EQ(terminal_text(u"evil\u202Etxt.exe"), "evil\\u{202e}txt.exe");
    EXPECT_EQ(terminal_text(u"C:\\x1b"), "C:\\\\x1b");
    EXPECT_EQ(terminal_text(u"Привет 🎉"), "Привет 🎉");
    // Separators that split a record for line readers, and characters that hide in a text.
    EXPECT_EQ(terminal_text(u"one\u2028two\u2029three"), "one\\u{2028}two\\u{2029}three");
    EXPECT_EQ(terminal_text(u"a\u061Cb\u200Bc\u2060d\uFEFFe"), "a\\u{061c}b\\u{200b}c\\u{2060}d\\u{feff}e");
    EXPECT_EQ(terminal_text(std::u16string(u"x") + char16_t(0xD800) + u"y"), "x\\u{d800}y");
    // The joiners that make one emoji of several, and Persian words, stay.
    EXPECT_EQ(terminal_text(u"👨\u200D👩\u200D👧 می\u200Cخواهم"), "👨\u200D👩\u200D👧 می\u200Cخواهم");
}
