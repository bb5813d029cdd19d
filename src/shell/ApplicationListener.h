#pragma once

#include "shell/Input.h"

#include <string>

namespace velloq {

class Element;

// How the program controller hears of window-level events.
class ApplicationListener {
public:
    virtual ~ApplicationListener() = default;
    // A later start of the program passed this command line (empty if it had none).
    virtual void on_other_instance_started(std::u16string const& command_line) = 0;
    // True if the window may close.
    virtual bool on_close_requested() = 0;
    virtual void on_form_shown(Element*) { }
    virtual void on_form_hidden(Element*) { }
    virtual void on_resolution_changed() { }
    // A drawn frame reached the screen.
    virtual void on_frame_presented() { }
    virtual void on_help() { }
    virtual void on_deactivated() { }
    virtual void on_activated() { }
    // First look at every key; true when handled, and the key then goes no further.
    virtual bool on_key(KeyEvent const&) { return false; }
};

}
