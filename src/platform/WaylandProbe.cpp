#include "platform/WaylandProbe.h"

#include "platform/Environment.h"

#include <SDL.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace velloq::platform {

namespace {

struct DisplayDeleter {
    void operator()(wl_display* display) const { wl_display_disconnect(display); }
};
struct RegistryDeleter {
    void operator()(wl_registry* registry) const { wl_registry_destroy(registry); }
};
struct OutputDeleter {
    void operator()(wl_output* output) const { wl_output_destroy(output); }
};

// One output's current mode and transform, as its events tell them.
struct OutputShape {
    int32_t width { 0 };
    int32_t height { 0 };
    int32_t transform { WL_OUTPUT_TRANSFORM_NORMAL };
    bool portrait() const
    {
        // A quarter turn (plain or flipped) swaps the sides the user sees.
        bool turned = transform == WL_OUTPUT_TRANSFORM_90 || transform == WL_OUTPUT_TRANSFORM_270 || transform == WL_OUTPUT_TRANSFORM_FLIPPED_90
            || transform == WL_OUTPUT_TRANSFORM_FLIPPED_270;
        return turned ? width > height : height > width;
    }
};

struct Registry {
    WaylandOffer offer;
    std::vector<std::unique_ptr<wl_output, OutputDeleter>> outputs;
    // Stable places: the outputs' listeners hold them.
    std::vector<std::unique_ptr<OutputShape>> shapes;
};

void output_geometry(void* data, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, char const*, char const*, int32_t transform)
{
    static_cast<OutputShape*>(data)->transform = transform;
}

void output_mode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t)
{
    if (!(flags & WL_OUTPUT_MODE_CURRENT))
        return;
    auto* shape = static_cast<OutputShape*>(data);
    shape->width = width;
    shape->height = height;
}

void output_done(void*, wl_output*)
{
}

void output_scale(void*, wl_output*, int32_t)
{
}

constexpr wl_output_listener output_listener { output_geometry, output_mode, output_done, output_scale };

void note_global(void* data, wl_registry* registry, uint32_t name, char const* interface, uint32_t)
{
    auto& found = *static_cast<Registry*>(data);
    if (std::strcmp(interface, "wl_seat") == 0) {
        found.offer.seat = true;
    } else if (std::strcmp(interface, "wl_output") == 0) {
        auto* output = static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 1));
        if (!output)
            return;
        found.outputs.emplace_back(output);
        found.shapes.push_back(std::make_unique<OutputShape>());
        wl_output_add_listener(output, &output_listener, found.shapes.back().get());
    }
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
    Registry found;
    wl_registry_add_listener(registry.get(), &registry_listener, &found);
    // The first round trip gives the globals, the second the outputs' modes.
    if (wl_display_roundtrip(display.get()) < 0 || wl_display_roundtrip(display.get()) < 0)
        return std::nullopt;
    found.offer.portrait_output = std::any_of(found.shapes.begin(), found.shapes.end(), [](auto const& shape) { return shape->portrait(); });
    return found.offer;
}

WaylandDriverCheck check_wayland_driver()
{
    std::string asked = environment_value("SDL_VIDEODRIVER");
    if (headless_requested() || !wayland_may_be_chosen(asked))
        return {};
    auto offer = probe_wayland();
    if (!offer)
        return {};
    WaylandDriverCheck check;
    if (offer->seat) {
        if (asked.empty() && offer->portrait_output) {
            check.wayland_preferred = true;
            check.reason = "a phone's screen (a portrait output): Wayland is preferred, for its on-screen keyboard";
            SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "wayland", SDL_HINT_OVERRIDE);
        }
        return check;
    }
    check.reason = "the Wayland compositor " + environment_value("WAYLAND_DISPLAY") + " offers no seat (no keyboard, pointer or touch)";
    if (only_wayland_asked(asked)) {
        check.refused = true;
        return check;
    }
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "x11", SDL_HINT_OVERRIDE);
    return check;
}

void forget_driver_choice()
{
    SDL_ResetHint(SDL_HINT_VIDEODRIVER);
}

}
