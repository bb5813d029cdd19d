#include "platform/wayland/WaylandKeyboard.h"

#include "platform/Events.h"

#include <sys/mman.h>
#include <unistd.h>

#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>

namespace velloq::platform::wayland {

namespace {

// The protocol's key numbers are evdev's; XKB's are eight higher, as X's are.
constexpr uint32_t evdev_offset = 8;

std::optional<uint32_t> virtual_key_of_named(xkb_keysym_t symbol)
{
    switch (symbol) {
    case XKB_KEY_BackSpace: return VirtualKey::Back;
    case XKB_KEY_Tab:
    case XKB_KEY_ISO_Left_Tab: return VirtualKey::Tab;
    case XKB_KEY_Return:
    case XKB_KEY_KP_Enter: return VirtualKey::Return;
    case XKB_KEY_Shift_L:
    case XKB_KEY_Shift_R: return VirtualKey::Shift;
    case XKB_KEY_Control_L:
    case XKB_KEY_Control_R: return VirtualKey::Control;
    case XKB_KEY_Alt_L:
    case XKB_KEY_Alt_R: return VirtualKey::Menu;
    case XKB_KEY_Escape: return VirtualKey::KeyboardEscape;
    case XKB_KEY_XF86Back: return VirtualKey::Escape;
    case XKB_KEY_space: return VirtualKey::Space;
    case XKB_KEY_Prior:
    case XKB_KEY_KP_Prior: return VirtualKey::Prior;
    case XKB_KEY_Next:
    case XKB_KEY_KP_Next: return VirtualKey::Next;
    case XKB_KEY_End:
    case XKB_KEY_KP_End: return VirtualKey::End;
    case XKB_KEY_Home:
    case XKB_KEY_KP_Home: return VirtualKey::Home;
    case XKB_KEY_Left:
    case XKB_KEY_KP_Left: return VirtualKey::Left;
    case XKB_KEY_Up:
    case XKB_KEY_KP_Up: return VirtualKey::Up;
    case XKB_KEY_Right:
    case XKB_KEY_KP_Right: return VirtualKey::Right;
    case XKB_KEY_Down:
    case XKB_KEY_KP_Down: return VirtualKey::Down;
    case XKB_KEY_Insert:
    case XKB_KEY_KP_Insert: return VirtualKey::Insert;
    case XKB_KEY_Delete:
    case XKB_KEY_KP_Delete: return VirtualKey::Delete;
    case XKB_KEY_Menu: return VirtualKey::Apps;
    // A phone's volume keys are its F6 and F7.
    case XKB_KEY_XF86AudioRaiseVolume: return VirtualKey::F1 + 5;
    case XKB_KEY_XF86AudioLowerVolume: return VirtualKey::F1 + 6;
    default: return std::nullopt;
    }
}

}

uint32_t virtual_key_of_keysym(xkb_keysym_t symbol)
{
    if (symbol >= XKB_KEY_a && symbol <= XKB_KEY_z)
        return VirtualKey::LetterA + (symbol - XKB_KEY_a);
    if (symbol >= XKB_KEY_A && symbol <= XKB_KEY_Z)
        return VirtualKey::LetterA + (symbol - XKB_KEY_A);
    if (symbol >= XKB_KEY_0 && symbol <= XKB_KEY_9)
        return VirtualKey::Digit0 + (symbol - XKB_KEY_0);
    if (symbol >= XKB_KEY_KP_0 && symbol <= XKB_KEY_KP_9)
        return VirtualKey::Digit0 + (symbol - XKB_KEY_KP_0);
    if (symbol >= XKB_KEY_F1 && symbol <= XKB_KEY_F12)
        return VirtualKey::F1 + (symbol - XKB_KEY_F1);
    if (auto named = virtual_key_of_named(symbol))
        return *named;
    // Keys the program does not know keep a number of their own outside the table's range.
    return 0x10000u | (symbol & 0xFFFFu);
}

WaylandKeyboard::WaylandKeyboard()
    : m_context(xkb_context_new(XKB_CONTEXT_NO_FLAGS))
{
}

bool WaylandKeyboard::load_keymap(int fd, uint32_t size)
{
    if (size == 0)
        return false;
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED)
        return false;
    // The text ends with a zero the size counts; a keymap without one is read up to its size.
    auto const* text = static_cast<char const*>(mapped);
    std::string keymap(text, size);
    munmap(mapped, size);
    return load_keymap_text(keymap.c_str());
}

