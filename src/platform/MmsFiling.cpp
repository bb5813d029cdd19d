#include "platform/MmsFiling.h"

#include "platform/MessageTables.h"
#include "platform/SendState.h"

namespace velloq::platform {

namespace {

enum Statement : size_t {
    Known,
    Remember,
    Paths,
    Forget,
    Deleted,
    ReadUntold,
    ReadTold,
    ReadThere,
    HandedOverMessage,
    Transmitted,
    Untransmitted,
};

char const* const statement_sql[] = {
    "SELECT message FROM mms_filed WHERE path = ?1",
    "INSERT INTO mms_filed(path, service, message, read_told) VALUES(?1, ?2, ?3, ?4)",
    "SELECT path FROM mms_filed WHERE service = ?1 ORDER BY path",
    "DELETE FROM mms_filed WHERE path = ?1",
    "SELECT f.path FROM mms_filed f WHERE f.service = ?1 AND NOT EXISTS (SELECT 1 FROM messages m WHERE m.id = f.message) ORDER BY f.path",
    "SELECT f.path FROM mms_filed f JOIN properties p ON p.message = f.message AND p.tag = ?2 "
    "WHERE f.service = ?1 AND f.read_told = 0 AND (p.value & 1) = 1 ORDER BY f.path",
    "UPDATE mms_filed SET read_told = 1 WHERE path = ?1",
    "UPDATE properties SET value = value | ?3 WHERE tag = ?2 AND (value & ?3) = 0 AND message = (SELECT message FROM mms_filed WHERE path = ?1)",
    "SELECT m.entry_id, m.id FROM mms_filed f JOIN messages m ON m.id = f.message JOIN folders d ON d.id = m.folder WHERE f.path = ?1 AND d.tag = ?2",
    "INSERT OR IGNORE INTO transmitted(message, row) VALUES(?1, ?2)",
    "DELETE FROM transmitted WHERE message = ?1",
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
    auto known = filed_message(path);
    if (!known)
        return known.error();
    if (*known)
        return false;
    auto inbox = m_tables.folder_of_kind(Tag::InboxEntryId);
    if (!inbox)
        return inbox.error();
    auto entry = m_tables.insert_message(*inbox, message, false);
    if (!entry)
        return entry.error();
    StatementUse remember(m_statements[Remember]);
    bool read = (number_of(message.properties, Tag::MessageFlags).value_or(0) & flag_read) != 0;
    remember->bind(1, path).bind(2, service).bind(3, m_tables.row_of_entry(*entry)).bind(4, static_cast<int64_t>(read));
    if (!remember->execute() || !transaction.commit())
        return m_tables.failure();
    return true;
}

StoreResult<void> MmsFiling::read_there(std::string const& path)
{
    {
        SqliteTransaction transaction(m_tables.database(), SqliteTransaction::Kind::Immediate);
        if (!transaction.begun())
            return m_tables.failure();
        StatementUse read(m_statements[ReadThere]);
        StatementUse told(m_statements[ReadTold]);
        read->bind(1, path).bind(2, static_cast<int64_t>(Tag::MessageFlags)).bind(3, static_cast<int64_t>(flag_read));
        told->bind(1, path);
        if (!read->execute() || !told->execute() || !transaction.commit())
            return m_tables.failure();
    }
    m_tables.changed();
    if (m_inbox_changed)
        m_inbox_changed();
    return {};
}

// The row of the message filed from `path`, when one was.
StoreResult<std::optional<int64_t>> MmsFiling::filed_message(std::string const& path)
{
    StatementUse known(m_statements[Known]);
    known->bind(1, path);
    bool found = known->step();
    if (known->failed())
        return m_tables.failure();
    return found ? std::optional<int64_t>(known->column_int(0)) : std::nullopt;
}

StoreResult<std::vector<std::string>> MmsFiling::paths_of(size_t statement, std::string const& service)
{
    StatementUse paths(m_statements[statement]);
    paths->bind(1, service);
    if (statement == ReadUntold)
        paths->bind(2, static_cast<int64_t>(Tag::MessageFlags));
    std::vector<std::string> found;
    while (paths->step())
        found.push_back(paths->column_text(0));
    if (paths->failed())
        return m_tables.failure();
    return found;
}

StoreResult<std::vector<std::string>> MmsFiling::filed_paths(std::string const& service)
{
    return paths_of(Paths, service);
}

StoreResult<std::vector<std::string>> MmsFiling::deleted_paths(std::string const& service)
{
    return paths_of(Deleted, service);
}

StoreResult<std::vector<std::string>> MmsFiling::read_untold_paths(std::string const& service)
{
    return paths_of(ReadUntold, service);
}

StoreResult<void> MmsFiling::read_told(std::string const& path)
{
    StatementUse told(m_statements[ReadTold]);
    if (!told->bind(1, path).execute())
        return m_tables.failure();
    return {};
}

StoreResult<void> MmsFiling::handed_over(Bytes const& entry, std::string const& service, std::string const& path, size_t recipients)
{
    {
        SqliteTransaction transaction(m_tables.database(), SqliteTransaction::Kind::Immediate);
        if (!transaction.begun())
            return m_tables.failure();
        auto message = m_tables.message_row(entry);
        if (!message)
            return message.error();
        for (size_t row = 0; row < recipients; ++row) {
            StatementUse transmitted(m_statements[Transmitted]);
            if (!transmitted->bind(1, *message).bind(2, static_cast<int64_t>(row)).execute())
                return m_tables.failure();
            if (auto state = m_tables.upsert_properties(*message, static_cast<int64_t>(row), { { Tag::RecipientState, int64_t(SendState::Sending) } }); !state)
                return state.error();
        }
        // The user's own message is never to be marked read there.
        StatementUse remember(m_statements[Remember]);
        remember->bind(1, path).bind(2, service).bind(3, *message).bind(4, int64_t(1));
        if (!remember->execute() || !transaction.commit())
            return m_tables.failure();
    }
    m_tables.changed();
    return {};
}

StoreResult<std::optional<MmsFiling::HandedOver>> MmsFiling::handed_over_message(std::string const& path)
{
    StatementUse found(m_statements[HandedOverMessage]);
    found->bind(1, path).bind(2, static_cast<int64_t>(Tag::OutboxEntryId));
    if (!found->step())
        return found->failed() ? StoreResult<std::optional<HandedOver>>(m_tables.failure()) : StoreResult<std::optional<HandedOver>>(std::nullopt);
    std::string_view entry = found->column_view(0);
    return std::optional<HandedOver>(HandedOver { Bytes(entry.begin(), entry.end()), found->column_int(1) });
}

StoreResult<void> MmsFiling::not_sent(std::string const& path, std::u16string const& why, size_t recipients)
{
    {
        SqliteTransaction transaction(m_tables.database(), SqliteTransaction::Kind::Immediate);
        if (!transaction.begun())
            return m_tables.failure();
        auto handed = handed_over_message(path);
        if (!handed)
            return handed.error();
        if (!*handed)
            return {};
        for (size_t row = 0; row < recipients; ++row) {
            PropertySet failed { { Tag::RecipientState, int64_t(SendState::NotSent) }, { Tag::SendError, why } };
            if (auto state = m_tables.upsert_properties((*handed)->row, static_cast<int64_t>(row), failed); !state)
                return state.error();
        }
        StatementUse untransmitted(m_statements[Untransmitted]);
        StatementUse forget(m_statements[Forget]);
        untransmitted->bind(1, (*handed)->row);
        forget->bind(1, path);
        if (!untransmitted->execute() || !forget->execute() || !transaction.commit())
            return m_tables.failure();
    }
    m_tables.changed();
    return {};
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
    auto known = filed_message(path);
    if (!known)
        return known.error();
    if (!*known)
        return false;
    int64_t message = **known;
    StatementUse forget(m_statements[Forget]);
    forget->bind(1, path);
    // A message the user deleted already is not there to remove; its path goes all the same.
    if (!m_tables.remove_message(message) || !forget->execute() || !transaction.commit())
        return m_tables.failure();
    return true;
}

}
