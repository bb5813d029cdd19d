#include "skin/Element.h"

#include "skin/ElementRegistry.h"
#include "skin/ElementTypeNames.h"
#include "skin/Form.h"
#include "skin/Exceptions.h"
#include "skin/Properties.h"
#include "skin/Table.h"
#include "skin/VisibilityAnimation.h"

#include "SkinBuilder.h"
#include "platform/Utf.h"
#include "shell/Registry.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

using namespace velloq;

namespace {

struct Placed {
    int32_t position;
    int32_t size;
};

// A parent of the width with one child as the test sets it up; returns the child's placement.
Placed place_one(int32_t parent_width, Anchor anchor, int32_t preferred, int32_t min, int32_t max, int32_t parent_x = 0)
{
    Element parent;
    auto& child = parent.add_child(std::make_unique<Element>());
    child.set_anchor(Axis::Horizontal, anchor);
    child.set_design_size({ preferred, 0 });
    child.set_borders({ min, 0 }, { max, 0 });
    parent.set_horizontal(parent_x, parent_width);
    return { child.position().x, child.size().x };
}

class CountingListener : public LayoutListener {
public:
    void on_width_changed(Element&, int32_t) override { ++widths; }
    void on_height_changed(Element&, int32_t) override { ++heights; }
    int widths { 0 };
    int heights { 0 };
};

std::pair<Element*, Element*> table_of_two(Table& table, Measure first, Measure second)
{
    class Fixed : public Element {
    public:
        explicit Fixed(Measure measure)
            : m_measure(measure)
        {
        }
        void measure(Axis axis, Measure& out) override
        {
            if (axis == Axis::Horizontal)
                out = m_measure;
        }

    private:
        Measure m_measure;
    };
    auto& a = table.add_child(std::make_unique<Fixed>(first));
    auto& b = table.add_child(std::make_unique<Fixed>(second));
    return { &a, &b };
}

}

TEST(Layout, AnchorRules)
{
    auto both = place_one(100, Anchor::BothSide, 40, 5, 7, 10);
    EXPECT_EQ(both.position, 15);
    EXPECT_EQ(both.size, 88);
    auto max_side = place_one(100, Anchor::MaxSide, 30, 0, 4, 10);
    EXPECT_EQ(max_side.position, 76);
    EXPECT_EQ(max_side.size, 30);
    auto squeezed = place_one(20, Anchor::MaxSide, 30, 0, 4, 10);
    EXPECT_EQ(squeezed.position, 10);
    EXPECT_EQ(squeezed.size, 16);
    auto centred = place_one(41, Anchor::Center, 11, 2, 2);
    EXPECT_EQ(centred.position, 15);
    auto negative = place_one(5, Anchor::BothSide, 0, 4, 4);
    EXPECT_EQ(negative.size, 0);
}

TEST(Layout, NoSizeChildKeepsItsWidthAndAsksNothing)
{
    Element parent;
    auto& child = parent.add_child(std::make_unique<Element>());
    child.set_anchor(Axis::Horizontal, Anchor::MinSideNoSize);
    child.set_design_size({ 500, 0 });
    EXPECT_EQ(parent.cached_measure(Axis::Horizontal).preferred, 0);
    parent.set_horizontal(0, 100);
    EXPECT_EQ(child.size().x, 500);
}

TEST(Layout, SameHorizontalTwiceTellsTheListenerOnceUnlessVerticalIsPending)
{
    Element element;
    CountingListener listener;
    element.set_layout_listener(&listener);
    element.set_horizontal(0, 50);
    element.set_horizontal(0, 50);
    EXPECT_EQ(listener.widths, 2);
    element.set_vertical(0, 20);
    element.set_horizontal(0, 50);
    EXPECT_EQ(listener.widths, 2);
    element.set_vertical(0, 20);
    EXPECT_EQ(listener.heights, 1);
}

TEST(Layout, MeasureOfAPlainElementTakesItsChildrensSpace)
{
    Element parent;
    parent.set_design_size({ 10, 0 });
    auto& child = parent.add_child(std::make_unique<Element>());
    child.set_design_size({ 30, 0 });
    child.set_borders({ 2, 0 }, { 3, 0 });
    EXPECT_EQ(parent.cached_measure(Axis::Horizontal).preferred, 35);
    child.set_design_size({ 40, 0 });
    EXPECT_EQ(parent.cached_measure(Axis::Horizontal).preferred, 35);
    child.invalidate_layout();
    EXPECT_EQ(parent.cached_measure(Axis::Horizontal).preferred, 45);
}

