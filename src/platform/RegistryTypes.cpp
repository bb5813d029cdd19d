#include "platform/RegistryTypes.h"

namespace velloq::platform {

char const* hive_name(Hive hive)
{
    switch (hive) {
    case Hive::ClassesRoot:
        return "HKEY_CLASSES_ROOT";
    case Hive::LocalMachine:
        return "HKEY_LOCAL_MACHINE";
    case Hive::Users:
        return "HKEY_USERS";
    case Hive::CurrentUser:
        return "HKEY_CURRENT_USER";
    }
    return "";
}

namespace {

bool compare_numbers(Comparison comparison, uint32_t value, uint32_t target)
{
    switch (comparison) {
    case Comparison::Equal:
        return value == target;
    case Comparison::NotEqual:
        return value != target;
    case Comparison::Greater:
        return value > target;
    case Comparison::GreaterOrEqual:
        return value >= target;
    case Comparison::Less:
        return value < target;
    case Comparison::LessOrEqual:
        return value <= target;
    default:
        return false;
    }
}

bool compare_texts(Comparison comparison, std::u16string const& value, std::u16string const& target)
{
    switch (comparison) {
    case Comparison::Equal:
        return value == target;
    case Comparison::NotEqual:
        return value != target;
    case Comparison::Greater:
        return value > target;
    case Comparison::GreaterOrEqual:
        return value >= target;
    case Comparison::Less:
        return value < target;
    case Comparison::LessOrEqual:
        return value <= target;
    case Comparison::Contains:
        return value.find(target) != std::u16string::npos;
    case Comparison::StartsWith:
        return value.starts_with(target);
    case Comparison::EndsWith:
        return value.ends_with(target);
    default:
        return false;
    }
}

}

bool condition_holds(NotificationCondition const& condition, RegistryValue const* now)
{
    if (condition.comparison == Comparison::AnyChange)
        return true;
    // A deleted number compares as 0 and a deleted text as empty, as the broker sees no value.
    if (condition.target.type == RegistryType::Dword) {
        uint32_t value = (now && now->type == RegistryType::Dword) ? now->number : 0;
        return compare_numbers(condition.comparison, value & condition.mask, condition.target.number & condition.mask);
    }
    std::u16string value = (now && now->type == RegistryType::String) ? now->text : std::u16string();
    return compare_texts(condition.comparison, value, condition.target.text);
}

}
