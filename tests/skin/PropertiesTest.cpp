#include "skin/Properties.h"

#include "PictureMaker.h"
#include "SkinBuilder.h"
#include "platform/Utf.h"
#include "shell/Registry.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

using namespace velloq;
using skinc::SectionSource;
using skinc::SkinSource;

namespace {

ScreenInfo screen_at(int32_t dpi)
{
    ScreenInfo screen;
    screen.screen_width = 480;
    screen.screen_height = 800;
    screen.dpi = dpi;
    return screen;
}

SkinSource sample_skin()
{
    SkinSource source;
    SectionSource form;
    form.name = u"FormMain";
    form.integers = { { u"a", 1 }, { u"b", 2 }, { u"c", 3 } };
    form.points = { { u"offset", { 3, -2 } } };
    form.colours = { { u"tint", { 10, 20, 30 } } };
    form.fonts = { { u"font", u"10 1 0 0 DejaVu Sans" } };
    form.strings = { { u"caption", u"Hello" }, { u"type", u"node" } };
    form.pictures = { { u"panel", { u"dot", { 0, 0, 1, 1, 1, 1, 2, 2 }, 7 } } };
    SectionSource child;
    child.strings = { { u"id", u"child" } };
    form.children.push_back(child);
    source.sections.push_back(form);
    for (char16_t const* name : { u"Alpha", u"Beta", u"Gamma", u"Delta", u"Epsilon" }) {
        SectionSource other;
        other.name = name;
        other.integers = { { u"n", static_cast<int32_t>(name[0]) } };
        source.sections.push_back(other);
    }
    source.pictures = { u"dot" };
    return source;
}

class PropertiesTest : public testing::Test {
protected:
    void SetUp() override
    {
        auto dot = Bitmap565::create(2, 2);
        dot->fill(0x1234);
        test::write_bytes(device.path() / "dot.bmp", skinc::bitmap_file_bytes(*dot));
    }
    std::u16string path() { return test::write_test_skin(device.path(), sample_skin()).u16string(); }

    test::TempDevice device;
    Properties skin;
};

}

TEST_F(PropertiesTest, EveryRecordTypeReadsBackWithDefaultsForMisses)
{
    ASSERT_TRUE(skin.load_skin(path(), screen_at(96)));
    auto form = skin.section(u"FormMain");
    ASSERT_TRUE(form);
    EXPECT_EQ(skin.get_int(*form, u"b", -1), 2);
    EXPECT_EQ(skin.get_int(*form, u"bb", -1), -1);
    EXPECT_EQ(skin.get_int(*form, u"", -1), -1);
    EXPECT_EQ(skin.get_point(*form, u"offset", {}), (Point { 3, -2 }));
    EXPECT_EQ(skin.get_point(*form, u"missing", { 5, 5 }), (Point { 5, 5 }));
    EXPECT_EQ(skin.get_colour(*form, u"tint", {}), (Colour { 10, 20, 30, 255 }));
    EXPECT_EQ(skin.get_string(*form, u"caption", u"x"), u"Hello");
    EXPECT_EQ(skin.get_string(*form, u"nothing", u"x"), u"x");
    FontRep* font = skin.get_font(*form, u"font", nullptr);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->description(), (FontDescription { 10, 1, true, false, false, u"DejaVu Sans" }));
    EXPECT_EQ(skin.get_font(*form, u"other", nullptr), nullptr);
    PictureRef picture = skin.get_picture(*form, u"panel", {});
    ASSERT_FALSE(picture.is_null());
    EXPECT_EQ(picture.flag, 7);
    EXPECT_EQ(picture.d, (Point { 2, 2 }));
    EXPECT_EQ(picture.picture->row(1)[1], 0x1234);
    EXPECT_TRUE(skin.get_picture(*form, u"none", {}).is_null());
    auto child = skin.child(*form, 0);
    ASSERT_TRUE(child);
    EXPECT_EQ(skin.get_string(*child, u"id", {}), u"child");
    EXPECT_FALSE(skin.child(*form, 1));
}

TEST_F(PropertiesTest, EveryTopLevelSectionIsFoundAndOthersAreNot)
{
    ASSERT_TRUE(skin.load_skin(path(), screen_at(96)));
    for (char16_t const* name : { u"Alpha", u"Beta", u"Gamma", u"Delta", u"Epsilon" }) {
        auto section = skin.section(name);
        ASSERT_TRUE(section) << to_utf8(name);
        EXPECT_EQ(skin.get_int(*section, u"n", 0), name[0]);
    }
    EXPECT_FALSE(skin.section(u"Alph"));
    EXPECT_FALSE(skin.section(u"Zeta"));
    EXPECT_FALSE(skin.section(u""));
}

