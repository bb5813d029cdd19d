#pragma once

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace velloq::platform::wayland {

// The virtual key (the program's key numbers) of a key symbol.
uint32_t virtual_key_of_keysym(xkb_keysym_t);

// The keyboard's layout and the state of its modifiers, as the compositor describes them, and
// the repeat of a held key, which a Wayland client makes itself.
class WaylandKeyboard {
public:
    WaylandKeyboard();

    // Takes the layout the compositor sends (an XKB keymap in shared memory); false when it
    // cannot be read, and the layout before stays.
    bool load_keymap(int fd, uint32_t size);
    bool load_keymap_text(std::string const&);
    void set_modifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group);

    // `key` is the evdev key number of the protocol.
    uint32_t virtual_key(uint32_t key) const;
    // What the key types with the modifiers held (empty: nothing, or a Control chord).
    std::string text(uint32_t key) const;
    bool control() const;
    bool shift() const;

    void set_repeat(int32_t rate_per_second, int32_t delay_ms);
    // Starts repeating a key just pressed, where the layout repeats it.
    void hold(uint32_t key, uint32_t now_ms);
    void let_go(uint32_t key);
    void let_go_all() { m_held.reset(); }
    // The held key when its next repeat is due at `now_ms` (and schedules the one after).
    std::optional<uint32_t> due_repeat(uint32_t now_ms);
    // Milliseconds until the next repeat; nullopt when no key repeats.
    std::optional<uint32_t> until_repeat(uint32_t now_ms) const;

private:
    xkb_keysym_t symbol(uint32_t key) const;

    struct ContextDeleter {
        void operator()(xkb_context* p) const { xkb_context_unref(p); }
    };
    struct KeymapDeleter {
        void operator()(xkb_keymap* p) const { xkb_keymap_unref(p); }
    };
    struct StateDeleter {
        void operator()(xkb_state* p) const { xkb_state_unref(p); }
    };
    std::unique_ptr<xkb_context, ContextDeleter> m_context;
    std::unique_ptr<xkb_keymap, KeymapDeleter> m_keymap;
    std::unique_ptr<xkb_state, StateDeleter> m_state;
    int32_t m_rate { 25 };
    int32_t m_delay { 600 };
    std::optional<uint32_t> m_held;
    uint32_t m_next_repeat { 0 };
};

}
