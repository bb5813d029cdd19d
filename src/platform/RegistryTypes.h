#pragma once

#include <cstdint>
#include <string>

namespace velloq::platform {

enum class Hive {
    ClassesRoot,
    LocalMachine,
    Users,
    CurrentUser,
};

// The device's own value type numbers, kept so that the stored rows read like its registry.
enum class RegistryType : int {
    String = 1,
    Dword = 4,
};

struct RegistryValue {
    std::u16string name;
    RegistryType type { RegistryType::Dword };
    uint32_t number { 0 };
    std::u16string text;

    static RegistryValue dword(uint32_t number) { return { {}, RegistryType::Dword, number, {} }; }
    static RegistryValue string(std::u16string text) { return { {}, RegistryType::String, 0, std::move(text) }; }
    bool operator==(RegistryValue const&) const = default;
};

enum class RegistryStatus {
    Ok,
    Missing,     // no such key or value
    Unavailable, // the database cannot be opened, read or written
};

// How a state notification compares the watched value, numbered as the device's broker does.
enum class Comparison : int {
    AnyChange = 0,
    Equal = 1,
    NotEqual = 2,
    Greater = 3,
    GreaterOrEqual = 4,
    Less = 5,
    LessOrEqual = 6,
    Contains = 7,
    StartsWith = 8,
    EndsWith = 9,
};

struct NotificationCondition {
    Comparison comparison { Comparison::AnyChange };
    uint32_t mask { 0xFFFFFFFF };
    RegistryValue target;
};

// Keeps the notification's name off the started program's command line.
constexpr uint32_t notification_flag_no_name_on_command_line = 0x00000010;

struct NotificationRegistration {
    std::u16string name;
    Hive hive { Hive::CurrentUser };
    std::u16string key;
    std::u16string value_name;
    NotificationCondition condition;
    std::u16string command_line;
    uint32_t flags { 0 };
};

enum class BrokerResult {
    Registered,
    AlreadyExists,
    Stopped,
    NotFound,
    Unavailable,
};

// What the broker did about one registration after a watched value changed, for the log.
struct BrokerDecision {
    enum class Kind {
        Started,
        StillRunning, // the program it started last still runs: not started again
        ConditionFalse,
        StartFailed,
    };
    std::u16string name;
    Kind kind { Kind::Started };
    int64_t pid { 0 }; // the program started, or the one still running
    std::u16string command_line;
    std::string error;
};

char const* hive_name(Hive);

// Whether a registration fires for the value the watched value now has (nullptr: deleted).
bool condition_holds(NotificationCondition const&, RegistryValue const* now);

}
