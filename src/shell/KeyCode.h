#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velloq {

// The program's own key codes. Skins bind keys by these names, and log lines write keys by them.
// A distinct 32-bit type, so that a key inserted into the log is written by its name.
namespace Key {
enum Code : int32_t {
    None = 0,
    Shift = 1,
    Ctrl = 2,
    Alt = 3,
    Left = 4,
    Right = 5,
    Up = 6,
    Down = 7,
    Esc = 8,
    Enter = 9,
    Space = 10,
    Backspace = 11,
    Del = 12,
    Insert = 13,
    Home = 14,
    End = 15,
    PageDown = 16,
    PageUp = 17,
    Tab = 18,
    ContextMenu = 19,
    A = 20,
    Z = 45,
    Digit0 = 46,
    Digit9 = 55,
    Star = 56,
    Pound = 57,
    CallMake = 58,
    CallEnd = 59,
    Slide = 60,
    SoftLeft = 61,
    SoftRight = 62,
    VolumeUp = 63,
    VolumeDown = 64,
    Last = VolumeDown,
};
}
using KeyCode = Key::Code;

// The name of a key code; codes outside the table are named like "None".
std::u16string_view key_name(KeyCode);

// The code of a key name, compared exactly; nullopt for an unknown name.
std::optional<KeyCode> key_code_from_name(std::u16string_view);

}
