#include "support/Compositor.h"

#include "platform/Process.h"
#include "support/Wait.h"

#include <wayland-client.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

namespace velloq::test {

namespace {

constexpr char const* phoc = "/usr/bin/phoc";
constexpr char const* x_server = "/usr/bin/Xvfb";
constexpr char const* keyboard_program = "/usr/bin/squeekboard";
// The first socket of a runtime folder of its own.
constexpr char const* socket_name = "wayland-0";
// X display numbers tried for the nested compositor's own X server.
constexpr int first_x_display = 160;
constexpr int last_x_display = 199;

std::filesystem::path new_runtime_folder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "velloq-wayland-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return {};
    return pattern;
}

bool path_exists(std::filesystem::path const& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

// Whether a client is served on the socket and, where a seat is wanted, is offered one. The socket
// file exists before phoc listens on it, so a client started at once may be refused.
bool serves(std::filesystem::path const& socket, bool with_seat)
{
    wl_display* display = wl_display_connect(socket.c_str());
    if (!display)
        return false;
    bool seat = false;
    static constexpr wl_registry_listener listener {
        [](void* data, wl_registry*, uint32_t, char const* interface, uint32_t) {
            if (std::strcmp(interface, wl_seat_interface.name) == 0)
                *static_cast<bool*>(data) = true;
        },
        [](void*, wl_registry*, uint32_t) { },
    };
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &seat);
    bool answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return answered && (seat || !with_seat);
}

// Whether an X server serves clients on the display: its socket file may be there before.
bool x_serves(std::string const& display)
{
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    bool served = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return served;
}

}

bool phoc_installed()
{
    return path_exists(phoc);
}

bool keyboard_installed()
{
    return path_exists(keyboard_program);
}

Compositor::Compositor(std::filesystem::path runtime)
    : m_runtime(std::move(runtime))
{
}

Compositor::~Compositor()
{
    for (auto* process : { m_keyboard.get(), m_bus.get(), m_phoc.get(), m_x_server.get() }) {
        if (process) {
            process->signal(SIGTERM);
            process->wait();
        }
    }
    std::error_code error;
    std::filesystem::remove_all(m_runtime, error);
}

bool Compositor::start_phoc(std::vector<std::string> environment, bool with_seat, std::vector<std::string> const& options)
{
    environment.insert(environment.end(), { "XDG_RUNTIME_DIR=" + m_runtime.string(), "WAYLAND_DISPLAY=", "WLR_RENDERER=pixman" });
    // Its messages go to a file in its runtime folder, not into the test's output.
    std::vector<std::string> command { "/bin/sh", "-c", "exec \"$0\" \"$@\" >\"$PHOC_LOG\" 2>&1", phoc };
    command.insert(command.end(), options.begin(), options.end());
    environment.push_back("PHOC_LOG=" + (m_runtime / "phoc.log").string());
    m_phoc = std::make_unique<ChildProcess>(command, environment);
    // It makes its socket before it starts its backend, and ends when that fails.
    auto socket = m_runtime / socket_name;
    bool served = false;
    wait_until([&] {
        served = path_exists(socket) && serves(socket, with_seat);
        return served || m_phoc->wait(std::chrono::milliseconds(0)).has_value();
    });
    return served;
}

