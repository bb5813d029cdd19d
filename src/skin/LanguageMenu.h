#pragma once

#include "lang/LanguageTable.h"
#include "skin/Menu.h"

namespace velloq {

class Properties;

// The language menu of the main menu, on the main skin's language table. "Language" lists the
// language files (the current one checked) and "Cancel"; "Language#" + name switches to that
// language and writes it to the registry. True when the language changed; the caller then shows
// the reload form so that every form takes its texts again.
bool language_menu_command(Properties& skin, std::u16string const& application_name, std::u16string const& command,
    std::vector<MenuEntry>& entries, std::u16string const& item_section, std::u16string const& folder = LanguageTable::program_folder);

}
