#include "platform/SdBus.h"

namespace velloq::platform {

namespace {

// A bus that does not answer in this time is taken as without the service.
constexpr uint64_t question_timeout_us = 1'000'000;

}

Bus open_session_bus()
{
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0)
        return nullptr;
    sd_bus_set_method_call_timeout(bus, question_timeout_us);
    return Bus(bus);
}

bool session_name_has_owner(std::string const& name)
{
    Bus bus = open_session_bus();
    if (!bus)
        return false;
    BusError error;
    sd_bus_message* reply = nullptr;
    if (sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner", error.get(), &reply,
            "s", name.c_str()) < 0)
        return false;
    BusMessage answer(reply);
    int owned = 0;
    return sd_bus_message_read(answer.get(), "b", &owned) >= 0 && owned != 0;
}

}
