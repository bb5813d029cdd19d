#include "shell/Input.h"

#include "platform/Events.h"

namespace velloq {

namespace VK = platform::VirtualKey;

KeyCode key_code_from_virtual_key(uint32_t key)
{
    if (key >= VK::LetterA && key < VK::LetterA + 26)
        return static_cast<KeyCode>(Key::A + (key - VK::LetterA));
    if (key >= VK::Digit0 && key < VK::Digit0 + 10)
        return static_cast<KeyCode>(Key::Digit0 + (key - VK::Digit0));
    switch (key) {
    case VK::Shift: return Key::Shift;
    case VK::Control: return Key::Ctrl;
    case VK::Menu: return Key::Alt;
    case VK::Left: return Key::Left;
    case VK::Right: return Key::Right;
    case VK::Up: return Key::Up;
    case VK::Down: return Key::Down;
    case VK::Return: return Key::Enter;
    case VK::Space: return Key::Space;
    // The device's escape and backspace are one key to the program; "Esc" never comes from a key.
    case VK::Back:
    case VK::Escape: return Key::Backspace;
    // A keyboard's Escape is Back too, but it never edits: the forms take it as Back even while
    // an edit has the input, and Backspace deletes there.
    case VK::KeyboardEscape: return Key::Esc;
    case VK::Delete: return Key::Del;
    case VK::Insert: return Key::Insert;
    case VK::Home: return Key::Home;
    case VK::End: return Key::End;
    case VK::Next: return Key::PageDown;
    case VK::Prior: return Key::PageUp;
    case VK::Tab: return Key::Tab;
    case VK::Apps: return Key::ContextMenu;
    case VK::F1: return Key::SoftLeft;
    case VK::F1 + 1: return Key::SoftRight;
    case VK::F1 + 2: return Key::CallMake;
    case VK::F1 + 3: return Key::CallEnd;
    case VK::F1 + 5: return Key::VolumeUp;
    case VK::F1 + 6: return Key::VolumeDown;
    case VK::F1 + 7: return Key::Star;
    case VK::F1 + 8: return Key::Pound;
    default: return Key::None;
    }
}

KeyCode key_code_from_virtual_key(uint32_t key, bool shift)
{
    if (shift && key == VK::F1 + 9)
        return Key::ContextMenu;
    return key_code_from_virtual_key(key);
}

}
