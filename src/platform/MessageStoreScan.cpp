// Reading whole folders at once: a first start reads every message, and three ordered passes over
// the tables cost a fraction of a keyed lookup per message.
#include "platform/MessageStore.h"
#include "platform/MessageTables.h"
#include "platform/StoreValues.h"

#include <algorithm>

namespace velloq::platform {

namespace {

// A pass over one of the value tables, whose rows come in message order.
class ValuePass {
public:
    explicit ValuePass(SqliteStatement& statement)
        : m_statement(statement)
    {
        next();
    }
    bool at(int64_t message) const { return m_has_row && m_message == message; }
    void next()
    {
        m_has_row = m_statement.step();
        m_message = m_has_row ? m_statement.column_int(0) : 0;
    }
    // Passes over the values of messages before `message` (those of folders not asked for).
    void skip_to(int64_t message)
    {
        while (m_has_row && m_message < message)
            next();
    }
    SqliteStatement const& row() const { return m_statement; }

private:
    SqliteStatement& m_statement;
    bool m_has_row { false };
    int64_t m_message { 0 };
};

void take_properties(ValuePass& pass, int64_t message, PropertySet& properties)
{
    for (; pass.at(message); pass.next()) {
        auto tag = static_cast<uint32_t>(pass.row().column_int(1));
        properties[tag] = read_value(pass.row(), 2, tag);
    }
}

void take_recipients(ValuePass& pass, int64_t message, std::vector<PropertySet>& recipients)
{
    for (; pass.at(message); pass.next()) {
        auto row = static_cast<size_t>(pass.row().column_int(1));
        if (row >= recipients.size())
            recipients.resize(row + 1);
        auto tag = static_cast<uint32_t>(pass.row().column_int(2));
        recipients[row][tag] = read_value(pass.row(), 3, tag);
    }
}

}

StoreResult<void> MessageStore::read_folders(std::vector<Bytes> const& folders, MessageVisitor const& visit)
{
    auto rows = folder_rows(folders);
    if (!rows)
        return rows.error();
    std::optional<SqliteTransaction> transaction;
    if (auto snapshot = begin_snapshot(transaction); !snapshot)
        return snapshot;
    // Three passes in order, each prepared for this read alone: a scan of the whole store is rare.
    auto messages = m_database->prepare("SELECT id, folder, entry_id FROM messages ORDER BY id");
    auto properties = m_database->prepare("SELECT message, tag, value FROM properties ORDER BY message, tag");
    auto recipients = m_database->prepare("SELECT message, row, tag, value FROM recipients ORDER BY message, row, tag");
    if (!messages || !properties || !recipients)
        return m_tables->failure();
    ValuePass property_pass(*properties);
    ValuePass recipient_pass(*recipients);
    while (messages->step()) {
        int64_t message = messages->column_int(0);
        auto folder = std::find(rows->begin(), rows->end(), messages->column_int(1));
        property_pass.skip_to(message);
        recipient_pass.skip_to(message);
        if (folder == rows->end())
            continue;
        StoredMessage stored;
        take_properties(property_pass, message, stored.properties);
        take_recipients(recipient_pass, message, stored.recipients);
        std::string_view entry = messages->column_view(2);
        visit(static_cast<size_t>(folder - rows->begin()), Bytes(entry.begin(), entry.end()), std::move(stored));
    }
    if (messages->failed() || properties->failed() || recipients->failed())
        return m_tables->failure();
    return {};
}

}
