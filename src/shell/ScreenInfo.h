#pragma once

#include <cstdint>

namespace velloq {

struct Rect {
    int32_t left { 0 };
    int32_t top { 0 };
    int32_t width { 0 };
    int32_t height { 0 };
    bool operator==(Rect const&) const = default;
};

// The screen and the part of it the program draws in; compared as a whole.
struct ScreenInfo {
    int32_t screen_width { 0 };
    int32_t screen_height { 0 };
    int32_t client_left { 0 };
    int32_t client_top { 0 };
    int32_t client_width { 0 };
    int32_t client_height { 0 };
    int32_t orientation { 4 }; // quarter turns; 4 before the first query
    int32_t dpi { 96 };
    bool operator==(ScreenInfo const&) const = default;
};

// What decides the client rectangle beside the screen itself.
struct ClientLayout {
    bool full_screen_without_typing { true };
    bool smartphone { false };
    bool show_taskbar { true };
    bool input_panel_shown { false };
    int32_t input_panel_top { 0 }; // the bottom of the visible desktop while the panel is up
};

// The height of the top bar and of the menu bar on a smartphone, by screen width.
int32_t smartphone_bar_height(int32_t screen_width);

// The client rectangle: the whole screen in full screen while nothing is typed; otherwise the
// screen less the system's top bar (when the task bar shows) and its bottom bar.
Rect client_rect(ScreenInfo const&, ClientLayout const&);

}
