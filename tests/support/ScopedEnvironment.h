#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace velloq::test {

// Sets one environment variable for a scope and gives back what was there before, so that a
// test leaves the process as it found it.
class ScopedEnvironment {
public:
    ScopedEnvironment(char const* name, char const* value)
        : m_name(name)
    {
        if (char const* previous = std::getenv(name))
            m_previous = previous;
        ::setenv(name, value, 1);
    }
    ~ScopedEnvironment()
    {
        if (m_previous)
            ::setenv(m_name.c_str(), m_previous->c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }
    ScopedEnvironment(ScopedEnvironment const&) = delete;
    ScopedEnvironment& operator=(ScopedEnvironment const&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

// A display in memory only: the test draws real frames without a screen.
struct MemoryDisplay {
    ScopedEnvironment driver { "SDL_VIDEODRIVER", "dummy" };
};

}
