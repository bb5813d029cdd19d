#include "skin/VList.h"

#include "skin/Form.h"
#include "skin/TextElement.h"

#include "SkinFixture.h"
#include "platform/Utf.h"

#include <gtest/gtest.h>

using namespace velloq;

namespace {

// Items "Item N" from the test skin's "DemoItem" section; remembers what was activated.
class Items : public ItemSource {
public:
    explicit Items(Properties const& skin)
        : m_skin(skin)
    {
    }
    std::unique_ptr<Element> create_item(VList& list, int32_t index) override
    {
        if (index == gone)
            return nullptr;
        auto item = std::make_unique<Element>();
        build_from_section(*item, m_skin, u"DemoItem");
        fill_item(list, *item, index);
        ++created;
        return item;
    }
    void fill_item(VList&, Element& item, int32_t index) override
    {
        int32_t number = index < static_cast<int32_t>(names.size()) ? names[static_cast<size_t>(index)] : index;
        item.set_text_by_id(u"name", u"Item " + to_u16_decimal(number));
    }
    void item_activated(VList&, int32_t index) override { activated.push_back(index); }

    std::vector<int32_t> names;
    std::vector<int32_t> activated;
    int created { 0 };
    // An item whose data is gone: no element until the source removes it.
    int32_t gone { -1 };

private:
    Properties const& m_skin;
};

class ListTest : public test::SkinFixture {
protected:
    void SetUp() override
    {
        SkinFixture::SetUp();
        ASSERT_TRUE(build_from_section(form, skin, u"FormDemo"));
        list = dynamic_cast<VList*>(form.find_by_id(u"list"));
        ASSERT_NE(list, nullptr);
        list->set_item_source(&items);
        list->reset(10000);
        stack->show(form, false, false);
        run_frames(0.05);
    }
    void TearDown() override
    {
        stack->hide(form, false);
        SkinFixture::TearDown();
    }
    int32_t item_height() { return list->item(list->first_built())->size().y; }
    int32_t list_top() { return list->position().y; }
    void press(int32_t y, uint32_t time) { form.pointer_button({ 100, y, time, true, false }); }
    void release(int32_t y, uint32_t time) { form.pointer_button({ 100, y, time, false, false }); }
    void move(int32_t y, uint32_t time) { form.pointer_move({ 100, y, time, false, false }); }
    // Drags from y by dy in steps of 10 pixels, 16 ms apart.
    uint32_t drag(int32_t y, int32_t dy, uint32_t time)
    {
        press(y, time);
        int32_t step = dy > 0 ? 10 : -10;
        for (int32_t moved = step; std::abs(moved) <= std::abs(dy); moved += step)
            move(y + moved, time += 16);
        return time;
    }

    Form form;
    Items items { skin };
    VList* list { nullptr };
};

}

TEST_F(ListTest, OnlyTheItemsInViewAreBuilt)
{
    EXPECT_EQ(list->count(), 10000);
    EXPECT_EQ(list->first_built(), 0);
    EXPECT_GT(list->built_count(), 2);
    EXPECT_LT(list->built_count(), 20);
    EXPECT_EQ(list->item(0)->position().y, list_top() + 2);
}

TEST_F(ListTest, TapActivatesTheItemUnderThePointer)
{
    int32_t y = list_top() + 2 + item_height() * 2 + item_height() / 2;
    press(y, 1000);
    EXPECT_EQ(list->pressed(), 2);
    EXPECT_TRUE(list->item(2)->find_by_id(u"#vlist_pressed")->is_visible());
    release(y, 1050);
    EXPECT_EQ(items.activated, std::vector<int32_t> { 2 });
    EXPECT_EQ(list->pressed(), -1);
    EXPECT_TRUE(list->item(2)->find_by_id(u"#vlist_normal")->is_visible());
}

TEST_F(ListTest, ASidewaysSwipeIsNoTap)
{
    int32_t y = list_top() + 2 + item_height() / 2;
    press(y, 1000);
    for (int32_t x = 110; x <= 200; x += 10)
        form.pointer_move({ x, y, 1000 + static_cast<uint32_t>(x), false, false });
    form.pointer_button({ 200, y, 1200, false, false });
    EXPECT_TRUE(items.activated.empty());
    EXPECT_EQ(list->pressed(), -1);
}

TEST_F(ListTest, DragScrollsByTheDistanceAndCancelsThePress)
{
    double before = list->scroll_position() - list->first_built() * item_height();
    uint32_t time = drag(list_top() + 200, -100, 1000);
    EXPECT_EQ(list->pressed(), -1);
    double after = list->scroll_position() - list->first_built() * item_height();
    EXPECT_NEAR(before - after, 100, 1);
    release(list_top() + 100, time + 500);
    EXPECT_TRUE(items.activated.empty());
    EXPECT_EQ(list->scroll_speed(), 0);
}