bool Compositor::start_keyboard()
{
    if (m_x_display.empty() || !path_exists(keyboard_program))
        return false;
    auto bus_socket = m_runtime / "bus";
    std::string bus_address = "unix:path=" + bus_socket.string();
    m_bus = std::make_unique<ChildProcess>(std::vector<std::string> { "/bin/sh", "-c", "exec /usr/bin/dbus-daemon --session --nofork --nopidfile --address=\"$0\" 2>/dev/null", bus_address });
    if (!wait_for_file(bus_socket))
        return false;
    // Phosh's setting that has the keyboard come up whenever a field takes input.
    auto settings = m_runtime / "config" / "glib-2.0" / "settings";
    std::filesystem::create_directories(settings);
    std::ofstream(settings / "keyfile") << "[org/gnome/desktop/a11y/applications]\nscreen-keyboard-enabled=true\n";
    std::vector<std::string> environment { "XDG_RUNTIME_DIR=" + m_runtime.string(), "WAYLAND_DISPLAY=" + std::string(socket_name), "DISPLAY=",
        "DBUS_SESSION_BUS_ADDRESS=" + bus_address, "GSETTINGS_BACKEND=keyfile", "XDG_CONFIG_HOME=" + (m_runtime / "config").string(),
        "KEYBOARD_LOG=" + (m_runtime / "keyboard.log").string(), "NO_AT_BRIDGE=1" };
    m_keyboard = std::make_unique<ChildProcess>(std::vector<std::string> { "/bin/sh", "-c", "exec \"$0\" >\"$KEYBOARD_LOG\" 2>&1", keyboard_program }, environment);
    // It is up once it has its name on the bus.
    return wait_until([&] {
        return platform::read_program_output({ "/usr/bin/gdbus", "call", "--address", bus_address, "-d", "org.freedesktop.DBus", "-o", "/org/freedesktop/DBus", "-m",
                   "org.freedesktop.DBus.NameHasOwner", "sm.puri.OSK0" },
                   30'000)
            .value_or("")
            .find("true") != std::string::npos;
    });
}

// An X display number no other server holds: its lock file is made by the server that wins it.
namespace {

// Whether an X display's lock names a process that still runs. A server that was killed leaves
// its lock behind, and the next server on that number takes the stale lock over by itself.
bool held_by_running_server(std::string const& lock)
{
    std::ifstream file(lock);
    long pid = 0;
    if (!(file >> pid) || pid <= 0)
        return true;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}

std::unique_ptr<ChildProcess> start_x_server(std::string& display)
{
    if (!path_exists(x_server))
        return nullptr;
    for (int number = first_x_display; number <= last_x_display; ++number) {
        std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        if (path_exists(lock) && held_by_running_server(lock))
            continue;
        std::string name = ":" + std::to_string(number);
        auto server = std::make_unique<ChildProcess>(std::vector<std::string> { x_server, name, "-screen", "0", "1600x1600x24", "-nolisten", "tcp" });
        // A server that lost the race for the number ends at once.
        std::optional<int> ended;
        bool up = wait_until([&] {
            if (!ended)
                ended = server->wait(std::chrono::milliseconds(0));
            return ended || x_serves(name);
        });
        if (up && !ended) {
            display = name;
            return server;
        }
    }
    return nullptr;
}

bool Compositor::start_x_server()
{
    m_x_server = test::start_x_server(m_x_display);
    return m_x_server != nullptr;
}

std::unique_ptr<Compositor> Compositor::start_headless()
{
    auto runtime = new_runtime_folder();
    if (!phoc_installed() || runtime.empty())
        return nullptr;
    std::unique_ptr<Compositor> compositor(new Compositor(runtime));
    if (!compositor->start_phoc({ "WLR_BACKENDS=headless", "DISPLAY=" }, false))
        return nullptr;
    return compositor;
}

std::unique_ptr<Compositor> Compositor::start_nested(std::string const& output_mode, int scale)
{
    auto runtime = new_runtime_folder();
    if (!phoc_installed() || !path_exists(x_server) || runtime.empty())
        return nullptr;
    std::vector<std::string> options;
    if (!output_mode.empty()) {
        auto config = runtime / "phoc.ini";
        std::ofstream(config) << "[output:X11-1]\nmode = " << output_mode << "\nscale = " << scale << "\n";
        options = { "-C", config.string() };
    }
    std::unique_ptr<Compositor> compositor(new Compositor(runtime));
    if (!compositor->start_x_server() || !compositor->start_phoc({ "WLR_BACKENDS=x11", "DISPLAY=" + compositor->m_x_display }, true, options))
        return nullptr;
    return compositor;
}

std::string Compositor::display_name()
{
    return socket_name;
}

std::string Compositor::log() const
{
    std::ifstream file(m_runtime / "phoc.log");
    return "phoc's log:\n" + std::string(std::istreambuf_iterator<char>(file), {});
}

std::vector<std::string> Compositor::client_environment() const
{
    return { "XDG_RUNTIME_DIR=" + m_runtime.string(), "WAYLAND_DISPLAY=" + std::string(socket_name) };
}

std::optional<RgbPicture> Compositor::screenshot() const
{
    auto path = m_runtime / "screenshot.png";
    std::filesystem::remove(path);
    auto done = run_client({ "grim", path.string() });
    if (!done)
        return std::nullopt;
    return read_png(path.string());
}

std::optional<std::string> Compositor::run_client(std::vector<std::string> arguments) const
{
    arguments.insert(arguments.begin(), { "/usr/bin/env", "XDG_RUNTIME_DIR=" + m_runtime.string(), "WAYLAND_DISPLAY=" + std::string(socket_name) });
    return platform::read_program_output(arguments, 30'000);
}

bool Compositor::copy_text(std::string const& text) const
{
    return run_client({ "wl-copy", "--", text }).has_value();
}

std::optional<std::string> Compositor::pasted_text() const
{
    return run_client({ "wl-paste", "--no-newline" });
}

bool Compositor::turn_output(int quarter_turns) const
{
    static constexpr char const* transforms[] { "normal", "90", "180", "270" };
    return run_client({ "wlr-randr", "--output", "X11-1", "--transform", transforms[quarter_turns & 3] }).has_value();
}

bool Compositor::xdotool(std::vector<std::string> arguments) const
{
    if (m_x_display.empty())
        return false;
    arguments.insert(arguments.begin(), { "/usr/bin/env", "DISPLAY=" + m_x_display, "xdotool" });
    return platform::read_program_output(arguments, 30'000).has_value();
}

bool Compositor::click(int x, int y) const
{
    return xdotool({ "mousemove", std::to_string(x), std::to_string(y), "click", "1" });
}

bool Compositor::type(std::string const& text) const
{
    return xdotool({ "type", "--delay", "20", "--", text });
}

bool Compositor::key(std::string const& name) const
{
    return xdotool({ "key", "--", name });
}

std::optional<PictureBox> lit_box(RgbPicture const& picture)
{
    int left = picture.width, top = picture.height, right = -1, bottom = -1;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            size_t at = (static_cast<size_t>(y) * static_cast<size_t>(picture.width) + static_cast<size_t>(x)) * 3;
            if (picture.rgb[at] == 0 && picture.rgb[at + 1] == 0 && picture.rgb[at + 2] == 0)
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    if (right < 0)
        return std::nullopt;
    return PictureBox { left, top, right - left + 1, bottom - top + 1 };
}

}
