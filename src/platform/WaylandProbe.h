#pragma once

#include <optional>
#include <string>

namespace velloq::platform {

// What a Wayland compositor offers, read from its registry and its outputs on a connection of
// its own (closed again at once).
struct WaylandOffer {
    // A wl_seat: the keyboard, pointer and touch come through one. Headless compositors have none.
    bool seat { false };
    // An output taller than wide as the user sees it (its current mode, turned by its transform):
    // a phone's screen.
    bool portrait_output { false };
};

// The compositor `WAYLAND_DISPLAY` names; nullopt when there is none or it cannot be reached.
std::optional<WaylandOffer> probe_wayland();

// What was decided about SDL's video driver before SDL starts.
struct WaylandDriverCheck {
    // SDL's video must not start: Wayland alone was asked for, on a compositor it would crash on.
    bool refused { false };
    // Wayland was chosen over X for a phone's screen; X is the fallback if it fails.
    bool wayland_preferred { false };
    // Why the Wayland driver was left out or chosen (empty when nothing was decided).
    std::string reason;
};

// Chooses how SDL reaches the display, where nothing was asked for by SDL_VIDEODRIVER:
// - SDL's Wayland driver (2.26) crashes on a compositor without a seat: there it is left out (an
//   X server, if there is one, is used instead); when Wayland alone was asked for, SDL's video is
//   refused.
// - On a phone's screen (a portrait output) Wayland is preferred: SDL's own order prefers X
//   (XWayland), where a phone shell raises no on-screen keyboard.
WaylandDriverCheck check_wayland_driver();

// Makes SDL choose its driver by its own order again (after a preferred Wayland failed).
void forget_driver_choice();

}
