#include "shell/ScreenInfo.h"

namespace velloq {

int32_t smartphone_bar_height(int32_t screen_width)
{
    switch (screen_width) {
    case 176:
        return 20;
    case 240:
    case 320:
    case 400:
        return 27;
    case 352:
        return 40;
    case 480:
    case 640:
    case 800:
        return 54;
    default:
        return 0;
    }
}

Rect client_rect(ScreenInfo const& screen, ClientLayout const& layout)
{
    if (layout.full_screen_without_typing)
        return { 0, 0, screen.screen_width, screen.screen_height };
    int32_t top_bar;
    int32_t bottom_bar;
    if (layout.smartphone) {
        top_bar = bottom_bar = smartphone_bar_height(screen.screen_width);
    } else {
        top_bar = screen.dpi < 97 ? 26 : 52;
        bottom_bar = layout.input_panel_shown ? screen.screen_height - layout.input_panel_top : top_bar;
    }
    Rect client;
    client.left = 0;
    client.top = layout.show_taskbar ? top_bar : 0;
    client.width = screen.screen_width - client.left;
    client.height = screen.screen_height - bottom_bar - client.top;
    return client;
}

}
