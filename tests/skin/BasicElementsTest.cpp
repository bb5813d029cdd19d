#include "skin/BasicElements.h"
#include "skin/ElementRegistry.h"
#include "skin/FontRep.h"
#include "skin/Properties.h"
#include "skin/ButtonElement.h"
#include "skin/Exceptions.h"
#include "skin/Form.h"
#include "skin/TextEdit.h"
#include "skin/TextElement.h"

#include "SkinBuilder.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

using namespace velloq;
using skinc::SectionSource;

namespace {

SectionSource node(std::u16string type, std::u16string id, std::vector<SectionSource> children = {})
{
    SectionSource section;
    section.strings = { { u"type", std::move(type) }, { u"id", std::move(id) } };
    section.children = std::move(children);
    return section;
}

class ElementTypesTest : public testing::Test {
protected:
    // Builds the section as a form 200 × 100 and lays it out.
    Form& build(SectionSource section)
    {
        section.name = u"Test";
        auto path = test::write_test_skin(device.path(), { { section }, {}, {} }, "elements.skin");
        EXPECT_TRUE(skin.load_skin(path.u16string(), {}));
        skin.language().parse(u"Caption=Press me\nGreeting=Hello");
        EXPECT_TRUE(build_from_section(form, skin, u"Test"));
        form.set_horizontal(0, 200);
        form.set_vertical(0, 100);
        return form;
    }
    template<typename Type>
    Type& find(std::u16string_view id)
    {
        auto* found = dynamic_cast<Type*>(form.find_by_id(id));
        EXPECT_NE(found, nullptr);
        return *found;
    }

    test::TempDevice device;
    ElementTypes types;
    Properties skin;
    Form form;
};

struct Presses {
    void watch(ButtonElement& button)
    {
        button.on_press = [this, &button] { pressed.push_back(&button); };
    }
    std::vector<Element*> pressed;
};

}

TEST_F(ElementTypesTest, ButtonShowsOneStateChildAndFallsBackToNormal)
{
    auto button = node(u"button", u"btn", { node(u"color", u"#normal"), node(u"color", u"#pressed"), node(u"color", u"#disabled") });
    button.strings[u"bind_key"] = u"SOFT_LEFT";
    build(node(u"node", u"root", { button, node(u"button", u"only", { node(u"color", u"#normal") }) }));
    auto& full = find<ButtonElement>(u"btn");
    auto& normal = *full.find_by_id(u"#normal");
    auto& pressed = *full.find_by_id(u"#pressed");
    auto& disabled = *full.find_by_id(u"#disabled");
    EXPECT_TRUE(normal.is_visible() && !pressed.is_visible() && !disabled.is_visible());
    EXPECT_TRUE(full.pointer_button({ 10, 10, 0, true, false }));
    EXPECT_TRUE(!normal.is_visible() && pressed.is_visible());
    full.set_enabled(false);
    EXPECT_TRUE(disabled.is_visible() && !pressed.is_visible() && !normal.is_visible());
    EXPECT_EQ(full.bound_key(), Key::SoftLeft);

    auto& only = find<ButtonElement>(u"only");
    auto& only_normal = *only.find_by_id(u"#normal");
    only.pointer_button({ 10, 10, 0, true, false });
    EXPECT_TRUE(only_normal.is_visible());
    only.set_enabled(false);
    EXPECT_TRUE(only_normal.is_visible());
}

TEST_F(ElementTypesTest, ButtonFiresOnReleaseOverItAndNotAfterSlidingOff)
{
    build(node(u"node", u"root", { node(u"button", u"btn", { node(u"color", u"#normal") }) }));
    auto& button = find<ButtonElement>(u"btn");
    Presses presses;
    presses.watch(button);
    form.pointer_button({ 50, 50, 0, true, false });
    form.pointer_button({ 60, 50, 0, false, false });
    ASSERT_EQ(presses.pressed.size(), 1u);
    EXPECT_EQ(presses.pressed[0], &button);
    form.pointer_button({ 50, 50, 0, true, false });
    form.pointer_move({ 500, 50, 0, false, false });
    form.pointer_move({ 50, 50, 0, false, false });
    form.pointer_button({ 50, 50, 0, false, false });
    EXPECT_EQ(presses.pressed.size(), 1u);
}

