#include "platform/WaylandProbe.h"

#include "platform/Environment.h"

#include <SDL.h>
#include <wayland-client.h>

#include <cstring>
#include <memory>

namespace velloq::platform {

namespace {

struct DisplayDeleter {
    void operator()(wl_display* display) const { wl_display_disconnect(display); }
};
struct RegistryDeleter {
    void operator()(wl_registry* registry) const { wl_registry_destroy(registry); }
};

void note_global(void* data, wl_registry*, uint32_t, char const* interface, uint32_t)
{
    auto& offer = *static_cast<WaylandOffer*>(data);
    if (std::strcmp(interface, "wl_seat") == 0)
        offer.seat = true;
}

void forget_global(void*, wl_registry*, uint32_t)
{
}

constexpr wl_registry_listener registry_listener { note_global, forget_global };

// Whether SDL may pick its Wayland driver: asked for by name, or tried after X11 in SDL's own
// order when nothing was asked for.
bool wayland_may_be_chosen(std::string const& asked)
{
    return asked.empty() || asked.find("wayland") != std::string::npos;
}

bool only_wayland_asked(std::string const& asked)
{
    return !asked.empty() && asked.find("x11") == std::string::npos && asked.find("wayland") != std::string::npos;
}

}

std::optional<WaylandOffer> probe_wayland()
{
    if (environment_value("WAYLAND_DISPLAY").empty())
        return std::nullopt;
    std::unique_ptr<wl_display, DisplayDeleter> display(wl_display_connect(nullptr));
    if (!display)
        return std::nullopt;
    std::unique_ptr<wl_registry, RegistryDeleter> registry(wl_display_get_registry(display.get()));
    if (!registry)
        return std::nullopt;
    WaylandOffer offer;
    wl_registry_add_listener(registry.get(), &registry_listener, &offer);
    if (wl_display_roundtrip(display.get()) < 0)
        return std::nullopt;
    return offer;
}

WaylandDriverCheck check_wayland_driver()
{
    std::string asked = environment_value("SDL_VIDEODRIVER");
    if (headless_requested() || !wayland_may_be_chosen(asked))
        return {};
    auto offer = probe_wayland();
    if (!offer || offer->seat)
        return {};
    WaylandDriverCheck check;
    check.reason = "the Wayland compositor " + environment_value("WAYLAND_DISPLAY") + " offers no seat (no keyboard, pointer or touch)";
    if (only_wayland_asked(asked)) {
        check.refused = true;
        return check;
    }
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "x11", SDL_HINT_OVERRIDE);
    return check;
}

}
