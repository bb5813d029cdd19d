// Text in every script: the glyphs drawn are HarfBuzz's own for each run (checked against the
// hb-shape tool, not against this code), carets stand where the reader sees the characters,
// and long lines of Thai (no spaces) and Arabic break where the script allows.
#include "skin/FontRep.h"
#include "support/ChildProcess.h"
#include "support/TempDevice.h"

#include "platform/TextBoundaries.h"
#include "platform/Utf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

using namespace velloq;

namespace {

struct Run {
    platform::FontFace const* face;
    std::vector<uint32_t> glyphs;
    size_t first_cluster;
    size_t last_cluster;
};

// The shaped line's glyphs cut into runs of one face, left to right.
std::vector<Run> face_runs(FontRep& font, std::u16string_view line)
{
    auto const& shaped = font.shape(line);
    auto faces = font.faces();
    std::vector<Run> runs;
    for (auto const& glyph : shaped.glyphs) {
        if (runs.empty() || runs.back().face != faces.at(glyph.face))
            runs.push_back({ faces.at(glyph.face), {}, glyph.cluster, glyph.cluster });
        runs.back().glyphs.push_back(glyph.index);
        runs.back().first_cluster = std::min<size_t>(runs.back().first_cluster, glyph.cluster);
        runs.back().last_cluster = std::max<size_t>(runs.back().last_cluster, glyph.cluster);
    }
    return runs;
}

// What hb-shape says the glyphs of the text are in the font file, left to right.
std::vector<uint32_t> hb_shape(test::TempDevice const& device, std::string const& font_file, std::u16string_view text)
{
    auto text_file = device.path() / "text.txt";
    auto glyph_file = device.path() / "glyphs.txt";
    std::ofstream(text_file, std::ios::binary) << to_utf8(text);
    test::ChildProcess tool({ "/usr/bin/hb-shape", "--text-file=" + text_file.string(), "--output-file=" + glyph_file.string(), "--no-positions",
        "--no-clusters", "--no-glyph-names", "--", font_file });
    EXPECT_EQ(tool.wait(), 0) << "hb-shape (libharfbuzz-bin) on " << font_file;
    std::ifstream read(glyph_file);
    std::string printed((std::istreambuf_iterator<char>(read)), std::istreambuf_iterator<char>());
    std::vector<uint32_t> glyphs;
    std::istringstream numbers(printed.substr(printed.find('[') + 1));
    for (uint32_t glyph = 0; numbers >> glyph; numbers.ignore(1))
        glyphs.push_back(glyph);
    return glyphs;
}

}

// Each sample is one script in one face that the first face lacks: the glyphs are exactly
// HarfBuzz's for that face, so Arabic letters are joined, Hebrew is reversed, Devanagari forms
// its conjuncts, Thai places its marks and emoji sequences are one glyph each.
TEST(Shaping, TheGlyphsOfALineAreTheOnesHarfBuzzGivesForItsRuns)
{
    test::TempDevice device;
    FontRep font({ 13, 1, false, false, false, u"Tahoma" }, 96);
    std::u16string const samples[] = {
        u"مرحبا كيف حالك",
        u"שלום מה שלומך",
        u"नमस्ते स्त्री क्षत्रिय",
        u"สวัสดีครับ วันนี้ไปไหนมา",
        u"你好，今天晚上一起吃饭吗？",
        u"こんにちは、元気ですか？",
        u"\U0001F468\u200D\U0001F469\u200D\U0001F467\U0001F1E9\U0001F1EA\U0001F44D\U0001F3FD\U0001F600",
    };
    for (auto const& sample : samples) {
        auto runs = face_runs(font, sample);
        ASSERT_EQ(runs.size(), 1u) << to_utf8(sample);
        EXPECT_NE(runs[0].face, font.faces().front()) << to_utf8(sample) << " needs a face of its script";
        EXPECT_EQ(runs[0].glyphs, hb_shape(device, runs[0].face->file(), sample)) << to_utf8(sample) << " in " << runs[0].face->file();
    }
    // The family, the flag, the toned thumb and the face: four glyphs, one per emoji.
    EXPECT_EQ(face_runs(font, samples[6])[0].glyphs.size(), 4u);
}

