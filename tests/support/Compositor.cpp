#include "support/Compositor.h"

#include "support/Wait.h"

#include <csignal>
#include <cstdlib>
#include <system_error>

namespace velloq::test {

namespace {

constexpr char const* phoc = "/usr/bin/phoc";
// The first socket of a runtime folder of its own.
constexpr char const* socket_name = "wayland-0";

std::filesystem::path new_runtime_folder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "velloq-wayland-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return {};
    return pattern;
}

}

bool phoc_installed()
{
    std::error_code error;
    return std::filesystem::exists(phoc, error);
}

Compositor::Compositor(std::filesystem::path runtime, std::vector<std::string> const& environment)
    : m_runtime(std::move(runtime))
    , m_process({ phoc }, environment)
{
}

std::unique_ptr<Compositor> Compositor::start_headless()
{
    if (!phoc_installed())
        return nullptr;
    auto runtime = new_runtime_folder();
    if (runtime.empty())
        return nullptr;
    std::vector<std::string> environment { "XDG_RUNTIME_DIR=" + runtime.string(), "WAYLAND_DISPLAY=",
        "WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "DISPLAY=" };
    std::unique_ptr<Compositor> compositor(new Compositor(runtime, environment));
    // phoc serves on the socket WAYLAND_DISPLAY names once it exists.
    if (!wait_for_file(runtime / socket_name))
        return nullptr;
    return compositor;
}

Compositor::~Compositor()
{
    m_process.signal(SIGTERM);
    m_process.wait();
    std::error_code error;
    std::filesystem::remove_all(m_runtime, error);
}

std::vector<std::string> Compositor::client_environment() const
{
    return { "XDG_RUNTIME_DIR=" + m_runtime.string(), "WAYLAND_DISPLAY=" + std::string(socket_name) };
}

}
