#pragma once

#include "platform/wayland/SurroundingText.h"
#include "platform/wayland/WaylandHandles.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace velloq::platform::wayland {

class WaylandConnection;

// The compositor's text input (zwp_text_input_v3): enabled while a field takes input, which
// raises a phone's on-screen keyboard, and the source of what the keyboard's input method types.
class WaylandTextInput {
public:
    WaylandTextInput(WaylandConnection&, zwp_text_input_v3*);
    ~WaylandTextInput();
    WaylandTextInput(WaylandTextInput const&) = delete;
    WaylandTextInput& operator=(WaylandTextInput const&) = delete;

    // A field takes input at `x, y, width, height` (the window's units).
    void start(int32_t x, int32_t y, int32_t width, int32_t height, bool multi_line);
    // The field's text and caret, after the user or the program changed them.
    void set_text(std::u16string const& text, size_t caret);
    void stop();
    bool enabled() const { return m_enabled; }

private:
    void send_state(bool enable);
    void apply(InputMethodChange const&);

    static void enter(void*, zwp_text_input_v3*, wl_surface*);
    static void leave(void*, zwp_text_input_v3*, wl_surface*);
    static void preedit_string(void*, zwp_text_input_v3*, char const*, int32_t, int32_t);
    static void commit_string(void*, zwp_text_input_v3*, char const*);
    static void delete_surrounding_text(void*, zwp_text_input_v3*, uint32_t, uint32_t);
    static void done(void*, zwp_text_input_v3*, uint32_t);

    WaylandConnection& m_connection;
    Handle<zwp_text_input_v3> m_input;
    // Whether the program has a field that takes input, and whether the compositor gave the
    // text input to the window (it may be enabled only then).
    bool m_wanted { false };
    bool m_entered { false };
    bool m_enabled { false };
    int32_t m_rect[4] {};
    bool m_multi_line { false };
    SurroundingText m_surrounding;
    InputMethodChange m_pending;
    std::string m_shown_preedit;
};

}
