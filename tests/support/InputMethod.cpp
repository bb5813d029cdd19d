#include "support/InputMethod.h"

#include <input-method-unstable-v2-client-protocol.h>
#include <wayland-client.h>

#include <poll.h>

#include <cstdlib>
#include <cstring>

namespace velloq::test {

namespace {

// What the compositor said of the active field, applied on `done`.
struct FieldState {
    bool active { false };
    std::string text;
    uint32_t cursor { 0 };
    uint32_t hint { 0 };
    uint32_t purpose { 0 };
};

}

struct InputMethod::State {
    wl_display* display { nullptr };
    wl_seat* seat { nullptr };
    zwp_input_method_manager_v2* manager { nullptr };
    zwp_input_method_v2* method { nullptr };
    FieldState pending;
    FieldState current;
    uint32_t done_count { 0 };

    ~State()
    {
        if (method)
            zwp_input_method_v2_destroy(method);
        if (manager)
            zwp_input_method_manager_v2_destroy(manager);
        if (seat)
            wl_seat_destroy(seat);
        if (display)
            wl_display_disconnect(display);
    }

    static void global(void* data, wl_registry* registry, uint32_t name, char const* interface, uint32_t)
    {
        auto& self = *static_cast<State*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self.seat)
            self.seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        else if (std::strcmp(interface, zwp_input_method_manager_v2_interface.name) == 0)
            self.manager = static_cast<zwp_input_method_manager_v2*>(wl_registry_bind(registry, name, &zwp_input_method_manager_v2_interface, 1));
    }
    static void global_remove(void*, wl_registry*, uint32_t) { }

    static void activate(void* data, zwp_input_method_v2*)
    {
        auto& pending = static_cast<State*>(data)->pending;
        pending = FieldState {};
        pending.active = true;
    }
    static void deactivate(void* data, zwp_input_method_v2*) { static_cast<State*>(data)->pending.active = false; }
    static void surrounding_text(void* data, zwp_input_method_v2*, char const* text, uint32_t cursor, uint32_t)
    {
        auto& pending = static_cast<State*>(data)->pending;
        pending.text = text ? text : "";
        pending.cursor = cursor;
    }
    static void text_change_cause(void*, zwp_input_method_v2*, uint32_t) { }
    static void content_type(void* data, zwp_input_method_v2*, uint32_t hint, uint32_t purpose)
    {
        auto& pending = static_cast<State*>(data)->pending;
        pending.hint = hint;
        pending.purpose = purpose;
    }
    static void done(void* data, zwp_input_method_v2*)
    {
        auto& self = *static_cast<State*>(data);
        self.current = self.pending;
        ++self.done_count;
    }
    static void unavailable(void*, zwp_input_method_v2*) { }
};

std::unique_ptr<InputMethod> InputMethod::connect(std::filesystem::path const& runtime, std::string const& display)
{
    auto state = std::make_unique<State>();
    std::string socket = (runtime / display).string();
    state->display = wl_display_connect(socket.c_str());
    if (!state->display)
        return nullptr;
    static constexpr wl_registry_listener registry_listener { &State::global, &State::global_remove };
    wl_registry* registry = wl_display_get_registry(state->display);
    wl_registry_add_listener(registry, &registry_listener, state.get());
    wl_display_roundtrip(state->display);
    wl_registry_destroy(registry);
    if (!state->seat || !state->manager)
        return nullptr;
    static constexpr zwp_input_method_v2_listener method_listener { &State::activate, &State::deactivate, &State::surrounding_text,
        &State::text_change_cause, &State::content_type, &State::done, &State::unavailable };
    state->method = zwp_input_method_manager_v2_get_input_method(state->manager, state->seat);
    zwp_input_method_v2_add_listener(state->method, &method_listener, state.get());
    if (wl_display_roundtrip(state->display) < 0)
        return nullptr;
    return std::unique_ptr<InputMethod>(new InputMethod(std::move(state)));
}

InputMethod::InputMethod(std::unique_ptr<State> state)
    : m_state(std::move(state))
{
}

InputMethod::~InputMethod() = default;

void InputMethod::read(int timeout_ms)
{
    wl_display* display = m_state->display;
    while (wl_display_prepare_read(display) != 0)
        wl_display_dispatch_pending(display);
    wl_display_flush(display);
    pollfd ready { wl_display_get_fd(display), POLLIN, 0 };
    if (poll(&ready, 1, timeout_ms) > 0)
        wl_display_read_events(display);
    else
        wl_display_cancel_read(display);
    wl_display_dispatch_pending(display);
}

bool InputMethod::active() const
{
    return m_state->current.active;
}

std::string const& InputMethod::surrounding_text() const
{
    return m_state->current.text;
}

uint32_t InputMethod::cursor() const
{
    return m_state->current.cursor;
}

uint32_t InputMethod::purpose() const
{
    return m_state->current.purpose;
}

uint32_t InputMethod::hint() const
{
    return m_state->current.hint;
}

void InputMethod::commit_string(std::string const& text)
{
    zwp_input_method_v2_commit_string(m_state->method, text.c_str());
    zwp_input_method_v2_commit(m_state->method, m_state->done_count);
    wl_display_flush(m_state->display);
}

void InputMethod::preedit(std::string const& text)
{
    zwp_input_method_v2_set_preedit_string(m_state->method, text.c_str(), static_cast<int32_t>(text.size()), static_cast<int32_t>(text.size()));
    zwp_input_method_v2_commit(m_state->method, m_state->done_count);
    wl_display_flush(m_state->display);
}

void InputMethod::delete_around(uint32_t before_bytes, uint32_t after_bytes)
{
    zwp_input_method_v2_delete_surrounding_text(m_state->method, before_bytes, after_bytes);
    zwp_input_method_v2_commit(m_state->method, m_state->done_count);
    wl_display_flush(m_state->display);
}

}
