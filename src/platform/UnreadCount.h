#pragma once

#include "platform/MessageTypes.h"
#include "platform/SqliteDatabase.h"
#include "platform/StorePart.h"

#include <memory>
#include <string>

namespace velloq::platform {

class MessageTables;

// The inbox's unread count, counted in the store and written to the registry value the
// notification broker watches, after every change of the inbox.
class UnreadCount : StorePart {
public:
    static StoreResult<std::unique_ptr<UnreadCount>> open(MessageTables&);
    ~UnreadCount();

    StoreResult<int64_t> count();
    StoreResult<std::vector<Bytes>> unread_entries();
    // Every writer writes the store's true count, so the next one repairs a count left wrong.
    void publish();
    // Whether the last count reached the registry, and why not.
    bool published() const { return m_error.empty(); }
    std::string const& error() const { return m_error; }

private:
    template<typename Part, typename... Extra>
    friend StoreResult<std::unique_ptr<Part>> open_store_part(SqliteDatabase&, std::span<char const* const>, MessageTables&, Extra&&...);
    UnreadCount(MessageTables&, StatementSet);

    std::string m_error;
};

}
