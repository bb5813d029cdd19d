#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <span>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace velloq::platform {

// A prepared statement; reset and unbound again before every use, so one preparation serves
// the life of its database.
class SqliteStatement {
public:
    SqliteStatement(SqliteStatement&&) noexcept;
    SqliteStatement& operator=(SqliteStatement&&) noexcept;
    ~SqliteStatement();

    SqliteStatement& bind(int index, int64_t value);
    SqliteStatement& bind(int index, std::string_view text);
    SqliteStatement& bind_blob(int index, void const* data, size_t size);
    SqliteStatement& bind_null(int index);

    // Runs one step: true while a row is ready, false when done. Errors are recorded in
    // `failed()` and the database's error text.
    bool step();
    // Runs the statement to its end; true when it succeeded.
    bool execute();

    bool is_null(int column) const;
    int64_t column_int(int column) const;
    std::string column_text(int column) const;
    // The column's bytes without a copy; valid until the next step or reset.
    std::string_view column_view(int column) const;
    int column_type(int column) const;

    bool failed() const { return m_failed; }

    // Returns the statement to its unbound, unexecuted state for the next use.
    void reset();

private:
    friend class SqliteDatabase;
    explicit SqliteStatement(sqlite3_stmt* statement);

    sqlite3_stmt* m_statement { nullptr };
    bool m_failed { false };
};

// One SQLite connection. Opening never creates or replaces anything but an absent file, so a
// damaged database is reported rather than overwritten.
class SqliteDatabase {
public:
    static std::unique_ptr<SqliteDatabase> open(std::string const& path, int busy_timeout_ms, std::string& error);
    ~SqliteDatabase();

    SqliteDatabase(SqliteDatabase const&) = delete;
    SqliteDatabase& operator=(SqliteDatabase const&) = delete;

    // Runs one or more statements without results; false with `error()` set on failure.
    bool execute(char const* sql);
    std::optional<SqliteStatement> prepare(char const* sql);


    int user_version();
    std::string error() const;
    int64_t changes() const;

private:
    explicit SqliteDatabase(sqlite3* handle);
    sqlite3* m_handle { nullptr };
};

// The statements of one class, prepared together when it opens: the class lists its SQL in one
// table and takes each statement by its index there.
class StatementSet {
public:
    // Empty when any of them cannot be prepared (the database's error says why).
    static std::optional<StatementSet> prepare(SqliteDatabase&, std::span<char const* const> sql);
    SqliteStatement& operator[](size_t index) { return m_statements[index]; }

private:
    std::vector<SqliteStatement> m_statements;
};

// One use of a statement prepared once and kept: the statement is reset when the use ends,
// whatever path leaves it, so it never holds a read open or keeps old bindings.
class StatementUse {
public:
    explicit StatementUse(SqliteStatement& statement)
        : m_statement(statement)
    {
        m_statement.reset();
    }
    StatementUse(StatementUse const&) = delete;
    StatementUse& operator=(StatementUse const&) = delete;
    ~StatementUse() { m_statement.reset(); }
    SqliteStatement* operator->() const { return &m_statement; }
    SqliteStatement& operator*() const { return m_statement; }

private:
    SqliteStatement& m_statement;
};

// Begins a transaction on construction and rolls it back on destruction unless committed, so
// every early return leaves the database as it was.
class SqliteTransaction {
public:
    enum class Kind { Deferred, Immediate };
    SqliteTransaction(SqliteDatabase& database, Kind kind);
    ~SqliteTransaction();

    SqliteTransaction(SqliteTransaction const&) = delete;
    SqliteTransaction& operator=(SqliteTransaction const&) = delete;

    bool begun() const { return m_begun; }
    bool commit();

private:
    SqliteDatabase& m_database;
    bool m_begun { false };
    bool m_finished { false };
};

}
