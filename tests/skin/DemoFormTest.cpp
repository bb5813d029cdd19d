#include "skin/ButtonElement.h"
#include "skin/Menu.h"
#include "skin/TextEdit.h"
#include "skin/VList.h"

#include "SkinFixture.h"
#include "platform/Utf.h"
#include "platform/PngFile.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace velloq;

namespace {

// The demo form of the test skin with a list of conversations, a menu and an edit, driven the
// way a user would: through the application's input, frame by frame.
class Demo : public test::SkinFixture, public ItemSource, public MenuSource {
protected:
    void SetUp() override
    {
        SkinFixture::SetUp();
        ASSERT_TRUE(build_from_section(form, skin, u"FormDemo"));
        list = dynamic_cast<VList*>(form.find_by_id(u"list"));
        edit = dynamic_cast<TextEdit*>(form.find_by_id(u"edit"));
        auto* button = dynamic_cast<ButtonElement*>(form.find_by_id(u"btnMenu"));
        ASSERT_TRUE(list && edit && button);
        button->on_press = [this] { open_menu(); };
        list->set_item_source(this);
        list->reset(50);
        menu = std::make_unique<Menu>(*stack, *this);
        menu->load(skin, u"Menu", u"MenuElement");
        stack->show(form, false, false);
    }
    void TearDown() override
    {
        menu.reset();
        stack->hide(form, false);
        SkinFixture::TearDown();
    }
    std::unique_ptr<Element> create_item(VList&, int32_t index) override
    {
        auto item = std::make_unique<Element>();
        build_from_section(*item, skin, u"DemoItem");
        item->set_text_by_id(u"name", u"Contact " + to_u16_decimal(index + 1));
        item->set_text_by_id(u"preview", u"See you at seven?");
        return item;
    }
    void item_activated(VList&, int32_t index) override { activated = index; }
    void menu_entries(std::u16string const& name, std::u16string&, std::vector<MenuEntry>& entries) override
    {
        asked = name;
        if (name == u"Main") {
            entries.push_back({ u"Templates", u"Templates" });
            entries.push_back({ u"Language", {} });
            entries.push_back({ u"Row", {}, u"MenuElement4Buttons" });
        }
    }
    void open_menu() { menu->open(u"Main", {}, true); }

    // One turn of the main loop's drawing, into the display's back buffer.
    Bitmap565 const& frame(double seconds = 0.02)
    {
        application->advance(seconds);
        Display* display = application->game().display();
        display->begin();
        application->draw(*display->back_buffer());
        display->end(0);
        return display->last_frame();
    }

    Form form;
    VList* list { nullptr };
    TextEdit* edit { nullptr };
    std::unique_ptr<Menu> menu;
    int32_t activated { -1 };
    std::u16string asked;
};

void press(Application& application, KeyCode code, bool shift = false)
{
    application.key({ code, true, true, false, shift });
    application.key({ code, false, true, false, shift });
}

// The focus ring runs inside the element's edges.
bool ringed(Bitmap565 const& frame, Element const& element)
{
    uint16_t ring = Bitmap565::rgb(0x0F, 0x17, 0x2A);
    Rect box = element.rect();
    int32_t middle_y = box.top + box.height / 2;
    return frame.row(middle_y)[box.left] == ring && frame.row(middle_y)[box.left + box.width - 1] == ring
        && frame.row(box.top)[box.left + box.width / 2] == ring;
}

uint16_t luminance(uint16_t pixel)
{
    return static_cast<uint16_t>((pixel >> 11) + ((pixel >> 5) & 0x3F) / 2 + (pixel & 0x1F));
}

}

