#include "Installer.h"
#include "DesktopIntegration.h"
#include "InstallFiles.h"
#include "ServiceUnit.h"

#include "messaging/ChatCache.h"

#include "platform/DynamicLibrary.h"
#include "platform/Folders.h"
#include "platform/Utf.h"
#include "shell/Paths.h"
#include "shell/Platform.h"
#include "shell/Registry.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>

namespace velloq::tools {

namespace {

namespace fs = std::filesystem;

constexpr char16_t const* apps_key = u"HKEY_LOCAL_MACHINE\\Software\\Apps\\Ketra Velloq";
constexpr char const* library_name = "libvelloq-setup.so";
// What the program folder holds of the product (not the build's tests and benchmarks).
constexpr char const* product_files[] = { "velloq", "velloq-reg", "velloq-sms", "velloq-chats", "velloq-modem", "velloq-contacts", "libvelloq-setup.so" };
constexpr char const* product_folders[] = { "skins", "help", "desktop" };
constexpr char const* manifest_name = "velloq-install.manifest";

using Hook = int (*)(void*, char16_t const*);

struct Hooks {
    std::unique_ptr<platform::DynamicLibrary> library;
    Hook install_init { nullptr };
    Hook install_exit { nullptr };
    Hook uninstall_init { nullptr };
    Hook uninstall_exit { nullptr };
};

bool load_hooks(fs::path const& folder, Hooks& hooks, std::ostream& err)
{
    std::string error;
    hooks.library = platform::DynamicLibrary::open((folder / library_name).string(), error);
    if (!hooks.library) {
        err << "velloq-install: the setup library cannot be loaded: " << error << "\n";
        return false;
    }
    std::pair<char const*, Hook*> const wanted[] = { { "Install_Init", &hooks.install_init }, { "Install_Exit", &hooks.install_exit },
        { "Uninstall_Init", &hooks.uninstall_init }, { "Uninstall_Exit", &hooks.uninstall_exit } };
    for (auto const& [name, hook] : wanted) {
        *hook = reinterpret_cast<Hook>(hooks.library->symbol(name));
        if (!*hook) {
            err << "velloq-install: the setup library has no " << name << "\n";
            return false;
        }
    }
    return true;
}

fs::path own_folder()
{
    return fs::path(platform::executable_path().path).parent_path();
}

// A path for a desktop entry's Exec key: as it stands when it holds none of the characters the
// key reserves (the simple desktops' openers split it at spaces and take quotes literally), else
// in double quotes with the four characters the quotes do not protect escaped; "%" is doubled
// either way.
std::string exec_quoted(std::string const& path)
{
    bool plain = path.find_first_of(" \t\n\"'\\><~|&;$*?#()`") == std::string::npos;
    std::string quoted = plain ? "" : "\"";
    for (char c : path) {
        if (!plain && (c == '"' || c == '`' || c == '$' || c == '\\'))
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    return plain ? quoted : quoted + "\"";
}

fs::path shortcut_folder()
{
    return to_utf8(expand_path(is_smartphone() ? u"%start_menu%" : u"%programs%"));
}

// The product's files in a program folder, relative to it: the executables, the setup library,
// the language files, and everything under skins/ and help/ (not the build's tests).
std::vector<fs::path> product_files_in(fs::path const& folder)
{
    std::vector<fs::path> files;
    std::error_code error;
    for (char const* file : product_files) {
        if (fs::is_regular_file(folder / file, error))
            files.emplace_back(file);
    }
    for (auto const& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".lng" && entry.is_regular_file(error))
            files.push_back(entry.path().filename());
    }
    for (char const* product_folder : product_folders) {
        if (!fs::is_directory(folder / product_folder, error))
            continue;
        for (auto const& entry : fs::recursive_directory_iterator(folder / product_folder, error)) {
            if (entry.is_regular_file(error))
                files.push_back(entry.path().lexically_relative(folder));
        }
    }
    return files;
}

// What the installer put into the folder, one relative path a line, so that a removal deletes
// exactly that and never a skin or language file the user added.
fs::path manifest_of(fs::path const& target)
{
    return target / manifest_name;
}

std::vector<fs::path> read_manifest(fs::path const& target)
{
    std::vector<fs::path> files;
    std::ifstream in(manifest_of(target));
    std::string line;
    while (std::getline(in, line)) {
        fs::path file = fs::path(line).lexically_normal();
        // A line that leads out of the folder is not one the installer wrote.
        if (!line.empty() && file.is_relative() && *file.begin() != "..")
            files.push_back(file);
    }
    return files;
}

bool copy_product(fs::path const& from, fs::path const& to, std::ostream& err)
{
    std::error_code error;
    fs::create_directories(to, error);
    if (fs::equivalent(from, to, error))
        return true;
    std::vector<fs::path> files = product_files_in(from);
    bool copied = true;
    for (auto const& file : files) {
        if (fs::path link = link_on_the_way(to, file.parent_path()); !link.empty()) {
            err << "velloq-install: " << link.string() << " is a symbolic link; nothing is written through it\n";
            copied = false;
            continue;
        }
        copied = put_copy(from / file, to / file, err) && copied;
    }
    std::string manifest;
    for (auto const& file : files)
        manifest += file.string() + "\n";
    copied = put_file(manifest_of(to), manifest, err) && copied;
    if (!copied)
        err << "velloq-install: the program files could not all be copied to " << to.string() << "\n";
    return copied;
}

// Only what the installer put there goes (as its manifest lists it; an installation without one
// is taken to hold what this installer would put there), and what the program itself wrote: a
// folder that "InstallDir" names wrongly, or that holds the user's own files, keeps them, and
// nothing is deleted through a symbolic link. True when the folder itself went.
bool remove_product(fs::path const& target)
{
    std::error_code error;
    std::vector<fs::path> files = fs::exists(manifest_of(target)) ? read_manifest(target) : product_files_in(own_folder());
    for (char const* made : { "cache", "cache.part" })
        if (is_chat_cache_file((target / made).string()))
            files.emplace_back(made);
    std::set<fs::path> folders;
    for (auto const& file : files) {
        if (link_on_the_way(target, file.parent_path()).empty())
            take_file(target / file);
        for (fs::path parent = file.parent_path(); !parent.empty(); parent = parent.parent_path())
            folders.insert(parent);
    }
    take_file(manifest_of(target));
    // Deepest first; a folder that still holds something of the user's stays, as does a link.
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        if (!is_link(target / *folder) && fs::is_empty(target / *folder, error))
            fs::remove(target / *folder, error);
    }
    return !is_link(target) && fs::remove(target, error);
}

int install(fs::path const& target, bool with_service, std::ostream& out, std::ostream& err)
{
    Hooks hooks;
    fs::path source = own_folder();
    if (!load_hooks(source, hooks, err))
        return 1;
    std::u16string folder = to_utf16(target.string());
    hooks.install_init(nullptr, folder.c_str());
    // A folder not made whole is still recorded, so that a removal takes what did go there.
    bool whole = copy_product(source, target, err);
    reg_set_string(apps_key, u"InstallDir", folder);
    if (!whole)
        return 1;
    put_file(shortcut_folder() / "Velloq.desktop", desktop_entry(target.string()), out);
    install_desktop_integration(target, out);
    hooks.install_exit(nullptr, folder.c_str());
    out << "installed in " << target.string() << "\n";
    if (with_service && (!install_service(modem_service, target, out, err) || !install_service(contacts_service, target, out, err)))
        return 1;
    return 0;
}

int remove(std::ostream& out, std::ostream& err)
{
    std::u16string folder;
    if (!reg_get_string(apps_key, u"InstallDir", folder) || folder.empty()) {
        err << "velloq-install: Velloq is not installed (no InstallDir)\n";
        return 1;
    }
    fs::path target = to_utf8(folder);
    Hooks hooks;
    std::ostringstream first_try;
    if (!load_hooks(target, hooks, first_try) && !load_hooks(own_folder(), hooks, err))
        return 1;
    hooks.uninstall_init(nullptr, folder.c_str());
    remove_service(modem_service, out);
    remove_service(contacts_service, out);
    take_file(shortcut_folder() / "Velloq.desktop");
    remove_desktop_integration(out);
    // The library stays loaded from the folder about to go until its last hook ran.
    bool removed = remove_product(target);
    reg_delete_value(apps_key, u"InstallDir");
    hooks.uninstall_exit(nullptr, folder.c_str());
    // Velloq is removed either way: what stays is the user's, which is as it should be.
    if (!removed)
        err << "velloq-install: warning: " << target.string() << " holds files that are not Velloq's; they stay\n";
    out << "removed " << target.string() << "\n";
    return 0;
}

}

