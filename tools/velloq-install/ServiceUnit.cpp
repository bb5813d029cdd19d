#include "ServiceUnit.h"
#include "InstallFiles.h"

#include "platform/Folders.h"
#include "platform/Process.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <ostream>

namespace velloq::tools {

namespace {

namespace fs = std::filesystem;

constexpr int systemctl_timeout_ms = 15'000;

// Quoted for a unit's setting: double quotes around, backslash and quote escaped, and systemd's
// specifier "%" doubled. An argument of a command line also expands "$", which is doubled there;
// the program's own name and Environment= take "$" as it is.
enum class UnitField { Program, Argument, Environment };
std::string unit_quoted(std::string const& text, UnitField field)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        if (c == '%' || (c == '$' && field == UnitField::Argument))
            quoted += c;
        quoted += c;
    }
    return quoted + "\"";
}

// systemd refuses a program name with a quote or a backslash in it; such a program is started
// through env(1), which takes the path as an argument.
std::string unit_command(std::string const& program)
{
    if (program.find_first_of("\"'\\") == std::string::npos)
        return unit_quoted(program, UnitField::Program);
    return "/usr/bin/env " + unit_quoted(program, UnitField::Argument);
}

// A file: URL of `path` for Documentation=: every byte but the unreserved ones and "/" escaped as
// the URL syntax asks, and then each "%" doubled, since the setting resolves specifiers.
std::string unit_file_url(std::string const& path)
{
    constexpr char const* hex = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            url += static_cast<char>(c);
        } else {
            url += "%%";
            url += hex[c >> 4];
            url += hex[c & 0x0F];
        }
    }
    return url;
}

fs::path unit_path(ServiceProgram const& service)
{
    return fs::path(platform::systemd_user_folder()) / service.unit;
}

bool systemctl(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), { "systemctl", "--user" });
    return platform::read_program_output(arguments, systemctl_timeout_ms).has_value();
}

}

ServiceProgram const modem_service { "velloq-modem", "velloq-modem.service", "Velloq modem service: text messages through ModemManager" };
ServiceProgram const contacts_service { "velloq-contacts", "velloq-contacts.service",
    "Velloq contacts: the address books of Evolution Data Server as the phone's contacts" };

std::string service_unit(ServiceProgram const& service, std::string const& folder, std::string const& device)
{
    std::string unit = "[Unit]\n"
                       "Description="
        + std::string(service.description)
        + "\n"
          "Documentation="
        + unit_file_url(folder + "/help/english.html")
        + "\n"
          // A service that keeps failing at once is left stopped, not started every few seconds.
          "StartLimitIntervalSec=120\n"
          "StartLimitBurst=5\n"
          "\n"
          "[Service]\n"
          "Type=simple\n"
          "ExecStart="
        + unit_command(folder + "/" + service.program) + "\n";
    if (!device.empty())
        unit += "Environment=" + unit_quoted("VELLOQ_DEVICE=" + device, UnitField::Environment) + "\n";
    // Exit 1 is a failure (the bus went away, no store yet): started again. Exit 3 says another
    // instance serves the device already: nothing to start again.
    return unit
        + "Restart=on-failure\n"
          "RestartSec=5\n"
          "RestartPreventExitStatus=3\n"
          "\n"
          "[Install]\n"
          "WantedBy=default.target\n";
}

bool install_service(ServiceProgram const& service, fs::path const& folder, std::ostream& out, std::ostream& err)
{
    char const* device = std::getenv("VELLOQ_DEVICE");
    // A unit setting ends at the line's end: such a path cannot be written into one.
    for (std::string const& path : { folder.string(), std::string(device ? device : "") }) {
        if (std::any_of(path.begin(), path.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; })) {
            err << "velloq-install: a systemd unit cannot name a path with a line break or control character; install elsewhere or use --no-service\n";
            return false;
        }
    }
    if (!put_file(unit_path(service), service_unit(service, folder.string(), device ? device : ""), err)) {
        err << "velloq-install: the service unit cannot be written to " << unit_path(service).string() << "\n";
        return false;
    }
    if (systemctl({ "daemon-reload" }) && systemctl({ "enable", "--now", service.unit }))
        out << "started " << service.unit << "\n";
    else
        out << "wrote " << unit_path(service).string() << "; the user's systemd could not be reached: start the service with "
            << "\"systemctl --user enable --now " << service.unit << "\" or run " << (folder / service.program).string() << "\n";
    return true;
}

void remove_service(ServiceProgram const& service, std::ostream& out)
{
    std::error_code error;
    if (!fs::exists(unit_path(service), error))
        return;
    systemctl({ "disable", "--now", service.unit });
    take_file(unit_path(service));
    systemctl({ "daemon-reload" });
    out << "removed " << service.unit << "\n";
}

}
