#include "skin/FormStack.h"

#include "shell/ApplicationListener.h"
#include "skin/Form.h"
#include "skin/ReloadForm.h"

#include "SkinFixture.h"

#include <gtest/gtest.h>

using namespace velloq;

namespace {

class Shown : public ApplicationListener {
public:
    void on_other_instance_started(std::u16string const&) override { }
    bool on_close_requested() override { return true; }
    void on_form_shown(Element* form) override { shown.push_back(form); }
    void on_form_hidden(Element* form) override { hidden.push_back(form); }
    std::vector<Element*> shown;
    std::vector<Element*> hidden;
};

class StackTest : public test::SkinFixture {
protected:
    void SetUp() override
    {
        SkinFixture::SetUp();
        for (Form* form : { &main, &second, &overlay, &overlay2 })
            ASSERT_TRUE(build_from_section(*form, skin, form == &main || form == &second ? u"FormDemo" : u"Menu"));
        application->set_listener(&listener);
    }
    void TearDown() override
    {
        application->set_listener(nullptr);
        for (Form* form : { &overlay2, &overlay, &second, &main })
            stack->hide(*form, false);
        SkinFixture::TearDown();
    }
    void frame()
    {
        stack->advance(0.016, 240, 400);
        application->draw(*frame_picture);
    }

    Shown listener;
    Form main, second, overlay, overlay2;
};

}

TEST_F(StackTest, OverlayDimsTheFormBelowBySixteenPerFrame)
{
    stack->show(main, false, false);
    frame();
    EXPECT_EQ(stack->dim_level(), 256);
    stack->show(overlay, true, false);
    EXPECT_FALSE(main.is_visible());
    std::vector<int32_t> levels;
    for (int i = 0; i < 10; ++i) {
        application->set_needs_redraw();
        frame();
        levels.push_back(stack->dim_level());
    }
    EXPECT_EQ(levels, (std::vector<int32_t> { 240, 224, 208, 192, 176, 160, 144, 128, 128, 128 }));
    stack->hide(overlay, false);
    EXPECT_TRUE(main.is_visible());
    levels.clear();
    for (int i = 0; i < 9; ++i) {
        frame();
        levels.push_back(stack->dim_level());
    }
    EXPECT_EQ(levels, (std::vector<int32_t> { 144, 160, 176, 192, 208, 224, 240, 256, 256 }));
    EXPECT_EQ(listener.shown, (std::vector<Element*> { &main, &overlay }));
    EXPECT_EQ(listener.hidden, (std::vector<Element*> { &overlay }));
}

TEST_F(StackTest, OverlayOverOverlayKeepsTheFrozenBackgroundOfTheFullForm)
{
    stack->show(main, false, false);
    frame();
    stack->show(overlay, true, false);
    ASSERT_NE(stack->surface().picture(), nullptr);
    uint16_t frozen = stack->surface().picture()->row(200)[120];
    stack->show(overlay2, true, false);
    EXPECT_EQ(stack->surface().picture()->row(200)[120], frozen);
    stack->hide(overlay2, false);
    EXPECT_EQ(stack->top(), &overlay);
    EXPECT_EQ(stack->surface().picture()->row(200)[120], frozen);
}

TEST_F(StackTest, HidingAFormBelowTheTopLeavesTheTopAlone)
{
    stack->show(main, false, false);
    stack->show(second, false, false);
    EXPECT_TRUE(second.is_visible());
    EXPECT_TRUE(stack->hide(main, false));
    EXPECT_EQ(stack->top(), &second);
    EXPECT_TRUE(second.is_visible());
    EXPECT_EQ(stack->size(), 1u);
    EXPECT_FALSE(stack->hide(main, false));
}

TEST_F(StackTest, HidingAFormWhoseShowTransitionRunsReversesIt)
{
    stack->show(main, false, false);
    frame();
    stack->show(second, false, true);
    ASSERT_NE(stack->transition(), nullptr);
    EXPECT_EQ(stack->transition()->direction(), 1);
    frame();
    FormTransition const* running = stack->transition();
    EXPECT_TRUE(stack->hide(second, true));
    EXPECT_EQ(stack->transition(), running);
    EXPECT_EQ(stack->transition()->direction(), -1);
    EXPECT_EQ(stack->top(), &main);
    run_frames(1);
    EXPECT_EQ(stack->transition(), nullptr);
}

TEST_F(StackTest, InputGoesToTheTopForm)
{
    stack->show(main, false, false);
    frame();
    auto* edit = main.typing_edit();
    EXPECT_EQ(edit, nullptr);
    stack->key({ Key::Left, true, true });
    stack->text_input(u"x");
    SUCCEED();
}

TEST_F(StackTest, ReloadFormTellsTheSkinsListenersAndClosesItself)
{
    struct Reloaded : ReloadListener {
        void on_skin_reloaded() override { ++count; }
        int count { 0 };
    } reloaded;
    skin.add_reload_listener(&reloaded);
    stack->show(main, false, false);
    ReloadForm reload(*stack, skin);
    ASSERT_TRUE(build_from_section(reload, skin, u"FormReload"));
    stack->show(reload, true, false);
    EXPECT_EQ(stack->top(), &reload);
    frame();
    EXPECT_EQ(reloaded.count, 1);
    EXPECT_EQ(stack->top(), &main);
    skin.remove_reload_listener(&reloaded);
}
