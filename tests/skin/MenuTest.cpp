#include "skin/ButtonElement.h"
#include "skin/Menu.h"

#include "skin/Exceptions.h"
#include "skin/Form.h"
#include "skin/TextElement.h"

#include "SkinFixture.h"

#include <gtest/gtest.h>

using namespace velloq;

namespace {

// A form's menu source: "Chat" lists entries, "Delete" asks for confirmation, "Really" and
// "Cancel" are commands.
class Commands : public MenuSource {
public:
    void menu_entries(std::u16string const& name, std::u16string& caption, std::vector<MenuEntry>& entries) override
    {
        asked.push_back(name);
        if (name == u"Chat") {
            entries.push_back({ u"Forward", u"Forward it" });
            entries.push_back({ u"Delete", {} });
            MenuEntry disabled { u"Resend", u"Resend" };
            disabled.enabled = false;
            entries.push_back(disabled);
            entries.push_back({ u"Row", {}, u"MenuElement4Buttons" });
        } else if (name == u"Delete") {
            caption = u"Really delete?";
            entries.push_back({ u"Really", {}, u"MenuElementRed" });
            entries.push_back({ u"Cancel", {} });
        } else {
            done.push_back(name);
        }
    }
    std::vector<std::u16string> asked;
    std::vector<std::u16string> done;
};

class MenuTest : public test::SkinFixture {
protected:
    void SetUp() override
    {
        SkinFixture::SetUp();
        ASSERT_TRUE(build_from_section(owner, skin, u"FormDemo"));
        stack->show(owner, false, false);
        menu = std::make_unique<Menu>(*stack, commands);
        menu->load(skin, u"Menu", u"MenuElement");
    }
    void TearDown() override
    {
        menu.reset();
        stack->hide(owner, false);
        SkinFixture::TearDown();
    }
    VList& list() { return *dynamic_cast<VList*>(menu->form().find_by_id(u"vlist")); }
    void choose(int32_t index) { menu->item_activated(list(), index); }

    Form owner;
    Commands commands;
    std::unique_ptr<Menu> menu;
};

}

TEST_F(MenuTest, OpensWithEntriesAndACommandClosesIt)
{
    menu->open(u"Chat", {}, true);
    EXPECT_TRUE(menu->is_open());
    EXPECT_EQ(stack->top(), &menu->form());
    run_frames(0.3);
    ASSERT_EQ(list().count(), 4);
    EXPECT_EQ(dynamic_cast<TextElement*>(list().item(0)->find_by_id(u"#text"))->text(), u"Forward it");
    EXPECT_EQ(dynamic_cast<TextElement*>(list().item(1)->find_by_id(u"#text"))->text(), u"Delete");
    choose(0);
    EXPECT_EQ(commands.done, std::vector<std::u16string> { u"Forward" });
    EXPECT_FALSE(menu->is_open());
}

TEST_F(MenuTest, ConfirmationListReplacesTheEntries)
{
    menu->open(u"Chat", {}, true);
    run_frames(0.1);
    choose(1);
    EXPECT_TRUE(menu->is_open());
    ASSERT_EQ(menu->entries().size(), 2u);
    EXPECT_EQ(menu->entries()[0].item_section, u"MenuElementRed");
    EXPECT_EQ(dynamic_cast<TextElement*>(menu->form().find_by_id(u"caption"))->text(), u"Really delete?");
    choose(1);
    EXPECT_FALSE(menu->is_open());
    EXPECT_EQ(commands.done, std::vector<std::u16string> { u"Cancel" });
}

TEST_F(MenuTest, DisabledEntryDoesNothingAndBackspaceCloses)
{
    menu->open(u"Chat", {}, true);
    run_frames(0.1);
    choose(2);
    EXPECT_TRUE(menu->is_open());
    EXPECT_TRUE(commands.done.empty());
    EXPECT_TRUE(stack->top()->key({ Key::Backspace, true, true }));
    EXPECT_FALSE(menu->is_open());
}

TEST_F(MenuTest, FourButtonRowDeliversTheButtonsCommand)
{
    menu->open(u"Chat", {}, true);
    run_frames(0.1);
    Element* row = list().item(3);
    ASSERT_NE(row, nullptr);
    auto* about_text = dynamic_cast<TextElement*>(row->find_by_id(u"About")->find_by_id(u"#text"));
    ASSERT_NE(about_text, nullptr);
    EXPECT_EQ(about_text->text(), u"About");
    auto* exit = dynamic_cast<ButtonElement*>(row->find_by_id(u"Exit"));
    ASSERT_NE(exit, nullptr);
    exit->on_press();
    EXPECT_EQ(commands.done, std::vector<std::u16string> { u"Exit" });
}

TEST_F(MenuTest, SameEntriesKeepTheListsPosition)
{
    menu->open(u"Chat", {}, true);
    run_frames(0.1);
    Element* first = list().item(0);
    menu->open(u"Chat", {}, false);
    EXPECT_EQ(list().item(0), first);
}

TEST_F(MenuTest, MissingSectionsAreSkinErrors)
{
    Menu broken(*stack, commands);
    EXPECT_THROW(broken.load(skin, u"NoMenu", u"MenuElement"), dravel::NodeNotFoundInSkin);
    EXPECT_THROW(broken.load(skin, u"FormReload", u"MenuElement"), dravel::NodeNotFound);
}