TEST(Table, GrowsToPreferredAndLeavesSpareWithoutRatios)
{
    Table table(Axis::Horizontal);
    auto [a, b] = table_of_two(table, { 30, 10 }, { 50, 50 });
    table.set_horizontal(7, 100);
    EXPECT_EQ(a->size().x, 30);
    EXPECT_EQ(b->size().x, 50);
    EXPECT_EQ(a->position().x, 7);
    EXPECT_EQ(b->position().x, 37);
}

TEST(Table, MinimumsThatDoNotFitShareByMinimum)
{
    Table table(Axis::Horizontal);
    auto [a, b] = table_of_two(table, { 30, 10 }, { 50, 50 });
    table.set_horizontal(0, 40);
    EXPECT_EQ(a->size().x, 6);
    EXPECT_EQ(b->size().x, 34);
}

TEST(Table, RatiosShareTheSpareSpace)
{
    Table table(Axis::Horizontal);
    auto [a, b] = table_of_two(table, { 10, 10 }, { 10, 10 });
    a->set_table_ratio(1);
    b->set_table_ratio(1);
    table.set_horizontal(0, 41);
    EXPECT_EQ(a->size().x, 10 + 10);
    EXPECT_EQ(b->size().x, 10 + 11);
    EXPECT_EQ(b->position().x, 20);
    // Ratios 2 and 1 share 30 spare pixels as 20 and 10, ending at the table's end.
    a->set_table_ratio(2);
    b->set_table_ratio(1);
    table.set_horizontal(0, 50);
    EXPECT_EQ(a->size().x, 10 + 20);
    EXPECT_EQ(b->size().x, 10 + 10);
    EXPECT_EQ(b->position().x + b->size().x, 50);
}

TEST(Table, InvisibleChildrenTakeNoSpace)
{
    Table table(Axis::Horizontal);
    auto [a, b] = table_of_two(table, { 30, 30 }, { 50, 50 });
    a->set_visible(false);
    EXPECT_EQ(table.cached_measure(Axis::Horizontal).preferred, 50);
    table.set_horizontal(0, 100);
    EXPECT_EQ(b->position().x, 0);
    EXPECT_EQ(a->size().x, 0);
}

TEST(Elements, FindByIdPrefersADirectChild)
{
    Element root;
    auto& first = root.add_child(std::make_unique<Element>());
    auto& deep = first.add_child(std::make_unique<Element>());
    auto& direct = root.add_child(std::make_unique<Element>());
    test::TempDevice device;
    skinc::SectionSource named;
    named.name = u"N";
    named.strings = { { u"id", u"target" } };
    auto path = test::write_test_skin(device.path(), { { named }, {}, {} });
    Properties skin;
    ASSERT_TRUE(skin.load_skin(path.u16string(), {}));
    deep.load(skin, *skin.section(u"N"));
    direct.load(skin, *skin.section(u"N"));
    EXPECT_EQ(root.find_by_id(u"target"), &direct);
    EXPECT_EQ(first.find_by_id(u"target"), &deep);
    EXPECT_EQ(root.find_by_id(u"nothing"), nullptr);
}

TEST(Elements, RegistryRefusesDoublesAndUnknownTypes)
{
    ElementTypes types;
    try {
        ElementTypes again;
        FAIL() << "registered twice";
    } catch (dravel::NodeAlreadyRegistered const& error) {
        EXPECT_EQ(error.type, u"node");
    }
    EXPECT_THROW(ElementRegistry::create(u"text-that-is-not"), dravel::NodeNotRegistered);
    EXPECT_THROW(ElementRegistry::create(u""), dravel::NodeNotRegistered);
    EXPECT_NE(ElementRegistry::create(u"vtable"), nullptr);
}

// The skin compiler accepts exactly the names the engine builds elements for.
TEST(Elements, EveryTypeTheCompilerAcceptsMakesAnElement)
{
    ElementTypes types;
    ASSERT_FALSE(engine_element_types().empty());
    for (char16_t const* name : engine_element_types()) {
        EXPECT_TRUE(is_engine_element_type(name));
        EXPECT_NE(ElementRegistry::create(name), nullptr) << to_utf8(name);
    }
    EXPECT_FALSE(is_engine_element_type(u"testpanel"));
    EXPECT_FALSE(is_engine_element_type(u""));
}