TEST_F(ElementTypesTest, ATapActsOnTheButtonItWentDownOnEvenWhenTheFormMovedUnderIt)
{
    build(node(u"node", u"root", { node(u"button", u"btn", { node(u"color", u"#normal") }) }));
    auto& button = find<ButtonElement>(u"btn");
    Presses presses;
    presses.watch(button);
    Rect at = button.rect();
    int32_t x = at.left + at.width / 2;
    int32_t y = at.top + 2;
    button.pointer_button({ x, y, 0, true, false });
    // Typing ends with this tap and the layout moves the button away from the finger.
    button.set_vertical(at.top + 40, at.height);
    button.pointer_move({ x, y, 0, false, false });
    button.pointer_button({ x, y, 0, false, false });
    EXPECT_EQ(presses.pressed.size(), 1u);
}

TEST_F(ElementTypesTest, BoundKeyPressesTheButtonThroughItsForm)
{
    auto button = node(u"button", u"btn", { node(u"color", u"#normal"), node(u"color", u"#pressed") });
    button.strings[u"bind_key"] = u"CALL_MAKE";
    button.strings[u"text"] = u"Caption";
    auto text = node(u"text", u"#text");
    button.children[0].children.push_back(text);
    build(node(u"node", u"root", { button }));
    auto& bound = find<ButtonElement>(u"btn");
    EXPECT_EQ(bound.caption(), u"Press me");
    EXPECT_EQ(dynamic_cast<TextElement*>(bound.find_by_id(u"#text"))->text(), u"Press me");
    Presses presses;
    presses.watch(bound);
    EXPECT_TRUE(form.key({ Key::CallMake, true, true }));
    EXPECT_TRUE(bound.is_pressed());
    EXPECT_TRUE(form.key({ Key::CallMake, false, true }));
    EXPECT_EQ(presses.pressed.size(), 1u);
    EXPECT_FALSE(form.key({ Key::CallEnd, true, true }));
}

TEST_F(ElementTypesTest, ProgressIsClampedAndAnUnchangedValueRedrawsNothing)
{
    build(node(u"node", u"root", { node(u"progress", u"bar") }));
    auto& progress = find<ProgressElement>(u"bar");
    progress.set_value(1.5);
    EXPECT_EQ(progress.value(), 1.0);
    auto picture = Bitmap565::create(200, 100);
    form.draw({ { 0, 0, 200, 100 }, picture.get() }, {});
    EXPECT_FALSE(progress.needs_redraw());
    progress.set_value(1.0);
    EXPECT_FALSE(progress.needs_redraw());
    progress.set_value(-3);
    EXPECT_EQ(progress.value(), 0.0);
    EXPECT_TRUE(progress.needs_redraw());
}

TEST_F(ElementTypesTest, ColorWithoutAColourIsMagenta)
{
    build(node(u"node", u"root", { node(u"color", u"fill") }));
    auto picture = Bitmap565::create(200, 100);
    form.draw({ { 0, 0, 200, 100 }, picture.get() }, {});
    EXPECT_EQ(picture->row(50)[100], 0xF81F);
}

TEST_F(ElementTypesTest, TextShowsItsLanguageTextOrTheKey)
{
    auto greeting = node(u"text", u"greeting");
    greeting.strings[u"text"] = u"Greeting";
    auto unknown = node(u"text", u"unknown");
    unknown.strings[u"text"] = u"NoSuchKey";
    build(node(u"node", u"root", { greeting, unknown }));
    EXPECT_EQ(find<TextElement>(u"greeting").text(), u"Hello");
    EXPECT_EQ(find<TextElement>(u"unknown").text(), u"NoSuchKey");
}

