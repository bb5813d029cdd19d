#include "skin/Element.h"
#include "skin/ElementRegistry.h"
#include "skin/FontRep.h"
#include "skin/Properties.h"

#include "platform/PngFile.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

using namespace velloq;

namespace {

// A panel that draws its "panel" picture as a nine-part grid and its "caption" in its
// "font": enough of an element to see the engine draw a form.
class TestPanel final : public Element {
public:
    void load(Properties const& skin, Section const& section) override
    {
        Element::load(skin, section);
        m_background = skin.get_picture(section, u"panel", {});
        m_font = skin.get_font(section, u"font", nullptr);
        m_caption = skin.get_string(section, u"caption", {});
    }
    void draw_self(DrawTarget const& target, Point offset) override
    {
        Rect where { position().x + offset.x, position().y + offset.y, size().x, size().y };
        m_background.draw(target, where, KeyRowOp());
        if (m_font)
            m_font->draw(target, where.left + 4, where.top + 4, m_caption, 0xFFFF);
        draw_children(target, offset);
    }

private:
    PictureRef m_background;
    FontRep* m_font { nullptr };
    std::u16string m_caption;
};

}

TEST(RenderForm, CompiledSkinDrawsAFormToAPicture)
{
    test::TempDevice device;
    ElementTypes types;
    ElementRegistry::register_type(u"testpanel", [] { return std::unique_ptr<Element>(std::make_unique<TestPanel>()); });
    Properties skin;
    ASSERT_TRUE(skin.load_skin(u"" VELLOQ_PROGRAM_DIR "/skins/bin/test.skin", {}));
    auto section = skin.section(u"FormTest");
    ASSERT_TRUE(section);

    Element root;
    ASSERT_TRUE(build_from_section(root, skin, u"FormTest"));
    // The footer holds the panel picture; draw it through a panel built in its place.
    Element* footer = root.find_by_id(u"footer");
    ASSERT_NE(footer, nullptr);
    auto& panel = static_cast<TestPanel&>(root.add_child(ElementRegistry::create(u"testpanel")));
    panel.load(skin, *skin.child(*skin.child(*section, 0), 2));
    panel.set_anchor(Axis::Vertical, Anchor::MaxSide);
    root.set_horizontal(0, 240);
    root.set_vertical(0, 400);

    auto picture = Bitmap565::create(240, 400);
    picture->fill(0);
    root.draw({ { 0, 0, 240, 400 }, picture.get() }, {});
    auto png = device.path() / "form.png";
    ASSERT_TRUE(platform::write_png_565(png.string(), picture->pixels(), picture->pitch(), 240, 400));
    EXPECT_GT(std::filesystem::file_size(png), 100u);

    // The panel fills the bottom 30 pixels: corners keep the key colour's transparency (black
    // shows), the middle is the panel's blue.
    Rect area = panel.rect();
    EXPECT_EQ(area, (Rect { 0, 370, 240, 30 }));
    EXPECT_EQ(picture->row(370)[0], 0);
    EXPECT_EQ(picture->row(385)[120], Bitmap565::rgb(0x2A, 0x7B, 0xE4));
    EXPECT_EQ(picture->row(399)[239], 0);
    EXPECT_EQ(picture->row(100)[120], 0);
    ElementRegistry::unregister_type(u"testpanel");
}
