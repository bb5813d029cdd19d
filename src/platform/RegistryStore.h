#pragma once

#include "platform/RegistryTypes.h"
#include "platform/SharedCounter.h"
#include "platform/SqliteDatabase.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace velloq::platform {

// The registry of the device: registry.db in the device folder. Keys are stored with their hive
// and full path; key and value names compare by their case-folded form and keep their case.
// The same database holds the state-notification registrations, and every write that changes a
// watched value starts the programs whose conditions now hold, whichever process wrote it.
class RegistryStore {
public:
    // The store of the current device folder, opened on first use and kept for the process.
    // Every call takes the store's lock, so any thread may use it.
    static RegistryStore& instance();

    // Reads one value; a missing key is created empty, as the device's create-or-open does.
    RegistryStatus read(Hive, std::u16string_view key, std::u16string_view name, RegistryValue& out);
    // Creates the key and its parents if needed and writes the value.
    RegistryStatus write(Hive, std::u16string_view key, std::u16string_view name, RegistryValue value);
    // Ok when the value was deleted or the key does not exist; Missing when only the value is absent.
    RegistryStatus remove_value(Hive, std::u16string_view key, std::u16string_view name);
    // The values and direct subkeys of a key, without creating it.
    RegistryStatus list(Hive, std::u16string_view key, std::vector<RegistryValue>& values, std::vector<std::u16string>& subkeys);

    BrokerResult register_notification(NotificationRegistration const&);
    BrokerResult stop_notification(std::u16string_view name);

    // Told of every broker decision, after the store's lock is released; set once at start.
    void set_broker_listener(std::function<void(BrokerDecision const&)>);

    // Why the last operation reported Unavailable, for tools that show it to a person.
    std::string last_error();

    ~RegistryStore();

private:
    RegistryStore() = default;
    struct Connection;

    Connection* connection();
    bool open(std::string const& folder);
    void fail(std::string error);
    std::optional<int64_t> find_key(Hive, std::string const& folded_path);
    std::optional<int64_t> ensure_key(Hive, std::u16string const& path);
    std::vector<NotificationRegistration> watchers(Hive, std::string const& folded_key, std::string const& folded_name);
    void start_programs(std::vector<NotificationRegistration> const&, RegistryValue const* now);
    BrokerDecision start_once(std::string const& folded_name, std::vector<std::u16string> const& arguments);
    void refresh_cache();
    void values_changed();

    // Reads are answered from this cache until any process writes a value (the shared counter
    // moves) or a second has passed, which bounds how long a missed count could mislead us.
    struct CachedRead {
        RegistryStatus status;
        RegistryValue value;
    };

    std::mutex m_mutex;
    std::function<void(BrokerDecision const&)> m_broker_listener;
    std::string m_folder;
    std::unique_ptr<Connection> m_connection;
    std::unique_ptr<SharedCounter> m_changes;
    std::unordered_map<std::string, CachedRead> m_cache;
    uint64_t m_cache_version { 0 };
    uint32_t m_cache_time { 0 };
    std::string m_last_error;
    std::string m_reported_error;
};

// Normalises a subkey path: empty components (doubled or trailing backslashes) are dropped.
std::u16string normalise_key_path(std::u16string_view key);

}
