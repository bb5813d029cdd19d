#include "DesktopIntegration.h"
#include "InstallFiles.h"

#include "platform/Folders.h"
#include "platform/Process.h"

#include <algorithm>
#include <fstream>
#include <ostream>
#include <sstream>
#include <vector>

namespace velloq::tools {

namespace {

namespace fs = std::filesystem;

constexpr char const* desktop_id = "Velloq.desktop";
constexpr char const* metainfo_name = "com.ketra.Velloq.metainfo.xml";
constexpr char const* link_types[] = { "x-scheme-handler/sms", "x-scheme-handler/smsto" };
constexpr int icon_sizes[] = { 48, 64, 128, 256 };
constexpr int xdg_mime_timeout_ms = 15'000;

fs::path icon_theme()
{
    return fs::path(platform::data_folder()) / "icons" / "hicolor";
}

fs::path icon_file(int size)
{
    return icon_theme() / (std::to_string(size) + "x" + std::to_string(size)) / "apps" / "velloq.png";
}

fs::path scalable_icon()
{
    return icon_theme() / "scalable" / "apps" / "velloq.svg";
}

fs::path metainfo_file()
{
    return fs::path(platform::data_folder()) / "metainfo" / metainfo_name;
}

fs::path mimeapps_file()
{
    return fs::path(platform::config_folder()) / "mimeapps.list";
}

std::string read_text(fs::path const& file)
{
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The user's list is replaced whole by a renamed copy: a crash or a full disk midway leaves the
// old list, never half of it. An unchanged list is not written at all; a list that is a link to
// the user's own file is changed where it lies, and stays a link.
void replace_text(fs::path const& file, std::string const& text, std::ostream& out)
{
    std::error_code error;
    fs::path real = is_link(file) ? fs::canonical(file, error) : file;
    if (error) {
        out << "velloq-install: " << file.string() << " not written: it is a link to nowhere\n";
        return;
    }
    if (fs::exists(real, error) && read_text(real) == text)
        return;
    put_file(real, text, out);
}

std::vector<std::string> lines_of(std::string const& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string joined(std::vector<std::string> const& lines)
{
    std::string text;
    for (auto const& line : lines)
        text += line + "\n";
    return text;
}

bool is_link_key(std::string const& line)
{
    for (char const* type : link_types) {
        if (line.starts_with(std::string(type) + "="))
            return true;
    }
    return false;
}

// A key's value without one desktop id in its list of ids; empty when nothing else is left.
std::string value_without(std::string const& value, std::string const& id)
{
    std::string kept;
    std::istringstream ids(value);
    for (std::string each; std::getline(ids, each, ';');) {
        if (!each.empty() && each != id)
            kept += each + ";";
    }
    return kept;
}

// The desktop's own tool sets the handler where it keeps it; without the tool the file is
// written directly, as the tool would write it.
void register_link_handler(std::ostream& out)
{
    std::vector<std::string> command { "xdg-mime", "default", desktop_id };
    command.insert(command.end(), std::begin(link_types), std::end(link_types));
    if (platform::read_program_output(command, xdg_mime_timeout_ms)) {
        out << "sms: and smsto: links open Velloq (xdg-mime)\n";
        return;
    }
    replace_text(mimeapps_file(), with_link_handler(read_text(mimeapps_file()), desktop_id), out);
    out << "sms: and smsto: links open Velloq (" << mimeapps_file().string() << ")\n";
}

}

std::string with_link_handler(std::string const& mimeapps, std::string const& id)
{
    // Ours replaces an earlier default of these two links, and only of these.
    std::vector<std::string> lines;
    bool in_defaults = false;
    for (std::string const& line : lines_of(mimeapps)) {
        if (line.starts_with("["))
            in_defaults = line == "[Default Applications]";
        if (!(in_defaults && is_link_key(line)))
            lines.push_back(line);
    }
    auto section = std::find(lines.begin(), lines.end(), std::string("[Default Applications]"));
    if (section == lines.end()) {
        if (!lines.empty() && !lines.back().empty())
            lines.emplace_back();
        lines.emplace_back("[Default Applications]");
        section = lines.end() - 1;
    }
    std::vector<std::string> ours;
    for (char const* type : link_types)
        ours.push_back(std::string(type) + "=" + id + ";");
    lines.insert(section + 1, ours.begin(), ours.end());
    return joined(lines);
}

std::string without_link_handler(std::string const& mimeapps, std::string const& id)
{
    std::vector<std::string> lines;
    for (std::string const& line : lines_of(mimeapps)) {
        if (!is_link_key(line)) {
            lines.push_back(line);
            continue;
        }
        size_t equals = line.find('=');
        std::string kept = value_without(line.substr(equals + 1), id);
        if (!kept.empty())
            lines.push_back(line.substr(0, equals + 1) + kept);
    }
    return joined(lines);
}

void install_desktop_integration(fs::path const& program_folder, std::ostream& out)
{
    fs::path source = program_folder / "desktop";
    for (int size : icon_sizes)
        put_copy(source / ("velloq-" + std::to_string(size) + ".png"), icon_file(size), out);
    put_copy(source / "velloq.svg", scalable_icon(), out);
    put_copy(source / metainfo_name, metainfo_file(), out);
    register_link_handler(out);
}

void remove_desktop_integration(std::ostream& out)
{
    std::error_code error;
    for (int size : icon_sizes)
        take_file(icon_file(size));
    take_file(scalable_icon());
    take_file(metainfo_file());
    if (fs::exists(mimeapps_file(), error)) {
        replace_text(mimeapps_file(), without_link_handler(read_text(mimeapps_file()), desktop_id), out);
        out << "sms: and smsto: links no longer open Velloq\n";
    }
}

}