TEST_F(ListTest, FlingDeceleratesAndStops)
{
    uint32_t time = drag(list_top() + 250, -150, 1000);
    release(list_top() + 100, time + 1);
    double speed = list->scroll_speed();
    EXPECT_LT(speed, -100);
    EXPECT_GE(speed, -VList::fastest_fling);
    run_frames(0.2);
    EXPECT_LT(std::abs(list->scroll_speed()), std::abs(speed));
    run_frames(5);
    EXPECT_EQ(list->scroll_speed(), 0);
    EXPECT_GT(list->first_built(), 5);
    EXPECT_LT(list->built_count(), 20);
}

TEST_F(ListTest, OvershootAtTheTopReturnsToTheBorder)
{
    uint32_t time = drag(list_top() + 20, 120, 1000);
    EXPECT_GT(list->scroll_position(), 2);
    EXPECT_LT(list->scroll_position(), 2 + 120);
    release(list_top() + 140, time + 1);
    EXPECT_EQ(list->scroll_speed(), 0);
    run_frames(2);
    EXPECT_DOUBLE_EQ(list->scroll_position(), 2);
}

TEST_F(ListTest, InsertAndRemoveWhileScrolledKeepTheRightItemsOnScreen)
{
    list->scroll_to(500);
    run_frames(0.05);
    ASSERT_EQ(list->first_built(), 500 - (list->first_built() == 500 ? 0 : 500 - list->first_built()));
    int32_t shown = 500;
    int32_t y_before = list->item(shown)->position().y;
    list->insert(10);
    run_frames(0.05);
    ASSERT_NE(list->item(shown + 1), nullptr);
    EXPECT_EQ(list->item(shown + 1)->position().y, y_before);
    EXPECT_EQ(list->count(), 10001);
    list->remove(shown + 1);
    run_frames(0.05);
    EXPECT_EQ(list->count(), 10000);
    ASSERT_NE(list->item(shown + 1), nullptr);
    EXPECT_EQ(list->item(shown + 1)->position().y, y_before);
}

// A source that finds an item's data gone gives no element and removes the item after the
// list is done building; the list builds nothing past it until then, and the whole view after.
TEST_F(ListTest, AnItemWhoseDataIsGoneIsLeftUnbuiltUntilTheSourceRemovesIt)
{
    int32_t full = list->built_count();
    ASSERT_GT(full, 3);
    items.gone = 2;
    list->reset(10000);
    run_frames(0.05);
    EXPECT_EQ(list->built_count(), 2);
    EXPECT_EQ(list->item(2), nullptr);
    items.gone = -1;
    items.names.assign(10000, 0);
    for (int32_t index = 0; index < 10000; ++index)
        items.names[static_cast<size_t>(index)] = index < 2 ? index : index + 1;
    list->remove(2);
    run_frames(0.05);
    EXPECT_EQ(list->count(), 9999);
    EXPECT_EQ(list->built_count(), full);
    ASSERT_NE(list->item(2), nullptr);
    EXPECT_EQ(dynamic_cast<TextElement*>(list->item(2)->find_by_id(u"name"))->text(), u"Item 3");
}

TEST_F(ListTest, RemovingThePressedItemEndsThePress)
{
    int32_t y = list_top() + 2 + item_height() / 2;
    press(y, 1000);
    EXPECT_EQ(list->pressed(), 0);
    list->remove(0);
    EXPECT_EQ(list->pressed(), -1);
    release(y, 1010);
    EXPECT_TRUE(items.activated.empty());
    run_frames(0.05);
}

TEST_F(ListTest, ResetRefreshAndScrollTo)
{
    list->reset(0);
    run_frames(0.05);
    EXPECT_EQ(list->built_count(), 0);
    list->reset(100);
    run_frames(0.05);
    int created = items.created;
    list->refresh(90);
    EXPECT_EQ(items.created, created);
    items.names.assign(100, 7);
    list->refresh(0);
    EXPECT_EQ(dynamic_cast<TextElement*>(list->item(0)->find_by_id(u"name"))->text(), u"Item 7");
    list->scroll_to(1000);
    run_frames(0.05);
    EXPECT_NE(list->item(99), nullptr);
    Element* last = list->item(99);
    EXPECT_EQ(last->position().y + last->size().y, list->position().y + list->size().y - 2);
}

TEST_F(ListTest, ScrollBarFollowsThePosition)
{
    Element track;
    auto& indicator = track.add_child(std::make_unique<Element>());
    track.set_horizontal(230, 6);
    track.set_vertical(list->position().y, list->size().y);
    list->set_scroll_bar(&track, &indicator);
    run_frames(0.05);
    int32_t at_top = indicator.position().y;
    EXPECT_EQ(at_top, track.position().y);
    list->scroll_to(5000);
    run_frames(0.05);
    EXPECT_GT(indicator.position().y, at_top);
    EXPECT_GE(indicator.size().y, 8);
    list->scroll_to(20000);
    run_frames(0.05);
    EXPECT_EQ(indicator.position().y + indicator.size().y, track.position().y + track.size().y);
}

