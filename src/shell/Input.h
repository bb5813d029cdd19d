#pragma once

#include "shell/KeyCode.h"

#include <cstdint>

namespace velloq {

struct KeyEvent {
    KeyCode code { Key::None };
    bool pressed { false };
    bool first { true }; // false for an auto-repeated press
    bool control { false }; // a Control key was held (a desktop keyboard's shortcuts)
    bool shift { false };
};

// A notch of a mouse wheel, in the thousandths a wheel event counts in.
constexpr int32_t wheel_notch = 1000;

struct PointerEvent {
    int32_t x { 0 };
    int32_t y { 0 };
    uint32_t time { 0 };
    bool pressed { false };
    bool cancelled { false }; // a release that came without a release position
};

// The program's key code of a platform virtual key; keys outside the table give "None".
KeyCode key_code_from_virtual_key(uint32_t virtual_key);
// The same with Shift held: Shift+F10 is the keyboard's other Menu key.
KeyCode key_code_from_virtual_key(uint32_t virtual_key, bool shift);

}
