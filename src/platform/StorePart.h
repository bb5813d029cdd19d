#pragma once

#include "platform/MessageTypes.h"
#include "platform/SqliteDatabase.h"

#include <memory>
#include <span>
#include <utility>

namespace velloq::platform {

class MessageTables;

// A part of the message store (its outbox queue, its modem filing, its search index...): the
// store's tables and the part's own statements, prepared once when the store opens.
class StorePart {
protected:
    StorePart(MessageTables& tables, StatementSet statements)
        : m_tables(tables)
        , m_statements(std::move(statements))
    {
    }

    MessageTables& m_tables;
    StatementSet m_statements;
};

// Prepares a part's SQL (`sql`, in the order of its statement numbers) and makes the part, or
// gives the database's error.
template<typename Part, typename... Extra>
StoreResult<std::unique_ptr<Part>> open_store_part(SqliteDatabase& database, std::span<char const* const> sql, MessageTables& tables, Extra&&... extra)
{
    auto statements = StatementSet::prepare(database, sql);
    if (!statements)
        return StoreError::failed(database.error());
    return std::unique_ptr<Part>(new Part(tables, std::move(*statements), std::forward<Extra>(extra)...));
}

}
