#include "EdsSession.h"

#include "platform/Process.h"
#include "support/Wait.h"

#include <csignal>

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
    // What the bus starts by activation runs in the test's home too.
    m_bus = std::make_unique<ChildProcess>(quietly({ "/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + bus.string() }),
        m_environment);
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
    end(m_factory, SIGKILL);
    end(m_registry, SIGKILL);
}

bool EdsSession::start()
{
    auto owned = [&](char const* name) {
        return wait_until([&] {
            auto reply = platform::read_program_output({ "/usr/bin/env", m_environment[5], "/usr/bin/gdbus", "call", "--session", "-d", "org.freedesktop.DBus", "-o",
                                                           "/org/freedesktop/DBus", "-m", "org.freedesktop.DBus.NameHasOwner", name },
                30'000);
            return reply && reply->find("true") != std::string::npos;
        });
    };
    m_registry = std::make_unique<ChildProcess>(quietly({ registry_program }), m_environment);
    if (!owned(registry_name))
        return false;
    m_factory = std::make_unique<ChildProcess>(quietly({ factory_program, "-r" }), m_environment);
    // Without a network (a build machine), EDS's first client of a book waits out its connecting
    // time (30 s) before the book opens; later clients find it open. The session opens it once
    // here, so that the changes a test makes do not wait.
    return owned(factory_name) && change({ "count", "system" }).has_value();
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
