#include "skin/ButtonElement.h"
#include "skin/Menu.h"
#include "skin/TextEdit.h"
#include "skin/VList.h"

#include "SkinFixture.h"
#include "platform/Utf.h"
#include "platform/Window.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace velloq;

namespace {

// The demo form of the test skin with a list of conversations, a menu and an edit, driven the
// way a user would: through the application's input, frame by frame.
class Demo : public test::SkinFixture, public ItemSource, public MenuSource, public PressListener {
protected:
    void SetUp() override
    {
        SkinFixture::SetUp();
        ASSERT_TRUE(build_from_section(form, skin, u"FormDemo"));
        list = dynamic_cast<VList*>(form.find_by_id(u"list"));
        edit = dynamic_cast<TextEdit*>(form.find_by_id(u"edit"));
        auto* button = dynamic_cast<ButtonElement*>(form.find_by_id(u"btnMenu"));
        ASSERT_TRUE(list && edit && button);
        button->set_listener(this);
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
        if (name == u"Main") {
            entries.push_back({ u"Templates", u"Templates" });
            entries.push_back({ u"Language", {} });
            entries.push_back({ u"Row", {}, u"MenuElement4Buttons" });
        }
    }
    void on_pressed(Element&) override { menu->open(u"Main", {}, true); }

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
};

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
