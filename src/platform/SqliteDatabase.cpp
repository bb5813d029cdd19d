#include "platform/SqliteDatabase.h"

#include <sqlite3.h>

#include <utility>

namespace velloq::platform {

SqliteStatement::SqliteStatement(sqlite3_stmt* statement)
    : m_statement(statement)
{
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : m_statement(std::exchange(other.m_statement, nullptr))
    , m_failed(other.m_failed)
{
}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_statement);
        m_statement = std::exchange(other.m_statement, nullptr);
        m_failed = other.m_failed;
    }
    return *this;
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_statement);
}

SqliteStatement& SqliteStatement::bind(int index, int64_t value)
{
    if (sqlite3_bind_int64(m_statement, index, value) != SQLITE_OK)
        m_failed = true;
    return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::string_view text)
{
    if (sqlite3_bind_text64(m_statement, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8) != SQLITE_OK)
        m_failed = true;
    return *this;
}

SqliteStatement& SqliteStatement::bind_blob(int index, void const* data, size_t size)
{
    if (sqlite3_bind_blob64(m_statement, index, data, size, SQLITE_TRANSIENT) != SQLITE_OK)
        m_failed = true;
    return *this;
}

SqliteStatement& SqliteStatement::bind_null(int index)
{
    if (sqlite3_bind_null(m_statement, index) != SQLITE_OK)
        m_failed = true;
    return *this;
}

bool SqliteStatement::step()
{
    if (m_failed)
        return false;
    int result = sqlite3_step(m_statement);
    if (result == SQLITE_ROW)
        return true;
    if (result != SQLITE_DONE)
        m_failed = true;
    return false;
}

bool SqliteStatement::execute()
{
    while (step()) { }
    return !m_failed;
}

bool SqliteStatement::is_null(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

int64_t SqliteStatement::column_int(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

std::string SqliteStatement::column_text(int column) const
{
    auto const* text = reinterpret_cast<char const*>(sqlite3_column_text(m_statement, column));
    int size = sqlite3_column_bytes(m_statement, column);
    return text ? std::string(text, static_cast<size_t>(size)) : std::string();
}

std::string_view SqliteStatement::column_view(int column) const
{
    auto const* text = reinterpret_cast<char const*>(sqlite3_column_text(m_statement, column));
    int size = sqlite3_column_bytes(m_statement, column);
    return text ? std::string_view(text, static_cast<size_t>(size)) : std::string_view();
}

int SqliteStatement::column_type(int column) const
{
    return sqlite3_column_type(m_statement, column);
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
    m_failed = false;
}

SqliteDatabase::SqliteDatabase(sqlite3* handle)
    : m_handle(handle)
{
}

SqliteDatabase::~SqliteDatabase()
{
    sqlite3_close_v2(m_handle);
}

std::unique_ptr<SqliteDatabase> SqliteDatabase::open(std::string const& path, int busy_timeout_ms, std::string& error)
{
    sqlite3* handle = nullptr;
    // A connection belongs to the thread that opened it; without SQLite's own lock every column
    // read of a large scan costs no mutex round trip.
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
    int result = sqlite3_open_v2(path.c_str(), &handle, flags, nullptr);
    if (result != SQLITE_OK) {
        error = handle ? sqlite3_errmsg(handle) : sqlite3_errstr(result);
        sqlite3_close_v2(handle);
        return nullptr;
    }
    sqlite3_busy_timeout(handle, busy_timeout_ms);
    sqlite3_extended_result_codes(handle, 1);
    return std::unique_ptr<SqliteDatabase>(new SqliteDatabase(handle));
}

bool SqliteDatabase::execute(char const* sql)
{
    return sqlite3_exec(m_handle, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::optional<SqliteStatement> SqliteDatabase::prepare(char const* sql)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(m_handle, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return std::nullopt;
    }
    return SqliteStatement(statement);
}

int SqliteDatabase::user_version()
{
    auto statement = prepare("PRAGMA user_version");
    if (!statement || !statement->step())
        return -1;
    return static_cast<int>(statement->column_int(0));
}

std::string SqliteDatabase::error() const
{
    return sqlite3_errmsg(m_handle);
}

int64_t SqliteDatabase::changes() const
{
    return sqlite3_changes64(m_handle);
}

std::optional<StatementSet> StatementSet::prepare(SqliteDatabase& database, std::span<char const* const> sql)
{
    StatementSet set;
    set.m_statements.reserve(sql.size());
    for (char const* text : sql) {
        auto statement = database.prepare(text);
        if (!statement)
            return std::nullopt;
        set.m_statements.push_back(std::move(*statement));
    }
    return set;
}

SqliteTransaction::SqliteTransaction(SqliteDatabase& database, Kind kind)
    : m_database(database)
{
    m_begun = m_database.execute(kind == Kind::Immediate ? "BEGIN IMMEDIATE" : "BEGIN");
}

SqliteTransaction::~SqliteTransaction()
{
    if (m_begun && !m_finished)
        m_database.execute("ROLLBACK");
}

bool SqliteTransaction::commit()
{
    if (!m_begun || m_finished)
        return false;
    m_finished = m_database.execute("COMMIT");
    return m_finished;
}

}
