#include "ModemServiceUnit.h"

#include "platform/Folders.h"
#include "platform/Process.h"

#include <cstdlib>
#include <fstream>
#include <ostream>

namespace velloq::tools {

namespace {

namespace fs = std::filesystem;

constexpr char const* unit_name = "velloq-modem.service";
constexpr int systemctl_timeout_ms = 15'000;

// Quoted for a unit's command line and Environment=: double quotes around, backslash and quote
// escaped, and systemd's specifier "%" and variable "$" doubled.
std::string unit_quoted(std::string const& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        if (c == '%' || c == '$')
            quoted += c;
        quoted += c;
    }
    return quoted + "\"";
}

fs::path unit_path()
{
    return fs::path(platform::systemd_user_folder()) / unit_name;
}

bool systemctl(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), { "systemctl", "--user" });
    return platform::read_program_output(arguments, systemctl_timeout_ms).has_value();
}

}

std::string modem_service_unit(std::string const& folder, std::string const& device)
{
    std::string unit = "[Unit]\n"
                       "Description=Velloq modem service: text messages through ModemManager\n"
                       "Documentation=file://"
        + folder
        + "/help/english.html\n"
          "\n"
          "[Service]\n"
          "Type=simple\n"
          "ExecStart="
        + unit_quoted(folder + "/velloq-modem") + "\n";
    if (!device.empty())
        unit += "Environment=" + unit_quoted("VELLOQ_DEVICE=" + device) + "\n";
    return unit
        + "Restart=on-failure\n"
          "RestartSec=5\n"
          "\n"
          "[Install]\n"
          "WantedBy=default.target\n";
}

bool install_modem_service(fs::path const& folder, std::ostream& out, std::ostream& err)
{
    std::error_code error;
    fs::create_directories(unit_path().parent_path(), error);
    char const* device = std::getenv("VELLOQ_DEVICE");
    std::ofstream unit(unit_path(), std::ios::trunc);
    unit << modem_service_unit(folder.string(), device ? device : "");
    unit.flush();
    if (error || !unit) {
        err << "velloq-install: the service unit cannot be written to " << unit_path().string() << "\n";
        return false;
    }
    if (systemctl({ "daemon-reload" }) && systemctl({ "enable", "--now", unit_name }))
        out << "started " << unit_name << "\n";
    else
        out << "wrote " << unit_path().string() << "; the user's systemd could not be reached: start the service with "
            << "\"systemctl --user enable --now " << unit_name << "\" or run " << (folder / "velloq-modem").string() << "\n";
    return true;
}

void remove_modem_service(std::ostream& out)
{
    std::error_code error;
    if (!fs::exists(unit_path(), error))
        return;
    systemctl({ "disable", "--now", unit_name });
    fs::remove(unit_path(), error);
    systemctl({ "daemon-reload" });
    out << "removed " << unit_name << "\n";
}

}
