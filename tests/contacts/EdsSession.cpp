#include "EdsSession.h"

#include "platform/Process.h"
#include "support/Wait.h"

#include <csignal>
#include <fstream>

namespace velloq::test {

namespace {

constexpr char const* registry_program = "/usr/libexec/evolution-source-registry";
constexpr char const* factory_program = "/usr/libexec/evolution-addressbook-factory";
constexpr char const* registry_name = "org.gnome.evolution.dataserver.Sources5";
constexpr char const* factory_name = "org.gnome.evolution.dataserver.AddressBook10";

// Runs a program quietly: EDS and dbus-daemon say much that is not the test's.
std::vector<std::string> quietly(std::vector<std::string> command)
{
    command.insert(command.begin(), { "/bin/sh", "-c", "exec \"$@\" >/dev/null 2>&1", "quietly" });
    return command;
}

// A session bus that starts nothing by activation. A factory that a client's call started would
// race the one the session starts, and "-r" replaces it under a client that keeps talking to the
// replaced one, which never hears of the changes made through the other.
void write_bus_config(std::filesystem::path const& config, std::filesystem::path const& socket)
{
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
                          << " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                          << "<busconfig>\n  <type>session</type>\n  <listen>unix:path=" << socket.string() << "</listen>\n"
                          << "  <auth>EXTERNAL</auth>\n"
                          << "  <policy context=\"default\">\n    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                          << "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n";
}

void end(std::unique_ptr<ChildProcess>& process, int signal = SIGTERM)
{
    if (!process)
        return;
    process->signal(signal);
    process->wait();
    process.reset();
}

}

bool eds_installed()
{
    return std::filesystem::exists(registry_program) && std::filesystem::exists(factory_program);
}

EdsSession::EdsSession(std::filesystem::path folder)
    : m_folder(std::move(folder))
{
    auto home = m_folder / "home";
    for (char const* part : { "config", "data", "cache", "runtime" })
        std::filesystem::create_directories(home / part);
    std::filesystem::permissions(home / "runtime", std::filesystem::perms::owner_all);
    auto bus = m_folder / "session_bus";
    m_environment = { "HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / "config").string(), "XDG_DATA_HOME=" + (home / "data").string(),
        "XDG_CACHE_HOME=" + (home / "cache").string(), "XDG_RUNTIME_DIR=" + (home / "runtime").string(),
        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + bus.string(), "GSETTINGS_BACKEND=memory" };
    auto config = m_folder / "session_bus.conf";
    write_bus_config(config, bus);
    m_bus = std::make_unique<ChildProcess>(quietly({ "/usr/bin/dbus-daemon", "--config-file=" + config.string(), "--nofork", "--nopidfile" }), m_environment);
    if (wait_for_file(bus))
        start();
}

EdsSession::~EdsSession()
{
    stop();
    end(m_bus);
}

// As a crash ends them: EDS takes its time over SIGTERM.
void EdsSession::stop()
{
    stop_factory();
    end(m_registry, SIGKILL);
}

void EdsSession::stop_factory()
{
    end(m_factory, SIGKILL);
}

bool EdsSession::name_owned(char const* name) const
{
    return wait_until([&] {
        auto reply = platform::read_program_output({ "/usr/bin/env", m_environment[5], "/usr/bin/gdbus", "call", "--session", "-d", "org.freedesktop.DBus", "-o",
                                                       "/org/freedesktop/DBus", "-m", "org.freedesktop.DBus.NameHasOwner", name },
            30'000);
        return reply && reply->find("true") != std::string::npos;
    });
}

bool EdsSession::start()
{
    m_registry = std::make_unique<ChildProcess>(quietly({ registry_program }), m_environment);
    return name_owned(registry_name) && start_factory();
}

bool EdsSession::start_factory()
{
    m_factory = std::make_unique<ChildProcess>(quietly({ factory_program, "-r" }), m_environment);
    // Started when the personal book answers.
    return name_owned(factory_name) && change({ "count", "system" }).has_value();
}

std::optional<std::string> EdsSession::change(std::vector<std::string> const& arguments) const
{
    std::vector<std::string> command { "/usr/bin/env" };
    command.insert(command.end(), m_environment.begin(), m_environment.end());
    command.insert(command.end(), { "/usr/bin/python3", VELLOQ_FIXTURES_DIR "/contacts/eds_contacts.py" });
    command.insert(command.end(), arguments.begin(), arguments.end());
    return platform::read_program_output(command, 60'000);
}

}
