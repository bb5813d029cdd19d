#pragma once

#include <SDL.h>

#include <memory>

namespace velloq::platform {

// Owners of SDL's handles, so every path releases them.
struct SdlWindowDeleter {
    void operator()(SDL_Window* window) const { SDL_DestroyWindow(window); }
};
struct SdlSurfaceDeleter {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
using SdlWindowHandle = std::unique_ptr<SDL_Window, SdlWindowDeleter>;
using SdlSurfaceHandle = std::unique_ptr<SDL_Surface, SdlSurfaceDeleter>;

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
