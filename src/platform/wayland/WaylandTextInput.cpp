#include "platform/wayland/WaylandTextInput.h"

#include "platform/Events.h"
#include "platform/Utf.h"
#include "platform/wayland/WaylandConnection.h"

namespace velloq::platform::wayland {

WaylandTextInput::WaylandTextInput(WaylandConnection& connection, zwp_text_input_v3* input)
    : m_connection(connection)
    , m_input(input)
{
    static constexpr zwp_text_input_v3_listener listener { &enter, &leave, &preedit_string, &commit_string, &delete_surrounding_text, &done };
    zwp_text_input_v3_add_listener(m_input.get(), &listener, this);
}

WaylandTextInput::~WaylandTextInput() = default;

void WaylandTextInput::start(int32_t x, int32_t y, int32_t width, int32_t height, bool multi_line)
{
    m_wanted = true;
    m_rect[0] = x;
    m_rect[1] = y;
    m_rect[2] = width;
    m_rect[3] = height;
    m_multi_line = multi_line;
    if (m_entered)
        send_state(!m_enabled);
}

void WaylandTextInput::set_text(std::u16string const& text, size_t caret)
{
    SurroundingText surrounding = SurroundingText::of(text, caret);
    if (surrounding.text == m_surrounding.text && surrounding.caret == m_surrounding.caret)
        return;
    m_surrounding = std::move(surrounding);
    if (m_enabled)
        send_state(false);
}

// Everything the input method is told goes in one commit: enable (only when a field starts
// taking input: it resets the input method), what kind of text, where the field is and what it
// holds.
void WaylandTextInput::send_state(bool enable)
{
    zwp_text_input_v3* input = m_input.get();
    if (enable)
        zwp_text_input_v3_enable(input);
    // Every field takes free text: the picker's filter takes names as well as numbers.
    uint32_t hints = ZWP_TEXT_INPUT_V3_CONTENT_HINT_COMPLETION | ZWP_TEXT_INPUT_V3_CONTENT_HINT_SPELLCHECK
        | ZWP_TEXT_INPUT_V3_CONTENT_HINT_AUTO_CAPITALIZATION;
    if (m_multi_line)
        hints |= ZWP_TEXT_INPUT_V3_CONTENT_HINT_MULTILINE;
    zwp_text_input_v3_set_content_type(input, hints, ZWP_TEXT_INPUT_V3_CONTENT_PURPOSE_NORMAL);
    zwp_text_input_v3_set_surrounding_text(input, m_surrounding.text.c_str(), m_surrounding.caret, m_surrounding.caret);
    zwp_text_input_v3_set_text_change_cause(input, ZWP_TEXT_INPUT_V3_CHANGE_CAUSE_OTHER);
    zwp_text_input_v3_set_cursor_rectangle(input, m_rect[0], m_rect[1], m_rect[2], m_rect[3]);
    zwp_text_input_v3_commit(input);
    m_enabled = true;
}

void WaylandTextInput::stop()
{
    m_wanted = false;
    if (!m_enabled)
        return;
    m_enabled = false;
    zwp_text_input_v3_disable(m_input.get());
    zwp_text_input_v3_commit(m_input.get());
    if (!m_shown_preedit.empty()) {
        m_shown_preedit.clear();
        m_connection.push(Event { EventKind::Composing });
    }
}

void WaylandTextInput::enter(void* data, zwp_text_input_v3*, wl_surface*)
{
    auto& self = *static_cast<WaylandTextInput*>(data);
    self.m_entered = true;
    if (self.m_wanted)
        self.send_state(true);
}

void WaylandTextInput::leave(void* data, zwp_text_input_v3*, wl_surface*)
{
    auto& self = *static_cast<WaylandTextInput*>(data);
    self.m_entered = false;
    bool wanted = self.m_wanted;
    self.stop();
    // The field still wants input when the window has the keyboard again.
    self.m_wanted = wanted;
}

void WaylandTextInput::preedit_string(void* data, zwp_text_input_v3*, char const* text, int32_t, int32_t)
{
    static_cast<WaylandTextInput*>(data)->m_pending.preedit = text ? text : "";
}

void WaylandTextInput::commit_string(void* data, zwp_text_input_v3*, char const* text)
{
    static_cast<WaylandTextInput*>(data)->m_pending.commit = text ? text : "";
}

void WaylandTextInput::delete_surrounding_text(void* data, zwp_text_input_v3*, uint32_t before, uint32_t after)
{
    static_cast<WaylandTextInput*>(data)->m_pending.delete_bytes = std::pair { before, after };
}

void WaylandTextInput::done(void* data, zwp_text_input_v3*, uint32_t)
{
    auto& self = *static_cast<WaylandTextInput*>(data);
    InputMethodChange change = std::move(self.m_pending);
    self.m_pending = {};
    if (self.m_enabled)
        self.apply(change);
}

void WaylandTextInput::apply(InputMethodChange const& change)
{
    if (change.delete_bytes) {
        auto [before, after] = m_surrounding.units_around(change.delete_bytes->first, change.delete_bytes->second);
        Event event { EventKind::DeleteAround };
        event.x = before;
        event.y = after;
        m_connection.push(event);
    }
    if (change.commit && !change.commit->empty()) {
        Event event { EventKind::Text };
        event.text = to_utf16(*change.commit);
        m_connection.push(event);
    }
    if (change.preedit != m_shown_preedit) {
        m_shown_preedit = change.preedit;
        Event event { EventKind::Composing };
        event.text = to_utf16(change.preedit);
        m_connection.push(event);
    }
}

}
