#include "platform/Events.h"
#include "platform/PinchTracker.h"
#include "platform/wayland/SurroundingText.h"
#include "platform/wayland/WaylandKeyboard.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>

using namespace velloq::platform;
using namespace velloq::platform::wayland;

namespace {

// A keymap as a compositor sends it, made from layout names ("us", "us,ru").
std::string keymap_text(char const* layouts)
{
    std::unique_ptr<xkb_context, void (*)(xkb_context*)> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS), xkb_context_unref);
    xkb_rule_names names { "evdev", "pc105", layouts, "", "" };
    std::unique_ptr<xkb_keymap, void (*)(xkb_keymap*)> keymap(xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS),
        xkb_keymap_unref);
    if (!keymap)
        return {};
    std::unique_ptr<char, void (*)(void*)> text(xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1), free);
    return text ? text.get() : "";
}

// The modifier masks of the keymap as xkbcommon numbers them.
constexpr uint32_t shift_mask = 1u << 0;
constexpr uint32_t control_mask = 1u << 2;

}

// Keys become the program's virtual keys and the characters they type: Shift makes capitals,
// Control types nothing, Enter and Backspace are keys only, and a Russian layout's letters keep
// the Latin key's number so that Control chords work in it.
TEST(WaylandKeyboard, KeysAreVirtualKeysAndTypeWhatTheLayoutSays)
{
    std::string text = keymap_text("us,ru");
    ASSERT_FALSE(text.empty()) << "no XKB data (xkb-data)";
    WaylandKeyboard keyboard;
    ASSERT_TRUE(keyboard.load_keymap_text(text));
    EXPECT_EQ(keyboard.virtual_key(KEY_A), VirtualKey::LetterA);
    EXPECT_EQ(keyboard.text(KEY_A), "a");
    EXPECT_EQ(keyboard.virtual_key(KEY_ENTER), VirtualKey::Return);
    EXPECT_EQ(keyboard.text(KEY_ENTER), "");
    EXPECT_EQ(keyboard.text(KEY_BACKSPACE), "");
    EXPECT_EQ(keyboard.virtual_key(KEY_ESC), VirtualKey::KeyboardEscape);
    EXPECT_EQ(keyboard.virtual_key(KEY_BACK), VirtualKey::Escape);
    keyboard.set_modifiers(shift_mask, 0, 0, 0);
    EXPECT_TRUE(keyboard.shift());
    EXPECT_EQ(keyboard.text(KEY_A), "A");
    EXPECT_EQ(keyboard.virtual_key(KEY_A), VirtualKey::LetterA);
    keyboard.set_modifiers(control_mask, 0, 0, 0);
    EXPECT_TRUE(keyboard.control());
    EXPECT_EQ(keyboard.text(KEY_A), "");
    // The second layout: Cyrillic text, Latin key numbers.
    keyboard.set_modifiers(0, 0, 0, 1);
    EXPECT_EQ(keyboard.text(KEY_A), "ф");
    EXPECT_EQ(keyboard.virtual_key(KEY_A), VirtualKey::LetterA);
    // A damaged keymap is refused; the layout before stays.
    EXPECT_FALSE(keyboard.load_keymap_text("xkb_keymap { damaged"));
    EXPECT_EQ(keyboard.text(KEY_A), "ф");
}

// A held key repeats after the compositor's delay at its rate, letters and arrows but not
// modifiers; a stall does not bring a burst of repeats.
TEST(WaylandKeyboard, AHeldKeyRepeatsAtTheCompositorsPace)
{
    WaylandKeyboard keyboard;
    ASSERT_TRUE(keyboard.load_keymap_text(keymap_text("us")));
    keyboard.set_repeat(25, 600);
    keyboard.hold(KEY_A, 1000);
    EXPECT_EQ(keyboard.until_repeat(1000), 600u);
    EXPECT_FALSE(keyboard.due_repeat(1599));
    EXPECT_EQ(keyboard.due_repeat(1600), KEY_A);
    EXPECT_EQ(keyboard.until_repeat(1600), 40u);
    EXPECT_FALSE(keyboard.due_repeat(1639));
    EXPECT_EQ(keyboard.due_repeat(1640), KEY_A);
    EXPECT_EQ(keyboard.due_repeat(5000), KEY_A);
    EXPECT_FALSE(keyboard.due_repeat(5001));
    keyboard.let_go(KEY_A);
    EXPECT_FALSE(keyboard.until_repeat(5100));
    keyboard.hold(KEY_LEFTSHIFT, 6000);
    EXPECT_FALSE(keyboard.until_repeat(6000));
    // A rate of 0 turns repeating off.
    keyboard.set_repeat(0, 600);
    keyboard.hold(KEY_A, 7000);
    EXPECT_FALSE(keyboard.due_repeat(9000));
}

// The input method hears the field as UTF-8 with the caret's byte offset, and its deletes in
// bytes come back as the UTF-16 units the field counts, whole characters, never past the text.
TEST(SurroundingText, BytesAroundTheCaretAreTheFieldsCharacters)
{
    auto text = SurroundingText::of(u"Привет 😀 ok", 9);
    EXPECT_EQ(text.text, "Привет 😀 ok");
    EXPECT_EQ(text.caret, 17);
    EXPECT_EQ(text.units_around(5, 3), (std::pair<int32_t, int32_t> { 3, 3 }));
    EXPECT_EQ(text.units_around(100, 100), (std::pair<int32_t, int32_t> { 9, 3 }));
    // A caret past the end is at the end.
    EXPECT_EQ(SurroundingText::of(u"abc", 99).caret, 3);
}

// A field longer than the protocol carries sends the part around the caret, not cut inside a
// character.
TEST(SurroundingText, ALongFieldSendsThePartAroundTheCaret)
{
    std::u16string text;
    for (int i = 0; i < 3000; ++i)
        text += u"😀";
    auto around = SurroundingText::of(text, 3000);
    EXPECT_LE(around.text.size(), 4000u);
    EXPECT_EQ(around.text.size() % 4, 0u);
    EXPECT_EQ(around.text.substr(0, 4), "😀");
    EXPECT_EQ(static_cast<size_t>(around.caret) % 4, 0u);
    EXPECT_EQ(around.units_around(4, 4), (std::pair<int32_t, int32_t> { 2, 2 }));
}

// Two fingers on a touch screen: each change of their distance is a zoom factor around their
// midpoint; one finger alone, a third, or fingers almost on one spot make none.
TEST(PinchTracker, TwoFingersApartZoomAroundTheirMiddle)
{
    platform::PinchTracker fingers;
    EXPECT_FALSE(fingers.down(1, 100, 300));
    EXPECT_FALSE(fingers.moved(1, 110, 300, 5)) << "one finger is a drag";
    EXPECT_TRUE(fingers.down(2, 210, 300));
    auto pinch = fingers.moved(2, 310, 300, 10);
    ASSERT_TRUE(pinch);
    EXPECT_EQ(pinch->kind, platform::EventKind::Pinch);
    EXPECT_EQ(pinch->value, 2'000'000);
    EXPECT_EQ(pinch->x, 210);
    EXPECT_EQ(pinch->y, 300);
    EXPECT_FALSE(fingers.down(3, 0, 0));
    EXPECT_FALSE(fingers.moved(2, 320, 300, 15)) << "three fingers are no pinch";
    fingers.up(3);
    EXPECT_FALSE(fingers.moved(2, 114, 300, 20)) << "fingers on one spot give no factor";
    fingers.up(1);
    EXPECT_FALSE(fingers.moved(2, 400, 300, 25));
}