TEST_F(ElementTypesTest, TextPreparationAlignmentAndWrapping)
{
    EXPECT_EQ(prepare_text(u"a\tb\r\nc", false), u"a    b  c");
    EXPECT_EQ(prepare_text(u"a\tb\r\nc", true), u"a    b\nc");
    auto left = node(u"text", u"left");
    left.strings[u"halign"] = u"LEFT";
    left.strings[u"valign"] = u"TOP";
    auto right = node(u"text", u"right");
    right.strings[u"halign"] = u"RIGHT";
    right.strings[u"valign"] = u"BOTTOM";
    auto wrapped = node(u"text", u"wrapped");
    wrapped.integers[u"wrap"] = 1;
    build(node(u"node", u"root", { left, right, wrapped }));
    auto& l = find<TextElement>(u"left");
    auto& r = find<TextElement>(u"right");
    l.set_text(u"abc");
    r.set_text(u"abc");
    EXPECT_EQ(l.line_x(u"abc"), 0);
    EXPECT_EQ(r.line_x(u"abc"), 200 - l.font()->measure(u"abc"));
    EXPECT_EQ(l.text_top(1), 0);
    EXPECT_EQ(r.text_top(1), 100 - r.font()->line_height());
    auto& w = find<TextElement>(u"wrapped");
    w.set_text(u"one two three four five six seven eight nine ten eleven twelve thirteen");
    auto lines = w.lines();
    EXPECT_GT(lines.size(), 1u);
    for (auto const& line : lines)
        EXPECT_LE(w.font()->measure(line), 200);
}

// A wrapped paragraph keeps its first strong character's direction on every line: a line of an
// Arabic paragraph that starts with a Latin word still sits at the right, and a left-aligned
// English paragraph's lines at the left, Arabic words and all.
TEST_F(ElementTypesTest, AWrappedParagraphLaysOutEveryLineInItsOwnDirection)
{
    auto wrapped = node(u"text", u"wrapped");
    wrapped.integers[u"wrap"] = 1;
    wrapped.strings[u"halign"] = u"LEFT";
    wrapped.strings[u"valign"] = u"TOP";
    build(node(u"node", u"root", { wrapped }));
    auto& text = find<TextElement>(u"wrapped");
    auto ink_of_last_line = [&](std::u16string const& shown) {
        text.set_text(shown);
        auto lines = text.lines();
        EXPECT_GE(lines.size(), 2u);
        auto picture = Bitmap565::create(200, 100);
        picture->fill(0xFFFF);
        form.draw({ { 0, 0, 200, 100 }, picture.get() }, {});
        int32_t top = text.text_top(lines.size()) + static_cast<int32_t>(lines.size() - 1) * text.font()->line_height();
        std::pair<int32_t, int32_t> ink { 200, -1 };
        for (int32_t y = top; y < std::min(100, top + text.font()->line_height()); ++y) {
            for (int32_t x = 0; x < 200; ++x) {
                if (picture->row(y)[x] != 0xFFFF)
                    ink = { std::min(ink.first, x), std::max(ink.second, x) };
            }
        }
        return std::make_pair(lines.back(), ink);
    };
    // Latin words after an Arabic start, as many as make a short last line of Latin.
    std::u16string arabic = u"مرحبا بكم جميعا";
    do
        arabic += u" Meeting";
    while (text.font()->measure(text.font()->break_lines(arabic + u" Meeting", 200).back()) > 80 || text.font()->break_lines(arabic + u" Meeting", 200).size() < 2);
    auto [arabic_last, arabic_ink] = ink_of_last_line(arabic + u" Meeting");
    EXPECT_EQ(arabic_last, u"Meeting");
    EXPECT_GT(arabic_ink.first, 100) << "the last line sits at the right";
    EXPECT_GE(arabic_ink.second, 190);
    auto [latin_last, latin_ink] = ink_of_last_line(u"Hello hello hello hello hello hello hello مرحبا");
    EXPECT_LE(latin_ink.first, 3);
    EXPECT_LT(latin_ink.second, 140) << "the last line sits at the left";
}

