#include "platform/UnreadCount.h"

#include "platform/MessageTables.h"
#include "platform/RegistryStore.h"

namespace velloq::platform {

namespace {

// Each attempt at the registry waits up to the registry's own busy timeout.
constexpr int count_attempts = 5;

enum Statement : size_t {
    Count,
    Entries,
};

char const* const statement_sql[] = {
    "SELECT COUNT(*) FROM messages m JOIN folders f ON f.id = m.folder LEFT JOIN properties p ON p.message = m.id AND p.tag = ?2 "
    "WHERE f.tag = ?1 AND (COALESCE(p.value, 0) & 1) = 0",
    "SELECT m.entry_id FROM messages m JOIN folders f ON f.id = m.folder LEFT JOIN properties p ON p.message = m.id AND p.tag = ?2 "
    "WHERE f.tag = ?1 AND (COALESCE(p.value, 0) & 1) = 0",
};

void bind_inbox_and_flags(SqliteStatement& statement)
{
    statement.bind(1, static_cast<int64_t>(Tag::InboxEntryId)).bind(2, static_cast<int64_t>(Tag::MessageFlags));
}

}

StoreResult<std::unique_ptr<UnreadCount>> UnreadCount::open(MessageTables& tables)
{
    return open_store_part<UnreadCount>(tables.database(), statement_sql, tables);
}

UnreadCount::UnreadCount(MessageTables& tables, StatementSet statements)
    : StorePart(tables, std::move(statements))
{
}

UnreadCount::~UnreadCount() = default;

StoreResult<int64_t> UnreadCount::count()
{
    StatementUse use(m_statements[Count]);
    bind_inbox_and_flags(*use);
    if (!use->step())
        return m_tables.failure();
    return use->column_int(0);
}

StoreResult<std::vector<Bytes>> UnreadCount::unread_entries()
{
    StatementUse use(m_statements[Entries]);
    bind_inbox_and_flags(*use);
    return m_tables.entry_ids(*use);
}

// A registry busy past its timeout is tried again a few times; a count that still cannot be
// written is reported, never taken as written.
void UnreadCount::publish()
{
    m_tables.changed();
    m_error.clear();
    for (int attempt = 0; attempt < count_attempts; ++attempt) {
        auto unread = count();
        if (!unread) {
            m_error = "the unread count could not be read: " + unread.error().text;
            return;
        }
        if (RegistryStore::instance().write(Hive::CurrentUser, u"System\\State\\Messages\\SMS\\Unread", u"Count",
                RegistryValue::dword(static_cast<uint32_t>(*unread)))
            == RegistryStatus::Ok)
            return;
    }
    m_error = "the unread count could not be written to the registry: " + RegistryStore::instance().last_error();
}

}
