#pragma once

#include "platform/RegistryTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velloq {

// Typed access to the registry. A key is one text with its hive name in front
// ("HKEY_CURRENT_USER\Software\Ketra\Velloq"); names compare case-insensitively. Failures are
// reported only by the result: readers leave their output untouched so callers keep defaults.

bool reg_get_int(std::u16string_view key, std::u16string_view name, int32_t& out);
bool reg_get_bool(std::u16string_view key, std::u16string_view name, bool& out);
bool reg_get_string(std::u16string_view key, std::u16string_view name, std::u16string& out);
bool reg_set_int(std::u16string_view key, std::u16string_view name, int32_t value);
bool reg_set_string(std::u16string_view key, std::u16string_view name, std::u16string_view value);
// True when the value was deleted or its key does not exist.
bool reg_delete_value(std::u16string_view key, std::u16string_view name);

// The keys the program's parts share.
namespace registry_key {
// The vendor's settings: the log, the on-screen keyboard's last state.
inline constexpr char16_t const* vendor = u"HKEY_CURRENT_USER\\Software\\Ketra";
// The program's settings: alerts, templates, the modem, the unread count its icon shows.
inline constexpr char16_t const* program = u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq";
// The count of unread messages every writer of the store keeps ("Count").
inline constexpr char16_t const* unread_messages = u"HKEY_CURRENT_USER\\System\\State\\Messages\\SMS\\Unread";
}

struct KeyPath {
    platform::Hive hive;
    std::u16string subkey;
};

// Splits a key text into its hive and subkey. Only the four hive names are recognised, compared
// case-sensitively, and the name must end the text or be followed by "\".
std::optional<KeyPath> parse_key_path(std::u16string_view key);

}
