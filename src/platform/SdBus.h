#pragma once

#include <systemd/sd-bus.h>

#include <memory>
#include <string>

namespace velloq::platform {

// sd-bus's handles, each let go of whatever path leaves its scope.
struct BusCloser {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusCloser>;

// A reply of a call, let go of whatever path leaves the scope.
struct BusMessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using BusMessage = std::unique_ptr<sd_bus_message, BusMessageUnref>;

// The error of a call, freed whatever path leaves the scope.
class BusError {
public:
    BusError() = default;
    BusError(BusError const&) = delete;
    BusError& operator=(BusError const&) = delete;
    ~BusError() { sd_bus_error_free(&m_error); }
    sd_bus_error* get() { return &m_error; }
    char const* message() const { return m_error.message; }

private:
    sd_bus_error m_error = SD_BUS_ERROR_NULL;
};

// Opens the user's session bus (its connection closed when the handle goes); null without one.
Bus open_session_bus();
// Whether a program owns `name` on the session bus now (a service runs); false without a bus.
bool session_name_has_owner(std::string const& name);

}
