#pragma once

#include "platform/MessageTypes.h"
#include "platform/SqliteDatabase.h"
#include "platform/StorePart.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velloq::platform {

class MessageTables;

// The part of the message store that places the phone's MMS, which stay in the MMS service's
// own store: each filed MMS is remembered by its object path there, in the same transaction as
// the message, for as long as the store keeps it. A path filed once is not filed again, also
// after the user deleted its message; a message the MMS service removed leaves the store.
class MmsFiling : StorePart {
public:
    // `inbox_changed` runs after the inbox gained or lost a message (the unread count is published).
    static StoreResult<std::unique_ptr<MmsFiling>> open(MessageTables&, std::function<void()> inbox_changed);
    ~MmsFiling();

    enum class Filing { Filed, AlreadyFiled };
    StoreResult<Filing> file(std::string const& service, std::string const& path, StoredMessage const& message);
    // The paths filed from one service of the MMS service.
    StoreResult<std::vector<std::string>> filed_paths(std::string const& service);
    // Those whose message the user deleted here, for the MMS service to delete too.
    StoreResult<std::vector<std::string>> deleted_paths(std::string const& service);
    // Those whose message was read here and the MMS service was not told yet; and telling it.
    StoreResult<std::vector<std::string>> read_untold_paths(std::string const& service);
    StoreResult<void> read_told(std::string const& path);
    // The message was read in another program: it is read here too.
    StoreResult<void> read_there(std::string const& path);

    // An MMS of the outbox (`entry`, to `recipients`) handed to the MMS service, which sends it as
    // `path`: each recipient counts as transmitted, so nothing hands it over twice, and shows as
    // being sent. From then on the message follows its path as a received one does.
    StoreResult<void> handed_over(Bytes const& entry, std::string const& service, std::string const& path, size_t recipients);
    // The outbox message handed over as `path`, while it waits for the MMS service to send it.
    struct HandedOver {
        Bytes entry;
        int64_t row { 0 };
    };
    StoreResult<std::optional<HandedOver>> handed_over_message(std::string const& path);
    // The MMS service could not send it: each recipient shows as not sent (`why`), and the
    // message may be sent again.
    StoreResult<void> not_sent(std::string const& path, std::u16string const& why, size_t recipients);

    // The message at `path` is gone from the MMS service: its message leaves the store. False when
    // nothing was filed from that path.
    StoreResult<bool> remove(std::string const& path);

private:
    template<typename Part, typename... Extra>
    friend StoreResult<std::unique_ptr<Part>> open_store_part(SqliteDatabase&, std::span<char const* const>, MessageTables&, Extra&&...);
    MmsFiling(MessageTables&, StatementSet, std::function<void()> inbox_changed);
    StoreResult<bool> insert_filed(std::string const& service, std::string const& path, StoredMessage const& message);
    StoreResult<bool> remove_filed(std::string const& path);
    StoreResult<std::vector<std::string>> paths_of(size_t statement, std::string const& service);
    StoreResult<std::optional<int64_t>> filed_message(std::string const& path);

    std::function<void()> m_inbox_changed;
};

}
