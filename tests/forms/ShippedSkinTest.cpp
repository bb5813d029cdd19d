#include "shell/Application.h"
#include "skin/ElementRegistry.h"
#include "skin/Form.h"
#include "skin/FormStack.h"
#include "skin/Properties.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Utf.h"

using namespace velloq;

namespace {

using Needs = std::map<std::u16string, std::vector<std::u16string>>;

// Every section of the shipped skins with the elements the program's forms bind in it.
Needs const main_needs {
    { u"FormMain", { u"btnNew", u"btnMenu", u"list" } },
    { u"ChatItem", { u"title", u"type", u"body", u"day", u"unread", u"unread_exists", u"no_unread" } },
    { u"FormChat", { u"title", u"type", u"symbols", u"list", u"edit", u"btnClose", u"btnTitle", u"btnCopy", u"btnMenu", u"btnSend", u"scroll",
                       u"scroll_button", u"scroll_indicator" } },
    { u"SMSItem", { u"body", u"day", u"day_node", u"time", u"incoming", u"sent", u"drafts", u"outbox" } },
    { u"FormContacts", { u"title", u"list", u"edit", u"btnClose", u"btnWrite", u"btnAdd", u"hint", u"ruler_button", u"ruler_button2", u"ruler_table" } },
    { u"ContactItem", { u"title", u"number", u"type", u"active", u"checkbox", u"checkbox_place" } },
    { u"AlphabetRulerText", {} },
    { u"FormTemplates", { u"btnClose", u"btnAdd", u"list", u"edit" } },
    { u"TemplateItem", { u"text" } },
    { u"Menu", { u"panel", u"caption", u"vlist" } },
    { u"MenuElement", { u"#text", u"checked", u"separator" } },
    { u"MenuElementDisabled", { u"#text", u"checked", u"separator" } },
    { u"MenuElementRed", { u"#text", u"checked", u"separator" } },
    { u"MenuElement4Buttons", { u"About", u"Help", u"Minimize", u"Exit" } },
    { u"FormReload", { u"message" } },
    { u"FormAbout", { u"name", u"version", u"btnClose" } },
    { u"FormCompanion", { u"text", u"btnInstall", u"btnAbout", u"btnClose" } },
};

struct Screen {
    char const* name;
    int32_t width, height;
};

class ShippedSkins : public testing::TestWithParam<Screen> {
protected:
    void SetUp() override
    {
        screen.emplace("VELLOQ_SCREEN", GetParam().name);
        application = std::make_unique<Application>(u"Velloq");
        stack = std::make_unique<FormStack>(*application);
        application->set_content(stack.get());
        application->set_fullscreen(0);
    }
    void TearDown() override
    {
        application->set_content(nullptr);
        stack.reset();
        application.reset();
    }
    // Builds, lays out and draws every section of the skin, checking the elements it must hold.
    void check_skin(char const* file, Needs const& needs)
    {
        Properties skin;
        ASSERT_TRUE(skin.language().load_language(u"Velloq"));
        ASSERT_TRUE(skin.load_skin(u"%app_path%/skins/bin/" + to_utf16(file), application->screen_info()));
        auto frame = Bitmap565::create(GetParam().width, GetParam().height);
        for (auto const& [section, elements] : needs) {
            Form form;
            ASSERT_TRUE(build_from_section(form, skin, section)) << to_utf8(section);
            for (auto const& id : elements)
                EXPECT_NE(form.find_by_id(id), nullptr) << to_utf8(section) << " lacks " << to_utf8(id);
            form.set_horizontal(0, GetParam().width);
            form.set_vertical(0, GetParam().height);
            form.draw({ { 0, 0, GetParam().width, GetParam().height }, frame.get() }, {});
        }
    }

    test::MemoryDisplay display;
    std::optional<test::ScopedEnvironment> screen;
    test::TempDevice device;
    ElementTypes types;
    std::unique_ptr<Application> application;
    std::unique_ptr<FormStack> stack;
};

TEST_P(ShippedSkins, HoldEverySectionAndElementTheFormsBind)
{
    check_skin("default.skin", main_needs);
    check_skin("splash.skin", { { u"FormSplash", { u"progress" } } });
    check_skin("default_alert.skin", { { u"FormAlert", { u"title", u"message", u"btnView", u"btnCancel" } } });
}

INSTANTIATE_TEST_SUITE_P(Screens, ShippedSkins,
    testing::Values(Screen { "480x800", 480, 800 }, Screen { "240x400", 240, 400 }, Screen { "800x480", 800, 480 }, Screen { "960x1600@192", 960, 1600 }),
    [](auto const& info) { return std::to_string(info.param.width) + "x" + std::to_string(info.param.height); });

}