// A hard fling toward the top from rows down ends, past the overshoot, with the first row whole
// at the border, not resting partly above it.
TEST_F(ListTest, AHardFlingToTheTopEndsWithTheFirstRowAtTheBorder)
{
    uint32_t time = 1000;
    for (int32_t rows_down : { 9, 12, 16, 20, 25 }) {
        list->scroll_to(rows_down);
        run_frames(0.5);
        time += 10000;
        press(list_top() + 40, time);
        for (int32_t moved = 40; moved <= 400; moved += 40)
            move(list_top() + 40 + moved, time += 8);
        release(list_top() + 440, time + 1);
        EXPECT_GT(list->scroll_speed(), 1000) << rows_down;
        run_frames(6);
        EXPECT_EQ(list->scroll_speed(), 0) << rows_down;
        EXPECT_EQ(list->first_built(), 0) << rows_down;
        EXPECT_DOUBLE_EQ(list->scroll_position(), 2) << rows_down;
    }
}

// The keyboard moves the selection through the list and keeps it in view; new contents start
// without one.
TEST_F(ListTest, KeysMoveTheSelectionKeepItInViewAndEnterActivatesIt)
{
    auto key = [&](KeyCode code) {
        EXPECT_TRUE(list->key({ code, true, true, false }));
        list->key({ code, false, true, false });
        run_frames(0.05);
    };
    key(Key::Down);
    EXPECT_EQ(list->selected(), 0);
    key(Key::Down);
    key(Key::Down);
    EXPECT_EQ(list->selected(), 2);
    key(Key::PageDown);
    int32_t paged = list->selected();
    EXPECT_GT(paged, 4);
    Element* shown = list->item(paged);
    ASSERT_NE(shown, nullptr);
    EXPECT_GE(shown->position().y, list_top());
    EXPECT_LE(shown->position().y + shown->size().y, list_top() + list->size().y);
    key(Key::End);
    EXPECT_EQ(list->selected(), 9999);
    ASSERT_NE(list->item(9999), nullptr);
    key(Key::Down);
    EXPECT_EQ(list->selected(), 9999);
    key(Key::Home);
    key(Key::Up);
    EXPECT_EQ(list->selected(), 0);
    key(Key::Enter);
    EXPECT_EQ(items.activated, std::vector<int32_t> { 0 });
    EXPECT_FALSE(list->key({ Key::Left, true, true, false }));
    list->reset(5);
    EXPECT_EQ(list->selected(), -1);

    // An item with no look for the selection keeps its normal look instead of none.
    run_frames(0.05);
    Element* item = list->item(1);
    ASSERT_NE(item, nullptr);
    if (Element* selected_look = item->find_by_id(u"#vlist_selected"))
        selected_look->parent()->remove_child(*selected_look);
    list->set_selected(1);
    EXPECT_TRUE(item->find_by_id(u"#vlist_normal")->is_visible());
}

// A notch glides the content by three lines within a few frames; a touchpad's fraction scrolls by
// its share; turned up at the top, or far down past the end, the list stops at its border.
TEST_F(ListTest, TheWheelScrollsByLinesAndStopsAtTheEnds)
{
    auto offset = [&] { return list->scroll_position() - list->first_built() * item_height(); };
    PointerEvent over { 100, list_top() + 50, 1000, false, false };
    double start = offset();
    EXPECT_TRUE(form.wheel(over, wheel_notch));
    run_frames(0.02);
    double part_way = start - offset();
    run_frames(1);
    double notch = start - offset();
    EXPECT_GT(part_way, 0);
    EXPECT_LT(part_way, notch);
    EXPECT_NEAR(notch, 3 * skin.default_font()->line_height(), 1);

    form.wheel(over, wheel_notch / 4);
    run_frames(1);
    EXPECT_NEAR(start - offset(), notch * 1.25, 1);

    form.wheel(over, -20 * wheel_notch);
    run_frames(1);
    EXPECT_DOUBLE_EQ(list->scroll_position(), 2);
    EXPECT_EQ(list->first_built(), 0);

    list->reset(5);
    run_frames(0.05);
    form.wheel(over, 20 * wheel_notch);
    run_frames(1);
    EXPECT_DOUBLE_EQ(list->scroll_position(), 2);
    // Outside the list nothing takes the wheel.
    EXPECT_FALSE(form.wheel({ 100, list_top() - 5, 1000, false, false }, wheel_notch));
}
