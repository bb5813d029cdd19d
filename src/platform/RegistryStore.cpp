#include "platform/RegistryStore.h"

#include "platform/Folders.h"
#include "platform/Process.h"
#include "platform/SessionEnvironment.h"
#include "platform/Ticks.h"
#include "platform/Utf.h"

#include <cstdio>

namespace velloq::platform {

namespace {

// A writer holds the lock for a few milliseconds, but on a loaded machine a writer descheduled
// while it holds the lock kept others waiting over a second, and a write that gives up loses a
// setting. Ten seconds outlasts any live writer and still ends the wait on a wedged one.
constexpr int busy_timeout_ms = 10000;
constexpr uint32_t cache_lifetime_ms = 1000;
constexpr size_t cache_limit = 512;

constexpr char const* schema_sql = R"(
CREATE TABLE IF NOT EXISTS keys(
    id INTEGER PRIMARY KEY,
    hive TEXT NOT NULL,
    path TEXT NOT NULL,
    folded TEXT NOT NULL,
    parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,
    UNIQUE(hive, folded));
CREATE INDEX IF NOT EXISTS keys_parent ON keys(parent);
CREATE TABLE IF NOT EXISTS key_values(
    key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    folded TEXT NOT NULL,
    type INTEGER NOT NULL,
    data,
    PRIMARY KEY(key, folded)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS notifications(
    name TEXT NOT NULL,
    folded TEXT PRIMARY KEY,
    hive TEXT NOT NULL,
    key TEXT NOT NULL,
    key_folded TEXT NOT NULL,
    value_name TEXT NOT NULL,
    value_folded TEXT NOT NULL,
    comparison INTEGER NOT NULL,
    mask INTEGER NOT NULL,
    target_type INTEGER NOT NULL,
    target,
    command_line TEXT NOT NULL,
    flags INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS notifications_watch ON notifications(hive, key_folded, value_folded);
PRAGMA user_version = 1;
)";

// Version 2 remembers the program each registration started last, so that it is not started
// again while it runs.
constexpr char const* schema_2_sql = R"(
CREATE TABLE IF NOT EXISTS notification_runs(folded TEXT PRIMARY KEY, pid INTEGER NOT NULL, started INTEGER NOT NULL);
PRAGMA user_version = 2;
)";

// Each version's step from the one before; a registry is brought up step by step.
struct SchemaStep {
    int version;
    char const* sql;
};
constexpr SchemaStep schema_steps[] = { { 1, schema_sql }, { 2, schema_2_sql } };
constexpr int schema_version = schema_steps[std::size(schema_steps) - 1].version;

bool run_schema_steps(SqliteDatabase& database, int version)
{
    for (auto const& step : schema_steps)
        if (version < step.version && !database.execute(step.sql))
            return false;
    return true;
}

std::string folded_utf8(std::u16string_view text)
{
    return to_utf8(fold_case(text));
}

// Registry texts are zero-terminated on the device: whatever follows a zero is never read back.
std::u16string up_to_zero(std::u16string text)
{
    size_t zero = text.find(u'\0');
    if (zero != std::u16string::npos)
        text.resize(zero);
    return text;
}

void bind_value(SqliteStatement& statement, int type_index, RegistryValue const& value)
{
    statement.bind(type_index, static_cast<int64_t>(value.type));
    if (value.type == RegistryType::Dword)
        statement.bind(type_index + 1, static_cast<int64_t>(value.number));
    else
        statement.bind(type_index + 1, to_utf8(value.text));
}

RegistryValue read_value(SqliteStatement const& statement, int type_column)
{
    RegistryValue value;
    value.type = statement.column_int(type_column) == static_cast<int64_t>(RegistryType::String) ? RegistryType::String : RegistryType::Dword;
    if (value.type == RegistryType::Dword)
        value.number = static_cast<uint32_t>(statement.column_int(type_column + 1));
    else
        value.text = to_utf16(statement.column_text(type_column + 1));
    return value;
}

}

std::u16string normalise_key_path(std::u16string_view key)
{
    std::u16string result;
    size_t start = 0;
    while (start <= key.size()) {
        size_t end = key.find(u'\\', start);
        if (end == std::u16string_view::npos)
            end = key.size();
        if (end > start) {
            if (!result.empty())
                result.push_back(u'\\');
            result.append(key.substr(start, end - start));
        }
        start = end + 1;
    }
    return result;
}

struct RegistryStore::Connection {
    std::unique_ptr<SqliteDatabase> database;
    SqliteStatement select_key;
    SqliteStatement insert_key;
    SqliteStatement select_key_and_value;
    SqliteStatement select_value;
    SqliteStatement upsert_value;
    SqliteStatement delete_value;
    SqliteStatement list_values;
    SqliteStatement list_subkeys;
    SqliteStatement select_watchers;
    SqliteStatement insert_notification;
    SqliteStatement delete_notification;
};

RegistryStore::~RegistryStore() = default;

RegistryStore& RegistryStore::instance()
{
    static RegistryStore store;
    return store;
}

void RegistryStore::fail(std::string error)
{
    m_last_error = error;
    // The log itself is switched by this registry, so a broken registry can only be told on
    // the terminal; once per distinct failure keeps a busy caller from flooding it.
    if (error != m_reported_error) {
        std::fprintf(stderr, "registry %s/registry.db: %s\n", m_folder.c_str(), error.c_str());
        m_reported_error = error;
    }
}

bool RegistryStore::open(std::string const& folder)
{
    m_connection.reset();
    m_cache.clear();
    m_folder = folder;
    m_changes = std::make_unique<SharedCounter>(folder + "/registry.changes");
    std::string error;
    auto database = SqliteDatabase::open(folder + "/registry.db", busy_timeout_ms, error);
    if (!database) {
        fail(error);
        return false;
    }
    int version = database->user_version();
    if (version < 0) {
        fail(database->error());
        return false;
    }
    if (version < schema_version) {
        // Several processes read and write the registry at once; the write-ahead log lets readers
        // go on while one of them writes.
        database->execute("PRAGMA journal_mode=WAL");
        SqliteTransaction transaction(*database, SqliteTransaction::Kind::Immediate);
        // Another process may have brought the schema up while this one waited for the lock.
        if (!transaction.begun() || !run_schema_steps(*database, database->user_version()) || !transaction.commit()) {
            fail(database->error());
            return false;
        }
    } else if (version > schema_version) {
        fail("written by a newer program (schema " + std::to_string(version) + ")");
        return false;
    }
    database->execute("PRAGMA foreign_keys=ON");
    auto prepare = [&](char const* sql) { return database->prepare(sql); };
    auto select_key = prepare("SELECT id FROM keys WHERE hive=?1 AND folded=?2");
    auto insert_key = prepare("INSERT INTO keys(hive, path, folded, parent) VALUES(?1, ?2, ?3, ?4) ON CONFLICT DO NOTHING");
    auto select_key_and_value = prepare("SELECT k.id, v.type, v.data FROM keys k LEFT JOIN key_values v ON v.key=k.id AND v.folded=?3 WHERE k.hive=?1 AND k.folded=?2");
    auto select_value = prepare("SELECT type, data FROM key_values WHERE key=?1 AND folded=?2");
    auto upsert_value = prepare("INSERT INTO key_values(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT(key, folded) DO UPDATE SET type=excluded.type, data=excluded.data");
    auto delete_value = prepare("DELETE FROM key_values WHERE key=?1 AND folded=?2");
    auto list_values = prepare("SELECT name, type, data FROM key_values WHERE key=?1 ORDER BY folded");
    auto list_subkeys = prepare("SELECT path FROM keys WHERE parent=?1 ORDER BY folded");
    auto select_watchers = prepare("SELECT name, key, value_name, comparison, mask, target_type, target, command_line, flags FROM notifications WHERE hive=?1 AND key_folded=?2 AND value_folded=?3");
    auto insert_notification = prepare("INSERT INTO notifications(name, folded, hive, key, key_folded, value_name, value_folded, comparison, mask, target_type, target, command_line, flags) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13) ON CONFLICT DO NOTHING");
    auto delete_notification = prepare("DELETE FROM notifications WHERE folded=?1");
    if (!select_key || !insert_key || !select_key_and_value || !select_value || !upsert_value || !delete_value || !list_values
        || !list_subkeys || !select_watchers || !insert_notification || !delete_notification) {
        fail(database->error());
        return false;
    }
    m_connection = std::make_unique<Connection>(Connection { std::move(database), std::move(*select_key), std::move(*insert_key),
        std::move(*select_key_and_value), std::move(*select_value), std::move(*upsert_value), std::move(*delete_value),
        std::move(*list_values), std::move(*list_subkeys), std::move(*select_watchers), std::move(*insert_notification),
        std::move(*delete_notification) });
    return true;
}

RegistryStore::Connection* RegistryStore::connection()
{
    std::string folder = device_folder();
    if (m_connection && folder == m_folder)
        return m_connection.get();
    // A failed open is tried again at the next call, so a registry that was locked or replaced
    // comes back without a restart.
    return open(folder) ? m_connection.get() : nullptr;
}

std::optional<int64_t> RegistryStore::find_key(Hive hive, std::string const& folded_path)
{
    StatementUse use(m_connection->select_key);
    use->bind(1, hive_name(hive)).bind(2, folded_path);
    if (use->step())
        return use->column_int(0);
    return std::nullopt;
}

std::optional<int64_t> RegistryStore::ensure_key(Hive hive, std::u16string const& path)
{
    // The hive's root is the key with the empty path; every key below it gets its parents first.
    std::optional<int64_t> parent;
    size_t end = 0;
    for (;;) {
        std::u16string prefix = path.substr(0, end);
        std::string folded = folded_utf8(prefix);
        auto id = find_key(hive, folded);
        if (!id) {
            StatementUse use(m_connection->insert_key);
            use->bind(1, hive_name(hive)).bind(2, to_utf8(prefix)).bind(3, folded);
            if (parent)
                use->bind(4, *parent);
            if (!use->execute())
                return std::nullopt;
            id = find_key(hive, folded);
            if (!id)
                return std::nullopt;
        }
        parent = id;
        if (end >= path.size())
            return parent;
        size_t next = path.find(u'\\', end + 1);
        end = next == std::u16string::npos ? path.size() : next;
    }
}

RegistryStatus RegistryStore::read(Hive hive, std::u16string_view key, std::u16string_view name, RegistryValue& out)
{
    std::lock_guard lock(m_mutex);
    auto* db = connection();
    if (!db)
        return RegistryStatus::Unavailable;
    std::u16string path = normalise_key_path(key);
    std::string folded_path = folded_utf8(path);
    std::string folded_name = folded_utf8(name);
    refresh_cache();
    std::string cache_key = std::string(hive_name(hive)) + '\x1F' + folded_path + '\x1F' + folded_name;
    if (auto cached = m_cache.find(cache_key); cached != m_cache.end()) {
        if (cached->second.status == RegistryStatus::Ok)
            out = cached->second.value;
        return cached->second.status;
    }
    auto remember = [&](RegistryStatus status) {
        if (m_changes->is_mapped() && m_cache.size() < cache_limit)
            m_cache.emplace(cache_key, CachedRead { status, out });
        return status;
    };
    {
        StatementUse use(db->select_key_and_value);
        use->bind(1, hive_name(hive)).bind(2, folded_path).bind(3, folded_name);
        if (use->step()) {
            if (use->is_null(1))
                return remember(RegistryStatus::Missing);
            out = read_value(*use, 1);
            out.name = std::u16string(name);
            return remember(RegistryStatus::Ok);
        }
        if (use->failed()) {
            fail(db->database->error());
            return RegistryStatus::Unavailable;
        }
    }
    // Opening a missing key for reading creates it, empty.
    SqliteTransaction transaction(*db->database, SqliteTransaction::Kind::Immediate);
    if (!transaction.begun() || !ensure_key(hive, path) || !transaction.commit()) {
        fail(db->database->error());
        return RegistryStatus::Missing;
    }
    return remember(RegistryStatus::Missing);
}

void RegistryStore::refresh_cache()
{
    uint64_t version = m_changes->load();
    uint32_t now = tick_count();
    if (version != m_cache_version || now - m_cache_time > cache_lifetime_ms) {
        m_cache.clear();
        m_cache_version = version;
        m_cache_time = now;
    }
}

void RegistryStore::values_changed()
{
    m_changes->increment();
    m_cache.clear();
}

RegistryStatus RegistryStore::write(Hive hive, std::u16string_view key, std::u16string_view name, RegistryValue value)
{
    value.text = up_to_zero(std::move(value.text));
    std::vector<NotificationRegistration> to_start;
    {
        std::lock_guard lock(m_mutex);
        auto* db = connection();
        if (!db)
            return RegistryStatus::Unavailable;
        std::u16string path = normalise_key_path(key);
        std::string folded_name = folded_utf8(name);
        SqliteTransaction transaction(*db->database, SqliteTransaction::Kind::Immediate);
        auto key_id = transaction.begun() ? ensure_key(hive, path) : std::nullopt;
        if (!key_id) {
            fail(db->database->error());
            return RegistryStatus::Unavailable;
        }
        std::optional<RegistryValue> old;
        {
            StatementUse use(db->select_value);
            use->bind(1, *key_id).bind(2, folded_name);
            if (use->step())
                old = read_value(*use, 0);
        }
        bool upserted;
        {
            StatementUse use(db->upsert_value);
            use->bind(1, *key_id).bind(2, to_utf8(name)).bind(3, folded_name);
            bind_value(*use, 4, value);
            upserted = use->execute();
        }
        bool changed = !old || old->type != value.type || old->number != value.number || old->text != value.text;
        if (changed)
            to_start = watchers(hive, folded_utf8(path), folded_name);
        if (!upserted || !transaction.commit()) {
            fail(db->database->error());
            return RegistryStatus::Unavailable;
        }
        values_changed();
    }
    start_programs(to_start, &value);
    return RegistryStatus::Ok;
}

RegistryStatus RegistryStore::remove_value(Hive hive, std::u16string_view key, std::u16string_view name)
{
    std::vector<NotificationRegistration> to_start;
    {
        std::lock_guard lock(m_mutex);
        auto* db = connection();
        if (!db)
            return RegistryStatus::Unavailable;
        std::string folded_path = folded_utf8(normalise_key_path(key));
        std::string folded_name = folded_utf8(name);
        SqliteTransaction transaction(*db->database, SqliteTransaction::Kind::Immediate);
        if (!transaction.begun()) {
            fail(db->database->error());
            return RegistryStatus::Unavailable;
        }
        auto key_id = find_key(hive, folded_path);
        if (!key_id)
            return RegistryStatus::Ok;
        StatementUse use(db->delete_value);
        use->bind(1, *key_id).bind(2, folded_name);
        if (!use->execute()) {
            fail(db->database->error());
            return RegistryStatus::Unavailable;
        }
        if (db->database->changes() == 0)
            return RegistryStatus::Missing;
        to_start = watchers(hive, folded_path, folded_name);
        if (!transaction.commit()) {
            fail(db->database->error());
            return RegistryStatus::Unavailable;
        }
        values_changed();
    }
    start_programs(to_start, nullptr);
    return RegistryStatus::Ok;
}

RegistryStatus RegistryStore::list(Hive hive, std::u16string_view key, std::vector<RegistryValue>& values, std::vector<std::u16string>& subkeys)
{
    std::lock_guard lock(m_mutex);
    auto* db = connection();
    if (!db)
        return RegistryStatus::Unavailable;
    auto key_id = find_key(hive, folded_utf8(normalise_key_path(key)));
    if (!key_id)
        return RegistryStatus::Missing;
    {
        StatementUse use(db->list_values);
        use->bind(1, *key_id);
        while (use->step()) {
            RegistryValue value = read_value(*use, 1);
            value.name = to_utf16(use->column_text(0));
            values.push_back(std::move(value));
        }
    }
    StatementUse use(db->list_subkeys);
    use->bind(1, *key_id);
    while (use->step()) {
        std::u16string path = to_utf16(use->column_text(0));
        size_t separator = path.rfind(u'\\');
        subkeys.push_back(separator == std::u16string::npos ? path : path.substr(separator + 1));
    }
    return RegistryStatus::Ok;
}

std::vector<NotificationRegistration> RegistryStore::watchers(Hive hive, std::string const& folded_key, std::string const& folded_name)
{
    std::vector<NotificationRegistration> found;
    StatementUse use(m_connection->select_watchers);
    use->bind(1, hive_name(hive)).bind(2, folded_key).bind(3, folded_name);
    while (use->step()) {
        NotificationRegistration registration;
        registration.name = to_utf16(use->column_text(0));
        registration.hive = hive;
        registration.key = to_utf16(use->column_text(1));
        registration.value_name = to_utf16(use->column_text(2));
        registration.condition.comparison = static_cast<Comparison>(use->column_int(3));
        registration.condition.mask = static_cast<uint32_t>(use->column_int(4));
        registration.condition.target = read_value(*use, 5);
        registration.command_line = to_utf16(use->column_text(7));
        registration.flags = static_cast<uint32_t>(use->column_int(8));
        found.push_back(std::move(registration));
    }
    return found;
}

void RegistryStore::set_broker_listener(std::function<void(BrokerDecision const&)> listener)
{
    std::lock_guard lock(m_mutex);
    m_broker_listener = std::move(listener);
}

void RegistryStore::start_programs(std::vector<NotificationRegistration> const& registrations, RegistryValue const* now)
{
    std::function<void(BrokerDecision const&)> listener;
    {
        std::lock_guard lock(m_mutex);
        listener = m_broker_listener;
    }
    for (auto const& registration : registrations) {
        BrokerDecision decision { registration.name, BrokerDecision::Kind::ConditionFalse, 0, registration.command_line, {} };
        if (condition_holds(registration.condition, now)) {
            auto arguments = split_command_line(registration.command_line);
            if (!(registration.flags & notification_flag_no_name_on_command_line) && !arguments.empty())
                arguments.insert(arguments.begin() + 1, registration.name);
            auto outcome = start_once(folded_utf8(registration.name), arguments);
            decision.kind = outcome.kind;
            decision.pid = outcome.pid;
            decision.error = std::move(outcome.error);
        }
        if (listener)
            listener(decision);
    }
}

// Starts a registration's program unless the one it started last still runs: a burst of changes
// (a chat of many unread messages marked read) then starts one program, not one per change. The
// check and the start share one write transaction, so two writers never both start it.
BrokerDecision RegistryStore::start_once(std::string const& folded_name, std::vector<std::u16string> const& arguments)
{
    // A writer outside the graphical session (a service, a terminal without a display) still
    // starts the program where the user can see it. Asked before the registry is locked.
    std::vector<std::string> session = graphical_session_variables();
    std::lock_guard lock(m_mutex);
    BrokerDecision decision;
    auto* db = connection();
    std::optional<SqliteTransaction> transaction;
    if (db)
        transaction.emplace(*db->database, SqliteTransaction::Kind::Immediate);
    auto select = db ? db->database->prepare("SELECT pid, started FROM notification_runs WHERE folded = ?1") : std::nullopt;
    if (select && transaction->begun()) {
        select->bind(1, folded_name);
        if (select->step()) {
            auto started = process_start_time(select->column_int(0));
            if (started && *started == static_cast<uint64_t>(select->column_int(1)))
                return { {}, BrokerDecision::Kind::StillRunning, select->column_int(0), {}, {} };
        }
    }
    if (!start_detached(arguments, decision.error, &decision.pid, session)) {
        std::fprintf(stderr, "notification %s: %s\n", folded_name.c_str(), decision.error.c_str());
        decision.kind = BrokerDecision::Kind::StartFailed;
        return decision;
    }
    auto started = process_start_time(decision.pid);
    auto record = db ? db->database->prepare("INSERT OR REPLACE INTO notification_runs(folded, pid, started) VALUES(?1, ?2, ?3)") : std::nullopt;
    if (!started || !record || !transaction->begun())
        return decision;
    record->bind(1, folded_name).bind(2, decision.pid).bind(3, static_cast<int64_t>(*started));
    if (record->execute())
        transaction->commit();
    return decision;
}

BrokerResult RegistryStore::register_notification(NotificationRegistration const& registration)
{
    std::lock_guard lock(m_mutex);
    auto* db = connection();
    if (!db)
        return BrokerResult::Unavailable;
    std::u16string key = normalise_key_path(registration.key);
    StatementUse use(db->insert_notification);
    use->bind(1, to_utf8(registration.name)).bind(2, folded_utf8(registration.name)).bind(3, hive_name(registration.hive));
    use->bind(4, to_utf8(key)).bind(5, folded_utf8(key));
    use->bind(6, to_utf8(registration.value_name)).bind(7, folded_utf8(registration.value_name));
    use->bind(8, static_cast<int64_t>(registration.condition.comparison)).bind(9, static_cast<int64_t>(registration.condition.mask));
    bind_value(*use, 10, registration.condition.target);
    use->bind(12, to_utf8(registration.command_line)).bind(13, static_cast<int64_t>(registration.flags));
    if (!use->execute()) {
        fail(db->database->error());
        return BrokerResult::Unavailable;
    }
    return db->database->changes() == 0 ? BrokerResult::AlreadyExists : BrokerResult::Registered;
}

BrokerResult RegistryStore::stop_notification(std::u16string_view name)
{
    std::lock_guard lock(m_mutex);
    auto* db = connection();
    if (!db)
        return BrokerResult::Unavailable;
    StatementUse use(db->delete_notification);
    use->bind(1, folded_utf8(name));
    if (!use->execute()) {
        fail(db->database->error());
        return BrokerResult::Unavailable;
    }
    return db->database->changes() == 0 ? BrokerResult::NotFound : BrokerResult::Stopped;
}

std::string RegistryStore::last_error()
{
    std::lock_guard lock(m_mutex);
    return m_last_error;
}

}