TEST_F(ElementTypesTest, EditTakesCharactersAndCaretKeys)
{
    build(node(u"node", u"root", { node(u"edit", u"edit") }));
    auto& edit = find<TextEdit>(u"edit");
    struct {
        int count { 0 };
    } changes;
    edit.on_change = [&] { ++changes.count; };
    EXPECT_FALSE(form.text_input(u"x"));
    edit.set_types_without_tap(true);
    for (char16_t const* c : { u"h", u"e", u"l", u"o" })
        EXPECT_TRUE(form.text_input(c));
    EXPECT_EQ(edit.text(), u"helo");
    form.key({ Key::Left, true, true });
    form.text_input(u"l");
    EXPECT_EQ(edit.text(), u"hello");
    form.key({ Key::Home, true, true });
    form.key({ Key::Del, true, true });
    EXPECT_EQ(edit.text(), u"ello");
    form.key({ Key::End, true, true });
    form.key({ Key::Backspace, true, true });
    EXPECT_EQ(edit.text(), u"ell");
    form.text_input(u"😀");
    form.key({ Key::Backspace, true, true });
    EXPECT_EQ(edit.text(), u"ell");
    EXPECT_EQ(changes.count, 9);
    edit.set_text(u"new text");
    EXPECT_EQ(edit.caret(), 8u);
    EXPECT_EQ(changes.count, 9);
}