std::string desktop_entry(std::string const& folder)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Velloq\n"
           "GenericName=SMS Messenger\n"
           "Comment=SMS conversations\n"
           "Icon=velloq\n"
           "Exec="
        + exec_quoted(folder + "/velloq")
        + " %u\n"
          "Terminal=false\n"
          "Categories=Network;InstantMessaging;\n"
          "Keywords=SMS;Text;Message;Chat;Phone;Conversation;\n"
          "MimeType=x-scheme-handler/sms;x-scheme-handler/smsto;\n"
          // Phosh lists in its app grid only what says it fits a phone.
          "X-Purism-FormFactor=Workstation;Mobile;\n";
}

int run_installer(std::vector<std::string> const& arguments, std::ostream& out, std::ostream& err)
{
    std::vector<std::string> rest = arguments;
    // Without the services (a desktop without a modem, or services run some other way).
    auto no_service = std::find(rest.begin(), rest.end(), "--no-service");
    bool with_service = no_service == rest.end();
    if (!with_service)
        rest.erase(no_service);
    if (rest.empty())
        return install(to_utf8(expand_path(u"%program_files%/Ketra/Velloq")), with_service, out, err);
    if (rest.size() == 1 && rest[0] == "--remove" && with_service)
        return remove(out, err);
    if (rest.size() == 2 && rest[0] == "--to" && !rest[1].empty())
        return install(fs::absolute(rest[1]).lexically_normal(), with_service, out, err);
    err << "usage: velloq-install [--to FOLDER] [--no-service] | --remove\n";
    return 2;
}

}
