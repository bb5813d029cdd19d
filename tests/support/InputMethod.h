#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace velloq::test {

// A phone keyboard's input method, as the tests play it: it connects to a compositor's input
// method protocol (zwp_input_method_v2), hears which field is active and what it holds, and
// types into it by committing and composing text, as squeekboard and maliit do.
class InputMethod {
public:
    // Null when the compositor offers no input method protocol or no seat.
    static std::unique_ptr<InputMethod> connect(std::filesystem::path const& runtime, std::string const& display);
    ~InputMethod();
    InputMethod(InputMethod const&) = delete;
    InputMethod& operator=(InputMethod const&) = delete;

    // Reads what the compositor sent, waiting up to `timeout_ms` for something to arrive.
    void read(int timeout_ms = 50);
    // After the last `done`: whether a field is active, and its state.
    bool active() const;
    std::string const& surrounding_text() const;
    uint32_t cursor() const;
    uint32_t purpose() const;
    uint32_t hint() const;

    // Types into the active field; each is one commit of the input method.
    void commit_string(std::string const& text);
    void preedit(std::string const& text);
    void delete_around(uint32_t before_bytes, uint32_t after_bytes);

private:
    struct State;
    explicit InputMethod(std::unique_ptr<State>);
    std::unique_ptr<State> m_state;
};

}