// A line of both directions: the Arabic words with their number run right to left inside the
// left-to-right line, each run shaped as HarfBuzz shapes it on its own.
TEST(Shaping, AMixedLineKeepsItsRunsInTheirDirections)
{
    test::TempDevice device;
    FontRep font({ 13, 1, false, false, false, u"Tahoma" }, 96);
    std::u16string line = u"Meeting at 5 في المكتب رقم 12 ok";
    auto const& shaped = font.shape(line);
    EXPECT_FALSE(shaped.right_to_left);
    size_t arabic = line.find(u"في");
    size_t twelve = line.find(u"12");
    // Visually: "Meeting at 5", then 12, then the Arabic from its last word to its first, then "ok".
    EXPECT_LT(shaped.caret_x(line.find(u"5")), shaped.caret_x(twelve));
    EXPECT_LT(shaped.caret_x(twelve), shaped.caret_x(line.find(u"رقم")));
    EXPECT_LT(shaped.caret_x(line.find(u"رقم")), shaped.caret_x(arabic));
    EXPECT_LT(shaped.caret_x(arabic), shaped.caret_x(line.find(u"ok")));
    for (auto const& run : face_runs(font, line)) {
        if (run.face == font.faces().front())
            continue;
        // Its clusters here are one code unit each.
        std::u16string text = line.substr(run.first_cluster, run.last_cluster + 1 - run.first_cluster);
        EXPECT_EQ(run.glyphs, hb_shape(device, run.face->file(), text)) << to_utf8(text);
    }
    EXPECT_TRUE(font.shape(u"שלום 123 abc עולם").right_to_left);
}

// In right-to-left text the caret before the first character stands at the right end and the
// one after the last at the left end; a tap finds the character under it either way.
TEST(Shaping, CaretsStandWhereTheReaderSeesTheCharacters)
{
    FontRep font({ 13, 1, false, false, false, u"Tahoma" }, 96);
    std::u16string hebrew = u"שלום";
    auto const& shaped = font.shape(hebrew);
    EXPECT_TRUE(shaped.right_to_left);
    EXPECT_EQ(shaped.caret_x(0), shaped.width);
    EXPECT_EQ(shaped.caret_x(hebrew.size()), 0);
    for (size_t at = 0; at + 1 < hebrew.size(); ++at)
        EXPECT_GT(shaped.caret_x(at), shaped.caret_x(at + 1));
    EXPECT_EQ(shaped.caret_at(-5), hebrew.size());
    EXPECT_EQ(shaped.caret_at(shaped.width + 5), 0u);
    EXPECT_EQ(shaped.caret_at(shaped.caret_x(2)), 2u);

    std::u16string latin = u"abc";
    EXPECT_EQ(font.shape(latin).caret_x(0), 0);
    EXPECT_EQ(font.shape(latin).caret_x(3), font.shape(latin).width);
    // An emoji sequence is one character: no caret stands inside it.
    std::u16string family = u"a\U0001F468\u200D\U0001F469\u200D\U0001F467b";
    auto const& emoji = font.shape(family);
    EXPECT_EQ(emoji.caret_x(3), emoji.caret_x(1));
    for (int32_t x = 0; x <= emoji.width; ++x) {
        size_t at = emoji.caret_at(x);
        EXPECT_TRUE(at == 0 || at == 1 || at == family.size() - 1 || at == family.size()) << x << " gives " << at;
    }
}

