#include "platform/Clipboard.h"

#include "platform/Utf.h"

#include <SDL.h>

namespace velloq::platform {

namespace {

ClipboardBackend* g_backend = nullptr;

}

void use_clipboard(ClipboardBackend* backend)
{
    g_backend = backend;
}

std::u16string clipboard_text()
{
    if (g_backend)
        return g_backend->text();
    char* text = SDL_GetClipboardText();
    if (!text)
        return {};
    std::u16string wide = to_utf16(text);
    SDL_free(text);
    return wide;
}

bool set_clipboard_text(std::u16string const& text)
{
    if (g_backend)
        return g_backend->set_text(text);
    return SDL_SetClipboardText(to_utf8(text).c_str()) == 0;
}

}