TEST_F(PropertiesTest, DoubledOnHighDpiScreens)
{
    ASSERT_TRUE(skin.load_skin(path(), screen_at(192)));
    auto form = skin.section(u"FormMain");
    EXPECT_EQ(skin.shift(), 1);
    EXPECT_EQ(skin.get_point(*form, u"offset", {}), (Point { 6, -4 }));
    EXPECT_EQ(skin.get_point(*form, u"missing", { 3, 3 }), (Point { 3, 3 }));
    EXPECT_EQ(skin.get_picture(*form, u"panel", {}).d, (Point { 4, 4 }));
    EXPECT_EQ(skin.get_font(*form, u"font", nullptr)->description().scale, 2);
}

TEST_F(PropertiesTest, EmptySkinLoadsAndFindsNothing)
{
    auto empty = test::write_test_skin(device.path(), {}, "empty.skin");
    ASSERT_TRUE(skin.load_skin(empty.u16string(), screen_at(96)));
    EXPECT_FALSE(skin.section(u"FormMain"));
}

TEST_F(PropertiesTest, FailedLoadKeepsTheSkinItHad)
{
    ASSERT_TRUE(skin.load_skin(path(), screen_at(96)));
    auto bytes = skinc::write_skin(sample_skin());
    std::vector<uint8_t> short_file(bytes.begin(), bytes.begin() + 91);
    test::write_bytes(device.path() / "short.skin", short_file);
    EXPECT_FALSE(skin.load_skin((device.path() / "short.skin").u16string(), screen_at(96)));
    auto wrong_magic = bytes;
    wrong_magic[0] = 0x22;
    test::write_bytes(device.path() / "magic.skin", wrong_magic);
    EXPECT_FALSE(skin.load_skin((device.path() / "magic.skin").u16string(), screen_at(96)));
    EXPECT_FALSE(skin.load_skin((device.path() / "missing.skin").u16string(), screen_at(96)));
    std::filesystem::remove(device.path() / "dot.bmp");
    EXPECT_FALSE(skin.load_skin(path(), screen_at(96)));
    EXPECT_TRUE(skin.section(u"FormMain"));
}

TEST_F(PropertiesTest, LoadLogLines)
{
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    ASSERT_TRUE(skin.load_skin(path(), screen_at(96)));
    std::u16string log_text = test::read_utf16_file(device.log_file());
    EXPECT_TRUE(log_text.starts_with(u"Properties::load_skin 1\nsizeof(Node*4)=8\nsizeof(IntegerNode*4)=32\n")) << to_utf8(log_text);
    for (std::u16string line : { u"PictureNode::Size=20\n", u"PropertiesImpl::PropertiesImpl picture load time=", u" {dot}\n",
             u"dpiy=96 log_font.lfHeight=-13}\n", u"Creating font: {DejaVu Sans} elapsed=", u"PropertiesImpl::PropertiesImpl fonts create time=",
             u"Properties::load_skin 2\nProperties::load_skin 3\n" })
        EXPECT_NE(log_text.find(line), std::u16string::npos) << to_utf8(line);
}

TEST_F(PropertiesTest, ReloadListenersAreToldInOrder)
{
    struct Listener : ReloadListener {
        std::vector<int>* order;
        int name;
        void on_skin_reloaded() override { order->push_back(name); }
    };
    std::vector<int> order;
    Listener first, second;
    first.order = second.order = &order;
    first.name = 1;
    second.name = 2;
    skin.add_reload_listener(&first);
    skin.add_reload_listener(&second);
    skin.send_reload_skin();
    skin.remove_reload_listener(&first);
    skin.send_reload_skin();
    EXPECT_EQ(order, (std::vector<int> { 1, 2, 2 }));
}

TEST_F(PropertiesTest, CompiledTestSkinOfTheProgramFolderLoads)
{
    ASSERT_TRUE(skin.load_skin(u"" VELLOQ_PROGRAM_DIR "/skins/bin/test.skin", screen_at(96)));
    auto item = skin.section(u"ItemTest");
    ASSERT_TRUE(item);
    EXPECT_EQ(skin.get_string(*item, u"caption", {}), u"Привет, мир");
    EXPECT_EQ(skin.get_int(*item, u"count", 0), -7);
    EXPECT_EQ(skin.get_colour(*item, u"tint", {}), (Colour { 10, 20, 30, 255 }));
}
