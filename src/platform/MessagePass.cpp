#include "platform/MessagePass.h"
#include "platform/StoreValues.h"

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

bool pass_over_messages(SqliteDatabase& database, std::function<bool(int64_t folder)> const& wanted, MessagePassVisitor const& visit)
{
    // Prepared for this pass alone: a read of the whole store is rare.
    auto messages = database.prepare("SELECT id, folder, entry_id FROM messages ORDER BY id");
    auto properties = database.prepare("SELECT message, tag, value FROM properties ORDER BY message, tag");
    auto recipients = database.prepare("SELECT message, row, tag, value FROM recipients ORDER BY message, row, tag");
    if (!messages || !properties || !recipients)
        return false;
    ValuePass property_pass(*properties);
    ValuePass recipient_pass(*recipients);
    while (messages->step()) {
        int64_t message = messages->column_int(0);
        int64_t folder = messages->column_int(1);
        property_pass.skip_to(message);
        recipient_pass.skip_to(message);
        if (!wanted(folder))
            continue;
        StoredMessage stored;
        take_properties(property_pass, message, stored.properties);
        take_recipients(recipient_pass, message, stored.recipients);
        visit(message, folder, messages->column_view(2), std::move(stored));
    }
    return !messages->failed() && !properties->failed() && !recipients->failed();
}

}
