#pragma once

#include "platform/MessageTypes.h"
#include "platform/SqliteDatabase.h"
#include "platform/StorePart.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velloq::platform {

class MessageTables;

// The modem service's part of the message store. A message taken from the modem is filed into
// the inbox together with its `key` (what identifies it on the modem), in one transaction: a
// key filed once is never filed again, so a crash between filing and deleting it from the modem
// does no harm. It also remembers when each message still arriving in parts was first seen,
// and finds a sent message by the reference the modem gave it, for its status report.
class ModemFilingLog : StorePart {
public:
    // `inbox_changed` runs after a message is filed (the unread count is published).
    static StoreResult<std::unique_ptr<ModemFilingLog>> open(MessageTables&, std::function<void()> inbox_changed);
    ~ModemFilingLog();

    enum class Filing { Filed, AlreadyFiled };
    StoreResult<Filing> file_from_modem(std::string const& key, std::string const& source, StoredMessage const& message);
    StoreResult<bool> filed_from_modem(std::string const& key);
    // Forgets the keys filed, and the incomplete messages first seen, before `unix_seconds` (the
    // modem no longer holds those messages).
    StoreResult<void> forget_filed_before(int64_t unix_seconds);
    // When the service first saw a message still arriving in parts (its `key`): the time noted
    // at the first call, kept across restarts.
    StoreResult<int64_t> first_seen_incomplete(std::string const& key, int64_t now_unix);
    StoreResult<void> forget_incomplete(std::string const& key);

    // The recipient rows of Sent Items and the outbox (a message that failed for another
    // recipient waits there) that went out with a modem message reference, newest first.
    struct SentRecipient {
        Bytes entry;
        int64_t row { 0 };
        PropertySet properties;
    };
    StoreResult<std::vector<SentRecipient>> sent_with_reference(int64_t reference);

private:
    template<typename Part, typename... Extra>
    friend StoreResult<std::unique_ptr<Part>> open_store_part(SqliteDatabase&, std::span<char const* const>, MessageTables&, Extra&&...);
    ModemFilingLog(MessageTables&, StatementSet, std::function<void()> inbox_changed);
    StoreResult<bool> insert_filed(std::string const& key, std::string const& source, StoredMessage const& message);
    StoreResult<void> read_recipient(int64_t message, SentRecipient& recipient);

    std::function<void()> m_inbox_changed;
};

}