TEST_F(Demo, FormWithListMenuAndEditDrivenHeadless)
{
    Bitmap565 const& shown = frame();
    // The title bar, the first item's white background and the bottom bar.
    EXPECT_EQ(shown.row(10)[120], Bitmap565::rgb(0x1A, 0x4F, 0x94));
    int32_t item_y = list->item(0)->position().y + 2;
    EXPECT_EQ(shown.row(item_y)[230], Bitmap565::rgb(255, 255, 255));

    // Tap the third conversation.
    int32_t third = list->item(2)->position().y + 20;
    application->pointer_button({ 100, third, 100, true, false });
    application->pointer_button({ 100, third, 150, false, false });
    EXPECT_EQ(activated, 2);

    // Type into the edit through the application, as keys and characters arrive.
    Rect edit_box = edit->rect();
    application->pointer_button({ edit_box.left + 5, edit_box.top + 5, 200, true, false });
    application->pointer_button({ edit_box.left + 5, edit_box.top + 5, 250, false, false });
    EXPECT_TRUE(edit->has_input());
    for (char16_t const* c : { u"H", u"i", u"!" })
        application->text_input(c);
    EXPECT_EQ(edit->text(), u"Hi!");
    application->pointer_button({ 120, 100, 300, true, false });
    application->pointer_button({ 120, 100, 310, false, false });
    EXPECT_FALSE(edit->has_input());
    frame();

    // The menu button opens the menu over the dimmed form.
    uint16_t before = frame().row(150)[120];
    application->key({ Key::SoftRight, true, true });
    application->key({ Key::SoftRight, false, true });
    EXPECT_TRUE(menu->is_open());
    for (int i = 0; i < 20; ++i)
        frame();
    Bitmap565 const& with_menu = frame();
    EXPECT_LT(luminance(with_menu.row(40)[120]), luminance(before) + 1);
    std::string png = (device.path() / "demo.png").string();
    if (char const* keep = std::getenv("VELLOQ_DEMO_PNG"))
        png = keep;
    ASSERT_TRUE(platform::write_png_565(png, with_menu.pixels(), with_menu.pitch(), with_menu.width(), with_menu.height()));

    // Backspace closes the menu and the form comes back undimmed.
    application->key({ Key::Backspace, true, true });
    EXPECT_FALSE(menu->is_open());
    for (int i = 0; i < 30; ++i)
        frame();
    EXPECT_EQ(frame().row(10)[120], Bitmap565::rgb(0x1A, 0x4F, 0x94));
}

TEST_F(Demo, TabRingsEachElementInTurnAndTheKeysFollowTheFocus)
{
    auto* menu_button = form.find_by_id(u"btnMenu");
    auto* send = dynamic_cast<ButtonElement*>(form.find_by_id(u"btnSend"));
    send->on_press = [this] { open_menu(); };
    EXPECT_FALSE(ringed(frame(), *menu_button));

    press(*application, Key::Tab);
    EXPECT_EQ(form.focused(), menu_button);
    EXPECT_TRUE(ringed(frame(), *menu_button));
    press(*application, Key::Tab);
    EXPECT_EQ(form.focused(), list);
    EXPECT_EQ(list->selected(), 0);
    EXPECT_FALSE(ringed(frame(), *menu_button));
    press(*application, Key::Tab);
    EXPECT_TRUE(edit->has_input());
    application->text_input(u"Hi");
    EXPECT_EQ(edit->text(), u"Hi");
    press(*application, Key::Tab);
    EXPECT_EQ(form.focused(), send);
    EXPECT_FALSE(edit->has_input());
    EXPECT_TRUE(ringed(frame(), *send));
    // Shift+Tab goes back; from the first element Shift+Tab wraps to the last.
    press(*application, Key::Tab, true);
    EXPECT_EQ(form.focused(), edit);
    form.set_focus(menu_button);
    press(*application, Key::Tab, true);
    EXPECT_EQ(form.focused(), send);

    // Enter presses the focused button (it opens the menu here), Down moves the list and takes
    // the ring there, a pointer press takes the ring away.
    press(*application, Key::Enter);
    EXPECT_TRUE(menu->is_open());
    press(*application, Key::Backspace);
    press(*application, Key::Down);
    EXPECT_EQ(form.focused(), list);
    application->pointer_button({ 120, 100, 300, true, false });
    application->pointer_button({ 120, 100, 310, false, false });
    EXPECT_EQ(form.focused(), nullptr);
}

TEST_F(Demo, LeftAndRightReachTheMenusRowOfButtons)
{
    menu->open(u"Main", {}, true);
    for (int i = 0; i < 20; ++i)
        frame();
    Form& menu_form = menu->form();
    press(*application, Key::Right);
    ASSERT_NE(menu_form.focused(), nullptr);
    EXPECT_EQ(menu_form.focused()->id(), u"About");
    press(*application, Key::Right);
    press(*application, Key::Right);
    press(*application, Key::Left);
    EXPECT_EQ(menu_form.focused()->id(), u"Help");
    EXPECT_TRUE(ringed(frame(), *menu_form.focused()));
    EXPECT_EQ(dynamic_cast<VList&>(*menu_form.find_by_id(u"vlist")).selected(), 2);
    // Up leaves the row for the entries: the selection shows where the keys are, no ring.
    press(*application, Key::Up);
    EXPECT_EQ(menu_form.focused(), nullptr);
    press(*application, Key::Left);
    EXPECT_EQ(menu_form.focused()->id(), u"Exit");
    press(*application, Key::Left);
    press(*application, Key::Enter);
    EXPECT_EQ(asked, u"Minimize");
}
