#pragma once

#include <string>

namespace velloq::setup {

enum class Direction { Install, Uninstall };

// A partner edition names the program's shortcut after its own program name: the language file
// "chinese.lng" in the installation folder says so with "PORTAL" = "TAVRIN". Installing moves
// the product shortcut to the named one; removing moves it back for the installer to find.
void name_shortcut(char16_t const* install_folder, Direction);

// What the program left at run time: its new-message notification, "Unread", "SMSNoSentMsg"
// and the chat cache of its program folder.
void clean_up(char16_t const* install_folder);

}