// A long line without blanks (Thai) breaks between its words, one with blanks (Arabic) at
// them; no line is wider than asked, no character is lost and no line starts inside a cluster.
TEST(Shaping, LongThaiAndArabicLinesBreakWhereTheirScriptsAllow)
{
    FontRep font({ 13, 1, false, false, false, u"Tahoma" }, 96);
    std::u16string thai = u"สวัสดีครับวันนี้อากาศดีมากเราไปเที่ยวทะเลกันไหมครับพรุ่งนี้เช้าก็ได้นะ";
    std::u16string arabic = u"مرحبا يا صديقي، هل ستأتي إلى الاجتماع غدا في المكتب الرئيسي بعد الظهر؟";
    for (int32_t width : { 120, 200 }) {
        auto lines = font.break_lines(thai, width);
        EXPECT_GE(lines.size(), 2u);
        std::u16string joined;
        auto breaks = platform::line_break_opportunities(thai);
        for (auto const& line : lines) {
            EXPECT_LE(font.measure(line), width) << to_utf8(line);
            joined += line;
            if (joined.size() < thai.size())
                EXPECT_NE(std::find(breaks.begin(), breaks.end(), joined.size()), breaks.end()) << "a break inside a word: " << to_utf8(line);
        }
        EXPECT_EQ(joined, thai);

        auto arabic_lines = font.break_lines(arabic, width);
        EXPECT_GE(arabic_lines.size(), 2u);
        std::u16string rejoined;
        for (auto const& line : arabic_lines) {
            EXPECT_LE(font.measure(line), width) << to_utf8(line);
            EXPECT_TRUE(font.is_right_to_left(line));
            EXPECT_FALSE(line.empty() || line.front() == u' ' || line.back() == u' ') << to_utf8(line);
            rejoined += (rejoined.empty() ? u"" : u" ") + line;
        }
        EXPECT_EQ(rejoined, arabic);
    }
    // A paragraph longer than what is shaped at once breaks as a short one would: every line
    // filled, none too wide, nothing lost where the windows meet.
    std::u16string book;
    for (int word = 0; book.size() < 9000; ++word)
        book += (word % 2 ? u"مرحبا" : u"hello") + std::u16string(word % 7 ? u"" : u"\U0001F468\u200D\U0001F469\u200D\U0001F467") + u" ";
    book.pop_back();
    auto book_lines = font.break_lines(book, 150);
    std::u16string rebuilt;
    for (size_t index = 0; index < book_lines.size(); ++index) {
        EXPECT_LE(font.measure(book_lines[index]), 150);
        if (index + 1 < book_lines.size())
            EXPECT_GT(font.measure(book_lines[index] + u" " + book_lines[index + 1].substr(0, book_lines[index + 1].find(u' '))), 150) << index;
        rebuilt += (index ? u" " : u"") + book_lines[index];
    }
    EXPECT_EQ(rebuilt, book);
    // A cluster wider than the line stays whole on a line of its own.
    auto narrow = font.break_lines(u"\U0001F468\u200D\U0001F469\u200D\U0001F467\U0001F1E9\U0001F1EA", 3);
    EXPECT_EQ(narrow, (std::vector<std::u16string> { u"\U0001F468\u200D\U0001F469\u200D\U0001F467", u"\U0001F1E9\U0001F1EA" }));
}

// Hostile text (lone surrogates, direction overrides, joiners and marks with nothing to join,
// controls, every script mixed) is shaped, broken and given carets without reading outside the
// text: every caret lies on the line, and breaking loses nothing but the blanks it breaks at.
TEST(Shaping, HostileTextIsLaidOutWithoutLosingCharacters)
{
    FontRep font({ 13, 1, false, false, false, u"Tahoma" }, 96);
    std::u16string const pieces[] = { u"\xD83D", u"\xDE00", u"\u202E", u"\u202D", u"\u202C", u"\u2067", u"\u2069", u"\u200D", u"\uFE0F", u"\u0301",
        u"\u094D", u"\u0E31", u"\n", u" ", u"\t", u"\u0000", u"abc", u"مرحبا", u"שלום", u"नमस्ते", u"你好", u"\U0001F1E9", u"\U0001F3FD", u"12" };
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        std::u16string text;
        for (int piece = 0, count = static_cast<int>(random() % 40); piece < count; ++piece)
            text += pieces[random() % std::size(pieces)];
        std::u16string line = text.substr(0, text.find(u'\n'));
        auto const& shaped = font.shape(line);
        for (size_t at = 0; at <= line.size(); ++at) {
            int32_t x = shaped.caret_x(at);
            ASSERT_GE(x, -1) << round;
            ASSERT_LE(x, shaped.width + 1) << round;
        }
        EXPECT_LE(shaped.caret_at(shaped.width / 2), line.size());
        size_t kept = 0;
        for (auto const& broken : font.break_lines(text, 40))
            kept += broken.size();
        size_t blanks = static_cast<size_t>(std::count(text.begin(), text.end(), u' ') + std::count(text.begin(), text.end(), u'\n'));
        EXPECT_GE(kept + blanks, text.size()) << round;
        EXPECT_LE(kept, text.size()) << round;
        size_t before = platform::previous_grapheme(text, text.size());
        EXPECT_LE(before, text.size());
        EXPECT_LE(platform::next_grapheme(text, 0), text.size());
    }
}
