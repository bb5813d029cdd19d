#include "setup/ShortcutNaming.h"

#include "lang/LanguageTable.h"
#include "messaging/ChatCache.h"
#include "platform/Folders.h"
#include "platform/FileSystem.h"
#include "platform/Utf.h"
#include "shell/Log.h"
#include "shell/Paths.h"
#include "shell/Platform.h"
#include "shell/Registry.h"
#include "shell/StateNotification.h"

#include <fstream>

namespace velloq::setup {

namespace {

constexpr char16_t const* partner_marker = u"TAVRIN";
constexpr char16_t const* product_name = u"Velloq";
constexpr char16_t const* shortcut_extension = u".desktop";

// A program name from a language file becomes a file name: it must stay one.
bool is_plain_file_name(std::u16string const& name)
{
    return !name.empty() && name != u"." && name != u".." && name.find(u'/') == std::u16string::npos && name.find(u'\\') == std::u16string::npos;
}

// The menu shows a desktop entry's Name=, not its file name: it follows the rename. A name is
// one line of text in the entry, so line breaks and other control characters are dropped.
void set_shown_name(std::string const& path, std::u16string const& name)
{
    std::ifstream in(path);
    if (!in)
        return;
    std::string line;
    std::string entry;
    while (std::getline(in, line)) {
        if (line.rfind("Name=", 0) == 0) {
            std::u16string plain;
            for (char16_t c : name) {
                if (c >= 0x20 && c != 0x7F)
                    plain.push_back(c);
            }
            line = "Name=" + to_utf8(plain);
        }
        entry += line + "\n";
    }
    in.close();
    std::string why;
    if (!platform::replace_file(path, entry, why))
        log() << u"set_shown_name: " << to_utf16(path) << u" not written: " << to_utf16(why) << u"\n";
}

bool move_shortcut(std::u16string const& source, std::u16string const& destination, bool allowed)
{
    log() << u"isrc={" << source << u"} idst={" << destination << u"}\n";
    if (!allowed || !platform::move_file(to_utf8(source), to_utf8(destination))) {
        log() << u"Move failed from {" << source << u"} to {" << destination << u"}\n";
        return false;
    }
    return true;
}

std::u16string program_folder(char16_t const* install_folder)
{
    if (install_folder)
        return install_folder;
    std::u16string folder;
    if (reg_get_string(u"HKEY_LOCAL_MACHINE\\Software\\Apps\\Ketra Velloq", u"InstallDir", folder) && !folder.empty())
        return folder;
    return expand_path(u"%program_files%\\Ketra\\Velloq");
}

}

void name_shortcut(char16_t const* install_folder, Direction direction)
{
    if (!install_folder) {
        log() << u"Dir is NULL\n";
        return;
    }
    LanguageTable language;
    if (!language.load_file(std::u16string(install_folder) + u"/chinese.lng")) {
        log() << u"chinese.lng not found\n";
        return;
    }
    std::u16string portal = language.text_of(u"PORTAL");
    log() << u"PORTAL is {" << portal << u"}\n";
    if (portal != partner_marker)
        return;
    std::u16string name = language.text_of(u"skin_ProgramName");
    std::u16string folder = is_smartphone() ? u"%start_menu%/" : u"%programs%/";
    std::u16string product = expand_path(folder + product_name + shortcut_extension);
    std::u16string named = expand_path(folder + name + shortcut_extension);
    bool allowed = is_plain_file_name(name);
    if (direction == Direction::Install) {
        if (move_shortcut(product, named, allowed))
            set_shown_name(to_utf8(named), name);
    } else if (move_shortcut(named, product, allowed)) {
        set_shown_name(to_utf8(product), product_name);
    }
}

void clean_up(char16_t const* install_folder)
{
    stop_app_notification(u"Ketra.Velloq.message");
    reg_delete_value(registry_key::program, u"Unread");
    reg_delete_value(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Inbox\\Settings", u"SMSNoSentMsg");
    // The chat cache lives in the device folder; earlier versions kept it in the program folder,
    // where a file of that name is deleted only when it is a chat cache, not a file of the user's.
    platform::remove_file(platform::device_folder() + "/cache");
    platform::remove_file(platform::device_folder() + "/cache.part");
    std::string program = to_utf8(expand_path(program_folder(install_folder)));
    for (char const* name : { "/cache", "/cache.part" })
        if (is_chat_cache_file(program + name))
            platform::remove_file(program + name);
}

}
