#include "skin/ElementRegistry.h"
#include "skin/Element.h"
#include "skin/Exceptions.h"
#include "skin/Properties.h"

#include "SkinBuilder.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <random>

using namespace velloq;
using skinc::SectionSource;
using skinc::SkinSource;

namespace {

void put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

SkinSource nested_skin()
{
    SectionSource leaf;
    leaf.strings = { { u"type", u"node" }, { u"id", u"leaf" } };
    leaf.points = { { u"design_size", { 10, 10 } } };
    SectionSource middle;
    middle.strings = { { u"type", u"vtable" }, { u"id", u"middle" } };
    middle.integers = { { u"cache", 1 } };
    middle.children = { leaf, leaf };
    SectionSource form;
    form.name = u"Form";
    form.strings = { { u"type", u"node" }, { u"visibility_animation", u"pop" } };
    form.colours = { { u"outside_color", { 1, 2, 3 } } };
    form.children = { middle, leaf };
    SectionSource other = form;
    other.name = u"Other";
    return { { form, other }, {}, {} };
}

ScreenInfo screen()
{
    ScreenInfo info;
    info.dpi = 96;
    return info;
}

// Loads the bytes and uses everything a program would: every lookup and a whole element tree,
// laid out and drawn. Bad input must only make lookups miss. Returns the sections found.
std::vector<std::u16string> exercise(std::filesystem::path const& folder, std::vector<uint8_t> const& bytes)
{
    auto path = folder / "fuzzed.skin";
    test::write_bytes(path, bytes);
    Properties skin;
    std::vector<std::u16string> found;
    if (!skin.load_skin(path.u16string(), screen()))
        return found;
    for (char16_t const* name : { u"Form", u"Other", u"Missing" }) {
        auto section = skin.section(name);
        if (!section)
            continue;
        found.push_back(name);
        skin.get_int(*section, u"cache", 0);
        skin.get_colour(*section, u"outside_color", {});
        skin.get_picture(*section, u"p", {});
        skin.get_font(*section, u"f", nullptr);
        Element root;
        try {
            if (build_from_section(root, skin, name)) {
                root.set_horizontal(0, 100);
                root.set_vertical(0, 100);
                auto picture = Bitmap565::create(100, 100);
                root.draw({ { 0, 0, 100, 100 }, picture.get() }, {});
            }
        } catch (dravel::NodeNotRegistered const&) {
        }
    }
    return found;
}

class MalformedSkin : public testing::Test {
protected:
    test::TempDevice device;
    ElementTypes types;
};

}

TEST_F(MalformedSkin, OffsetsOutOfRangeReadAsMissing)
{
    auto good = skinc::write_skin(nested_skin());
    auto root_far = good;
    put32(root_far, 72, 0x7FFFFFF0);
    EXPECT_TRUE(exercise(device.path(), root_far).empty());
    auto pool_far = good;
    put32(pool_far, 84, 0xFFFFFF00);
    put32(pool_far, 88, 5);
    EXPECT_TRUE(exercise(device.path(), pool_far).empty());
    auto huge_counts = good;
    put32(huge_counts, 80, 0x7FFFFFFF);
    EXPECT_TRUE(exercise(device.path(), huge_counts).empty());
    auto odd_root = good;
    put32(odd_root, 72, 93);
    EXPECT_TRUE(exercise(device.path(), odd_root).empty());
    EXPECT_EQ(exercise(device.path(), good), (std::vector<std::u16string> { u"Form", u"Other" }));
}

TEST_F(MalformedSkin, TreeThatLoopsEnds)
{
    auto bytes = skinc::write_skin(nested_skin());
    uint32_t root = bytes[72] | bytes[73] << 8 | bytes[74] << 16 | uint32_t(bytes[75]) << 24;
    // Both links of the root point back at the root.
    put32(bytes, root, root);
    put32(bytes, root + 4, root);
    Properties skin;
    test::write_bytes(device.path() / "loop.skin", bytes);
    ASSERT_TRUE(skin.load_skin((device.path() / "loop.skin").u16string(), screen()));
    EXPECT_FALSE(skin.section(u"Zzz"));
    EXPECT_FALSE(skin.section(u"A"));
}

TEST_F(MalformedSkin, ChildListThatLoopsStopsAtADepth)
{
    auto bytes = skinc::write_skin(nested_skin());
    Properties skin;
    test::write_bytes(device.path() / "ok.skin", bytes);
    ASSERT_TRUE(skin.load_skin((device.path() / "ok.skin").u16string(), screen()));
    uint32_t form_body = skin.section(u"Form")->body;
    // The form's first child is made the form itself.
    put32(bytes, form_body + 16, form_body);
    test::write_bytes(device.path() / "cycle.skin", bytes);
    ASSERT_TRUE(skin.load_skin((device.path() / "cycle.skin").u16string(), screen()));
    Element root;
    EXPECT_TRUE(build_from_section(root, skin, u"Form"));
    int depth = 0;
    for (Element* element = &root; !element->children().empty(); element = element->children().front().get())
        ++depth;
    EXPECT_LE(depth, 65);
}

TEST_F(MalformedSkin, RandomDamageNeverReadsOutsideTheFile)
{
    auto good = skinc::write_skin(nested_skin());
    std::mt19937 random(20261208);
    for (int round = 0; round < 300; ++round) {
        auto bytes = good;
        int flips = 1 + static_cast<int>(random() % 8);
        for (int flip = 0; flip < flips; ++flip)
            bytes[92 + random() % (bytes.size() - 92)] = static_cast<uint8_t>(random());
        if (round % 10 == 0)
            bytes.resize(92 + random() % (bytes.size() - 92));
        // What damage leaves readable may be found; a section the skin never had never is.
        auto found = exercise(device.path(), bytes);
        EXPECT_EQ(std::count(found.begin(), found.end(), u"Missing"), 0);
    }
    // Reading outside the file is what the sanitizer build catches; here, no damage spoils the
    // next load of the whole skin.
    EXPECT_EQ(exercise(device.path(), good), (std::vector<std::u16string> { u"Form", u"Other" }));
}

TEST_F(MalformedSkin, AChildOfAnUnknownTypeSpoilsNoLaterLoad)
{
    SkinSource source = nested_skin();
    source.sections[1].children[1].strings = { { u"type", u"no-such-type" }, { u"id", u"odd" } };
    Properties skin;
    test::write_bytes(device.path() / "odd.skin", skinc::write_skin(source));
    ASSERT_TRUE(skin.load_skin((device.path() / "odd.skin").u16string(), screen()));
    Element odd;
    EXPECT_THROW(build_from_section(odd, skin, u"Other"), dravel::NodeNotRegistered);
    Element good;
    ASSERT_TRUE(build_from_section(good, skin, u"Form"));
    ASSERT_EQ(good.children().size(), 2u);
    EXPECT_EQ(good.children().front()->children().size(), 2u);
}
