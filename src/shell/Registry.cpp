#include "shell/Registry.h"

#include "platform/RegistryStore.h"

#include <array>
#include <bit>

namespace velloq {

namespace {

using platform::Hive;
using platform::RegistryStatus;
using platform::RegistryStore;
using platform::RegistryType;
using platform::RegistryValue;

struct HiveName {
    std::u16string_view prefix;
    Hive hive;
};

constexpr std::array<HiveName, 4> hive_names { {
    { u"HKEY_CLASSES_ROOT", Hive::ClassesRoot },
    { u"HKEY_LOCAL_MACHINE", Hive::LocalMachine },
    { u"HKEY_USERS", Hive::Users },
    { u"HKEY_CURRENT_USER", Hive::CurrentUser },
} };

std::optional<RegistryValue> read(std::u16string_view key, std::u16string_view name, RegistryType wanted)
{
    auto path = parse_key_path(key);
    if (!path)
        return std::nullopt;
    RegistryValue value;
    if (RegistryStore::instance().read(path->hive, path->subkey, name, value) != RegistryStatus::Ok || value.type != wanted)
        return std::nullopt;
    return value;
}

bool write(std::u16string_view key, std::u16string_view name, RegistryValue value)
{
    auto path = parse_key_path(key);
    return path && RegistryStore::instance().write(path->hive, path->subkey, name, std::move(value)) == RegistryStatus::Ok;
}

}

std::optional<KeyPath> parse_key_path(std::u16string_view key)
{
    for (auto const& hive_name : hive_names) {
        if (!key.starts_with(hive_name.prefix))
            continue;
        std::u16string_view rest = key.substr(hive_name.prefix.size());
        if (rest.empty())
            return KeyPath { hive_name.hive, {} };
        if (rest.front() != u'\\')
            return std::nullopt;
        return KeyPath { hive_name.hive, std::u16string(rest.substr(1)) };
    }
    return std::nullopt;
}

bool reg_get_int(std::u16string_view key, std::u16string_view name, int32_t& out)
{
    auto value = read(key, name, RegistryType::Dword);
    if (!value)
        return false;
    out = std::bit_cast<int32_t>(value->number);
    return true;
}

bool reg_get_bool(std::u16string_view key, std::u16string_view name, bool& out)
{
    auto value = read(key, name, RegistryType::Dword);
    if (!value)
        return false;
    out = value->number != 0;
    return true;
}

bool reg_get_string(std::u16string_view key, std::u16string_view name, std::u16string& out)
{
    auto value = read(key, name, RegistryType::String);
    if (!value)
        return false;
    out = std::move(value->text);
    return true;
}

bool reg_set_int(std::u16string_view key, std::u16string_view name, int32_t number)
{
    return write(key, name, RegistryValue::dword(std::bit_cast<uint32_t>(number)));
}

bool reg_set_string(std::u16string_view key, std::u16string_view name, std::u16string_view text)
{
    return write(key, name, RegistryValue::string(std::u16string(text)));
}

bool reg_delete_value(std::u16string_view key, std::u16string_view name)
{
    auto path = parse_key_path(key);
    return path && RegistryStore::instance().remove_value(path->hive, path->subkey, name) == RegistryStatus::Ok;
}

}