bool WaylandKeyboard::load_keymap_text(std::string const& text)
{
    if (!m_context)
        return false;
    std::unique_ptr<xkb_keymap, KeymapDeleter> keymap(
        xkb_keymap_new_from_string(m_context.get(), text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap)
        return false;
    std::unique_ptr<xkb_state, StateDeleter> state(xkb_state_new(keymap.get()));
    if (!state)
        return false;
    m_keymap = std::move(keymap);
    m_state = std::move(state);
    m_held.reset();
    return true;
}

void WaylandKeyboard::set_modifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group)
{
    if (m_state)
        xkb_state_update_mask(m_state.get(), depressed, latched, locked, 0, 0, group);
}

xkb_keysym_t WaylandKeyboard::symbol(uint32_t key) const
{
    return m_state ? xkb_state_key_get_one_sym(m_state.get(), key + evdev_offset) : XKB_KEY_NoSymbol;
}

uint32_t WaylandKeyboard::virtual_key(uint32_t key) const
{
    uint32_t virtual_key = virtual_key_of_keysym(symbol(key));
    if (!(virtual_key & 0x10000u) || !m_keymap)
        return virtual_key;
    // A letter of another script (a Russian layout's) is the Latin letter of the first layout
    // on that key, so that Control chords work in every layout.
    xkb_keysym_t const* first = nullptr;
    if (xkb_keymap_key_get_syms_by_level(m_keymap.get(), key + evdev_offset, 0, 0, &first) > 0) {
        uint32_t latin = virtual_key_of_keysym(first[0]);
        if (!(latin & 0x10000u))
            return latin;
    }
    return virtual_key;
}

std::string WaylandKeyboard::text(uint32_t key) const
{
    if (!m_state || control())
        return {};
    char utf8[64] {};
    int length = xkb_state_key_get_utf8(m_state.get(), key + evdev_offset, utf8, sizeof utf8);
    std::string typed(utf8, length > 0 && static_cast<size_t>(length) < sizeof utf8 ? static_cast<size_t>(length) : 0);
    // Control characters (Backspace's, Enter's, Escape's) are keys, not text.
    bool printable = !typed.empty() && (static_cast<unsigned char>(typed[0]) >= 0x20) && typed != "\x7f";
    return printable ? typed : std::string();
}

bool WaylandKeyboard::control() const
{
    return m_state && xkb_state_mod_name_is_active(m_state.get(), XKB_MOD_NAME_CTRL, XKB_STATE_MODS_EFFECTIVE) > 0;
}

bool WaylandKeyboard::shift() const
{
    return m_state && xkb_state_mod_name_is_active(m_state.get(), XKB_MOD_NAME_SHIFT, XKB_STATE_MODS_EFFECTIVE) > 0;
}

void WaylandKeyboard::set_repeat(int32_t rate_per_second, int32_t delay_ms)
{
    m_rate = std::clamp(rate_per_second, 0, 100);
    m_delay = delay_ms < 0 ? 0 : delay_ms;
}

void WaylandKeyboard::hold(uint32_t key, uint32_t now_ms)
{
    if (m_rate == 0 || !m_keymap || !xkb_keymap_key_repeats(m_keymap.get(), key + evdev_offset)) {
        m_held.reset();
        return;
    }
    m_held = key;
    m_next_repeat = now_ms + static_cast<uint32_t>(m_delay);
}

void WaylandKeyboard::let_go(uint32_t key)
{
    if (m_held == key)
        m_held.reset();
}

std::optional<uint32_t> WaylandKeyboard::due_repeat(uint32_t now_ms)
{
    if (!m_held || static_cast<int32_t>(now_ms - m_next_repeat) < 0)
        return std::nullopt;
    m_next_repeat += static_cast<uint32_t>(1000 / m_rate);
    // After a stall the repeats go on from now rather than all at once.
    if (static_cast<int32_t>(now_ms - m_next_repeat) > 0)
        m_next_repeat = now_ms + static_cast<uint32_t>(1000 / m_rate);
    return m_held;
}

std::optional<uint32_t> WaylandKeyboard::until_repeat(uint32_t now_ms) const
{
    if (!m_held)
        return std::nullopt;
    int32_t left = static_cast<int32_t>(m_next_repeat - now_ms);
    return static_cast<uint32_t>(left < 0 ? 0 : left);
}

}
