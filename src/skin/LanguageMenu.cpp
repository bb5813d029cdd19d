#include "skin/LanguageMenu.h"

#include "shell/Registry.h"
#include "skin/Properties.h"

namespace velloq {

namespace {

constexpr std::u16string_view language_prefix = u"Language#";

}

bool language_menu_command(Properties& skin, std::u16string const& application_name, std::u16string const& command,
    std::vector<MenuEntry>& entries, std::u16string const& item_section, std::u16string const& folder)
{
    LanguageTable& table = skin.language();
    if (command == u"Language") {
        for (auto const& name : LanguageTable::available_languages(folder)) {
            MenuEntry entry { std::u16string(language_prefix) + name, LanguageTable::display_name(name, folder), item_section };
            entry.checked = LanguageTable::path_of_language(name, folder) == table.current_file();
            entries.push_back(std::move(entry));
        }
        entries.push_back({ u"Cancel", {}, item_section });
        return false;
    }
    if (!command.starts_with(language_prefix))
        return false;
    std::u16string name = command.substr(language_prefix.size());
    std::u16string path = LanguageTable::path_of_language(name, folder);
    if (path == table.current_file() || !table.load_file(path))
        return false;
    reg_set_string(u"HKEY_CURRENT_USER\\Software\\Ketra\\" + application_name, u"Language", name);
    return true;
}

}
