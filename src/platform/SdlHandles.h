#pragma once

#include <SDL.h>

#include <memory>

namespace velloq::platform {

// Owners of SDL's handles, so every path releases them.
struct SdlWindowDeleter {
    void operator()(SDL_Window* window) const { SDL_DestroyWindow(window); }
};
struct SdlRendererDeleter {
    void operator()(SDL_Renderer* renderer) const { SDL_DestroyRenderer(renderer); }
};
struct SdlTextureDeleter {
    void operator()(SDL_Texture* texture) const { SDL_DestroyTexture(texture); }
};
using SdlWindowHandle = std::unique_ptr<SDL_Window, SdlWindowDeleter>;
using SdlRendererHandle = std::unique_ptr<SDL_Renderer, SdlRendererDeleter>;
using SdlTextureHandle = std::unique_ptr<SDL_Texture, SdlTextureDeleter>;

// Keeps SDL subsystems initialised for its lifetime; SDL counts the nested initialisations.
class SdlSubsystems {
public:
    explicit SdlSubsystems(Uint32 flags)
        : m_flags(flags)
        , m_ok(SDL_InitSubSystem(flags) == 0)
    {
    }
    ~SdlSubsystems()
    {
        if (m_ok)
            SDL_QuitSubSystem(m_flags);
    }
    SdlSubsystems(SdlSubsystems const&) = delete;
    SdlSubsystems& operator=(SdlSubsystems const&) = delete;

    bool ok() const { return m_ok; }

private:
    Uint32 m_flags;
    bool m_ok;
};

}
