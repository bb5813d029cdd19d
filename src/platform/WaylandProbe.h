#pragma once

#include <optional>
#include <string>

namespace velloq::platform {

// What a Wayland compositor offers, read from its registry in one round trip on a connection of
// its own (closed again at once).
struct WaylandOffer {
    // A wl_seat: the keyboard, pointer and touch come through one. Headless compositors have none.
    bool seat { false };
};

// The compositor `WAYLAND_DISPLAY` names; nullopt when there is none or it cannot be reached.
std::optional<WaylandOffer> probe_wayland();

// What was decided about SDL's Wayland driver before SDL starts.
struct WaylandDriverCheck {
    // SDL's video must not start: Wayland alone was asked for, on a compositor it would crash on.
    bool refused { false };
    // Why the Wayland driver was left out (empty when it was not).
    std::string reason;
};

// SDL's Wayland driver (2.26) crashes on a compositor without a seat. Where SDL could choose it
// there, it is left out (an X server, if there is one, is used instead); when Wayland alone was
// asked for, SDL's video is refused.
WaylandDriverCheck check_wayland_driver();

}
