#include "RegCommand.h"

#include "platform/RegistryStore.h"
#include "platform/Utf.h"
#include "shell/Registry.h"

#include <charconv>
#include <cstdint>

namespace velloq::tools {

namespace {

using platform::RegistryStatus;
using platform::RegistryStore;
using platform::RegistryType;
using platform::RegistryValue;

constexpr char const* usage = "usage: velloq-reg get KEY NAME | set KEY NAME dword N | set KEY NAME sz TEXT | delete KEY NAME | list KEY";

RegExit bad_arguments(std::ostream& err, std::string const& why)
{
    err << "velloq-reg: " << why << " (" << usage << ")\n";
    return RegExit::BadArguments;
}

RegExit unavailable(std::ostream& err)
{
    err << "velloq-reg: the registry cannot be used: " << RegistryStore::instance().last_error() << "\n";
    return RegExit::Unavailable;
}

RegExit report(RegistryStatus status, std::ostream& err, std::string const& missing)
{
    switch (status) {
    case RegistryStatus::Ok:
        return RegExit::Ok;
    case RegistryStatus::Missing:
        err << "velloq-reg: " << missing << "\n";
        return RegExit::Missing;
    case RegistryStatus::Unavailable:
        return unavailable(err);
    }
    return RegExit::Unavailable;
}

void print_value(RegistryValue const& value, std::ostream& out)
{
    if (value.type == RegistryType::Dword)
        out << value.number;
    else
        out << to_utf8(value.text);
}

RegExit get(KeyPath const& key, std::u16string const& name, std::ostream& out, std::ostream& err)
{
    RegistryValue value;
    auto status = RegistryStore::instance().read(key.hive, key.subkey, name, value);
    if (status == RegistryStatus::Ok) {
        print_value(value, out);
        out << "\n";
    }
    return report(status, err, "no such value");
}

RegExit set(KeyPath const& key, std::u16string const& name, std::string const& type, std::string const& data, std::ostream& err)
{
    RegistryValue value;
    if (type == "dword") {
        auto number = parse_dword(data);
        if (!number)
            return bad_arguments(err, "not a 32-bit number: " + data);
        value = RegistryValue::dword(*number);
    } else if (type == "sz") {
        value = RegistryValue::string(to_utf16(data));
    } else {
        return bad_arguments(err, "unknown value type: " + type);
    }
    return report(RegistryStore::instance().write(key.hive, key.subkey, name, value), err, "");
}

RegExit list(KeyPath const& key, std::ostream& out, std::ostream& err)
{
    std::vector<RegistryValue> values;
    std::vector<std::u16string> subkeys;
    auto status = RegistryStore::instance().list(key.hive, key.subkey, values, subkeys);
    if (status != RegistryStatus::Ok)
        return report(status, err, "no such key");
    for (auto const& subkey : subkeys)
        out << to_utf8(subkey) << "\\\n";
    for (auto const& value : values) {
        out << to_utf8(value.name) << "\t" << (value.type == RegistryType::Dword ? "dword" : "sz") << "\t";
        print_value(value, out);
        out << "\n";
    }
    return RegExit::Ok;
}

}

std::optional<uint32_t> parse_dword(std::string const& text)
{
    bool negative = !text.empty() && text.front() == '-';
    std::string_view digits(text);
    if (negative)
        digits.remove_prefix(1);
    int base = 10;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        digits.remove_prefix(2);
        base = 16;
    }
    uint64_t number = 0;
    auto result = std::from_chars(digits.data(), digits.data() + digits.size(), number, base);
    if (digits.empty() || result.ec != std::errc() || result.ptr != digits.data() + digits.size())
        return std::nullopt;
    if (negative) {
        if (number > 0x80000000ull)
            return std::nullopt;
        return static_cast<uint32_t>(-static_cast<int64_t>(number));
    }
    if (number > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<uint32_t>(number);
}

RegExit run_reg_command(std::vector<std::string> const& arguments, std::ostream& out, std::ostream& err)
{
    if (arguments.empty())
        return bad_arguments(err, "no command");
    std::string const& command = arguments[0];
    size_t expected = command == "get" || command == "delete" ? 3 : command == "set" ? 5 : command == "list" ? 2 : 0;
    if (expected == 0)
        return bad_arguments(err, "unknown command: " + command);
    if (arguments.size() != expected)
        return bad_arguments(err, "wrong number of arguments for " + command);
    auto key = parse_key_path(to_utf16(arguments[1]));
    if (!key)
        return bad_arguments(err, "not a registry key (HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, HKEY_USERS or HKEY_CURRENT_USER): " + arguments[1]);
    if (command == "list")
        return list(*key, out, err);
    std::u16string name = to_utf16(arguments[2]);
    if (command == "get")
        return get(*key, name, out, err);
    if (command == "delete")
        return report(RegistryStore::instance().remove_value(key->hive, key->subkey, name), err, "no such value");
    return set(*key, name, arguments[3], arguments[4], err);
}

}