// The caret of a wrapped edit: a bar where the next character goes, on the line it is on, there
// in one half of the blink and gone in the other; a tap moves it to the character tapped.
TEST_F(ElementTypesTest, AWrappedEditShowsItsCaretWhereTheNextCharacterGoesAndATapMovesIt)
{
    auto wrapped = node(u"edit", u"edit");
    wrapped.integers[u"wrap"] = 1;
    build(node(u"node", u"root", { wrapped }));
    auto& edit = find<TextEdit>(u"edit");
    edit.set_text(u"one two three four five six seven eight nine ten eleven");
    edit.begin_input();
    auto lines = edit.lines();
    ASSERT_GT(lines.size(), 1u);
    auto shown = Bitmap565::create(200, 100);
    auto hidden = Bitmap565::create(200, 100);
    // White, so the edit's black text and caret show.
    shown->fill(0xFFFF);
    hidden->fill(0xFFFF);
    form.draw({ { 0, 0, 200, 100 }, shown.get() }, {});
    edit.advance(0.6);
    form.draw({ { 0, 0, 200, 100 }, hidden.get() }, {});
    int32_t left = 200, right = -1, top = 100, bottom = -1;
    for (int32_t y = 0; y < 100; ++y) {
        for (int32_t x = 0; x < 200; ++x) {
            if (shown->row(y)[x] == hidden->row(y)[x])
                continue;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    }
    int32_t line_height = edit.font()->line_height();
    EXPECT_EQ(left, edit.line_x(lines.back()) + edit.font()->measure(lines.back()));
    EXPECT_LE(right - left, 1);
    EXPECT_EQ(top, edit.text_top(lines.size()) + static_cast<int32_t>(lines.size() - 1) * line_height);
    EXPECT_EQ(bottom - top + 1, line_height);

    int32_t x = edit.line_x(lines.front()) + edit.font()->measure(u"one t");
    form.pointer_button({ x, edit.text_top(lines.size()) + 2, 0, true, false });
    form.pointer_button({ x, edit.text_top(lines.size()) + 2, 0, false, false });
    EXPECT_EQ(edit.caret(), 5u);
    form.pointer_button({ 1, edit.text_top(lines.size()) + line_height + 2, 0, true, false });
    form.pointer_button({ 1, edit.text_top(lines.size()) + line_height + 2, 0, false, false });
    EXPECT_EQ(edit.caret(), lines.front().size() + 1);
}

// Backspace, Delete and the arrows take a character as the reader sees it: an emoji sequence,
// a flag, a Devanagari conjunct with its vowel sign (स्ते); a tap left of right-to-left text puts the
// caret after its last character, which stands there.
TEST_F(ElementTypesTest, AnEditDeletesAndStepsOverWholeCharactersInAnyScript)
{
    build(node(u"node", u"root", { node(u"edit", u"edit") }));
    auto& edit = find<TextEdit>(u"edit");
    edit.begin_input();
    std::u16string family = u"\U0001F468\u200D\U0001F469\u200D\U0001F467";
    form.text_input(u"a" + family + u"\U0001F1E9\U0001F1EA" + u"नमस्ते");
    std::u16string const after_each[] = { u"a" + family + u"\U0001F1E9\U0001F1EAनम", u"a" + family + u"\U0001F1E9\U0001F1EAन",
        u"a" + family + u"\U0001F1E9\U0001F1EA", u"a" + family, u"a" };
    for (auto const& expected : after_each) {
        form.key({ Key::Backspace, true, true });
        EXPECT_EQ(edit.text(), expected);
    }
    edit.set_text(u"a" + family + u"b");
    form.key({ Key::Left, true, true });
    EXPECT_EQ(edit.caret(), 1 + family.size());
    form.key({ Key::Left, true, true });
    EXPECT_EQ(edit.caret(), 1u);
    form.key({ Key::Right, true, true });
    EXPECT_EQ(edit.caret(), 1 + family.size());
    form.key({ Key::Left, true, true });
    form.key({ Key::Del, true, true });
    EXPECT_EQ(edit.text(), u"ab");

    edit.set_text(u"שלום");
    form.key({ Key::Home, true, true });
    int32_t y = edit.position().y + edit.size().y / 2;
    form.pointer_button({ edit.position().x + 1, y, 0, true, false });
    form.pointer_button({ edit.position().x + 1, y, 0, false, false });
    EXPECT_EQ(edit.caret(), 4u);
}

TEST_F(ElementTypesTest, LabelEditNeedsBothChildren)
{
    build(node(u"node", u"root", { node(u"label_edit", u"le", { node(u"edit", u"#edit"), node(u"text", u"#text") }) }));
    auto& label_edit = find<LabelEdit>(u"le");
    EXPECT_FALSE(label_edit.edit().is_visible());
    label_edit.edit().set_text(u"typed");
    label_edit.update();
    EXPECT_TRUE(label_edit.edit().is_visible());
    EXPECT_THROW(build(node(u"node", u"root", { node(u"label_edit", u"bad", { node(u"edit", u"#edit") }) })), dravel::NodeNotFound);
}

TEST_F(ElementTypesTest, CheckboxTogglesAndClipKeepsChildrenInside)
{
    build(node(u"node", u"root", { node(u"checkbox", u"check", { node(u"color", u"#on"), node(u"color", u"#off") }) }));
    auto& check = find<CheckboxElement>(u"check");
    EXPECT_FALSE(check.checked());
    EXPECT_TRUE(check.find_by_id(u"#off")->is_visible());
    form.pointer_button({ 5, 5, 0, true, false });
    form.pointer_button({ 5, 5, 0, false, false });
    EXPECT_TRUE(check.checked());
    EXPECT_TRUE(check.find_by_id(u"#on")->is_visible());
}

// Children taller than their clip are dragged into view, no further than their ends; children
// that fit keep their presses.
TEST(ClipElement, ATallChildIsDraggedIntoViewWithinItsEnds)
{
    ClipElement clip;
    auto tall = std::make_unique<Element>();
    tall->set_design_size({ 0, 300 });
    Element& content = *tall;
    clip.add_child(std::move(tall));
    clip.set_horizontal(0, 100);
    clip.set_vertical(20, 100);
    EXPECT_EQ(content.position().y, 20);
    EXPECT_EQ(content.size().y, 300);
    EXPECT_TRUE(clip.pointer_button({ 50, 90, 0, true }));
    clip.pointer_move({ 50, 40, 10, true });
    EXPECT_EQ(clip.scroll(), 50);
    EXPECT_EQ(content.position().y, -30);
    clip.pointer_move({ 50, -500, 20, true });
    EXPECT_EQ(clip.scroll(), 200);
    clip.pointer_button({ 50, -500, 30, false });
    clip.scroll_by(-1000);
    EXPECT_EQ(clip.scroll(), 0);
    clip.set_vertical(20, 400);
    EXPECT_FALSE(clip.pointer_button({ 50, 90, 40, true }));
    EXPECT_EQ(content.size().y, 400);
}