TEST(Elements, VisibilityFollowsParentsAndReleasesTheCapture)
{
    class Pressable : public Element {
    public:
        bool pointer_button(PointerEvent const& event) override
        {
            events.push_back(event);
            return true;
        }
        std::vector<PointerEvent> events;
    };
    Element root;
    auto& panel = root.add_child(std::make_unique<Element>());
    auto& button = static_cast<Pressable&>(panel.add_child(std::make_unique<Pressable>()));
    root.set_horizontal(0, 100);
    root.set_vertical(0, 100);
    PointerEvent press { 10, 10, 0, true, false };
    EXPECT_TRUE(root.pointer_button(press));
    EXPECT_EQ(panel.captured_child(), &button);
    panel.set_visible(false);
    EXPECT_FALSE(button.is_effectively_visible());
    ASSERT_EQ(button.events.size(), 2u);
    EXPECT_TRUE(button.events[1].cancelled);
    EXPECT_EQ(panel.captured_child(), nullptr);
    // The root still holds its capture of the panel: the release goes there and ends it.
    EXPECT_TRUE(root.pointer_button({ 10, 10, 0, false, false }));
    EXPECT_EQ(root.captured_child(), nullptr);
    EXPECT_FALSE(root.pointer_button(press));
}

TEST(Elements, DisabledChildrenTakeNoPointer)
{
    Element root;
    auto& child = root.add_child(std::make_unique<Element>());
    root.set_horizontal(0, 10);
    root.set_vertical(0, 10);
    root.set_enabled(false);
    EXPECT_FALSE(child.is_enabled());
    root.set_enabled(true);
    EXPECT_TRUE(child.is_enabled());
}

TEST(Elements, CachedElementRebuildsOnlyWhenAskedAndAnimationsRun)
{
    test::TempDevice device;
    Properties skin;
    ASSERT_TRUE(skin.load_skin(u"" VELLOQ_PROGRAM_DIR "/skins/bin/test.skin", {}));
    ElementTypes types;
    Element root;
    ASSERT_TRUE(build_from_section(root, skin, u"FormTest"));
    root.set_horizontal(0, 240);
    root.set_vertical(0, 400);
    Element* header = root.find_by_id(u"header");
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->size().y, 40);
    EXPECT_EQ(root.find_by_id(u"footer")->position().y, 400 - 4 - 30);
    auto picture = Bitmap565::create(240, 400);
    root.draw({ { 0, 0, 240, 400 }, picture.get() }, {});
    EXPECT_EQ(header->own_surface().width(), header->size().x);
    EXPECT_FALSE(header->needs_redraw());
    ASSERT_NE(header->animation(), nullptr);
    header->show_animated(false);
    EXPECT_TRUE(header->animation()->is_running());
    EXPECT_EQ(header->animation()->direction(), -1);
    header->show_animated(true);
    EXPECT_EQ(header->animation()->direction(), 1);
    root.advance(1.0);
    EXPECT_FALSE(header->animation()->is_running());
    EXPECT_TRUE(header->is_visible());
}

TEST(Elements, DumpWritesOneLinePerElement)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    Element root;
    root.add_child(std::make_unique<Element>());
    root.set_horizontal(1, 2);
    root.set_vertical(3, 4);
    root.dump(0);
    EXPECT_EQ(test::read_utf16_file(device.log_file()),
        u"{} position=(1, 3) size=(2, 4) design_size=(0, 0) rs.size=(0, 0)\n"
        u"\t{} position=(1, 3) size=(2, 4) design_size=(0, 0) rs.size=(0, 0)\n");
}

namespace {

// An element of a kind the form has never heard of, taking the focus by its own word.
class Dial final : public Element {
public:
    bool takes_focus() const override { return true; }
    void focus_changed(bool focused) override { changes.push_back(focused); }
    bool focused_key(KeyEvent const& event) override
    {
        if (event.code != Key::Enter || !event.pressed)
            return false;
        ++turned;
        return true;
    }
    std::vector<bool> changes;
    int turned { 0 };
};

}

TEST(Focus, AnElementOfANewKindTakesTheFocusAndItsKeysByItsOwnWord)
{
    Form form;
    auto& first = static_cast<Dial&>(form.add_child(std::make_unique<Dial>()));
    form.add_child(std::make_unique<Element>());
    auto& second = static_cast<Dial&>(form.add_child(std::make_unique<Dial>()));
    EXPECT_EQ(form.focus_chain(), (std::vector<Element*> { &first, &second }));
    KeyEvent tab { Key::Tab, true };
    form.key(tab);
    EXPECT_EQ(form.focused(), &first);
    form.key(tab);
    EXPECT_EQ(form.focused(), &second);
    EXPECT_EQ(first.changes, (std::vector<bool> { true, false }));
    EXPECT_EQ(second.changes, std::vector<bool> { true });
    EXPECT_TRUE(form.key({ Key::Enter, true }));
    EXPECT_EQ(second.turned, 1);
    EXPECT_EQ(first.turned, 0);
}
