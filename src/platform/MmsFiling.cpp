#include "platform/MmsFiling.h"

#include "platform/MessageTables.h"

namespace velloq::platform {

namespace {

enum Statement : size_t {
    Known,
    Remember,
    Paths,
    Forget,
};

char const* const statement_sql[] = {
    "SELECT message FROM mms_filed WHERE path = ?1",
    "INSERT INTO mms_filed(path, service, message) VALUES(?1, ?2, ?3)",
    "SELECT path FROM mms_filed WHERE service = ?1 ORDER BY path",
    "DELETE FROM mms_filed WHERE path = ?1",
};

}

StoreResult<std::unique_ptr<MmsFiling>> MmsFiling::open(MessageTables& tables, std::function<void()> inbox_changed)
{
    return open_store_part<MmsFiling>(tables.database(), statement_sql, tables, std::move(inbox_changed));
}

MmsFiling::MmsFiling(MessageTables& tables, StatementSet statements, std::function<void()> inbox_changed)
    : StorePart(tables, std::move(statements))
    , m_inbox_changed(std::move(inbox_changed))
{
}

MmsFiling::~MmsFiling() = default;

StoreResult<MmsFiling::Filing> MmsFiling::file(std::string const& service, std::string const& path, StoredMessage const& message)
{
    auto filed = insert_filed(service, path, message);
    if (!filed)
        return filed.error();
    if (!*filed)
        return Filing::AlreadyFiled;
    m_tables.changed();
    if (m_inbox_changed)
        m_inbox_changed();
    return Filing::Filed;
}

// True when the message was filed now, false when its path was filed before.
StoreResult<bool> MmsFiling::insert_filed(std::string const& service, std::string const& path, StoredMessage const& message)
{
    SqliteTransaction transaction(m_tables.database(), SqliteTransaction::Kind::Immediate);
    if (!transaction.begun())
        return m_tables.failure();
    StatementUse known(m_statements[Known]);
    known->bind(1, path);
    bool found = known->step();
    if (known->failed())
        return m_tables.failure();
    if (found)
        return false;
    auto inbox = m_tables.folder_of_kind(Tag::InboxEntryId);
    if (!inbox)
        return inbox.error();
    auto entry = m_tables.insert_message(*inbox, message, false);
    if (!entry)
        return entry.error();
    StatementUse remember(m_statements[Remember]);
    remember->bind(1, path).bind(2, service).bind(3, m_tables.row_of_entry(*entry));
    if (!remember->execute() || !transaction.commit())
        return m_tables.failure();
    return true;
}

StoreResult<std::vector<std::string>> MmsFiling::filed_paths(std::string const& service)
{
    StatementUse paths(m_statements[Paths]);
    paths->bind(1, service);
    std::vector<std::string> found;
    while (paths->step())
        found.push_back(paths->column_text(0));
    if (paths->failed())
        return m_tables.failure();
    return found;
}

StoreResult<bool> MmsFiling::remove(std::string const& path)
{
    auto removed = remove_filed(path);
    if (!removed)
        return removed.error();
    if (*removed) {
        m_tables.changed();
        if (m_inbox_changed)
            m_inbox_changed();
    }
    return *removed;
}

StoreResult<bool> MmsFiling::remove_filed(std::string const& path)
{
    SqliteTransaction transaction(m_tables.database(), SqliteTransaction::Kind::Immediate);
    if (!transaction.begun())
        return m_tables.failure();
    StatementUse known(m_statements[Known]);
    known->bind(1, path);
    bool found = known->step();
    if (known->failed())
        return m_tables.failure();
    if (!found)
        return false;
    int64_t message = known->column_int(0);
    StatementUse forget(m_statements[Forget]);
    forget->bind(1, path);
    // A message the user deleted already is not there to remove; its path goes all the same.
    if (!m_tables.remove_message(message) || !forget->execute() || !transaction.commit())
        return m_tables.failure();
    return true;
}

}
