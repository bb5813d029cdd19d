// Reading whole folders at once: a pass over the tables costs a fraction of a keyed lookup per
// message.
#include "platform/MessageStore.h"
#include "platform/MessageTables.h"
#include "platform/MessagePass.h"

#include <algorithm>

namespace velloq::platform {

StoreResult<void> MessageStore::read_folders(std::vector<Bytes> const& folders, MessageVisitor const& visit)
{
    auto rows = folder_rows(folders);
    if (!rows)
        return rows.error();
    std::optional<SqliteTransaction> transaction;
    if (auto snapshot = begin_snapshot(transaction); !snapshot)
        return snapshot;
    bool whole = pass_over_messages(*m_database, [&](int64_t folder) { return std::find(rows->begin(), rows->end(), folder) != rows->end(); },
        [&](int64_t, int64_t folder, std::string_view entry, StoredMessage&& stored) {
            auto index = static_cast<size_t>(std::find(rows->begin(), rows->end(), folder) - rows->begin());
            visit(index, Bytes(entry.begin(), entry.end()), std::move(stored));
        });
    if (!whole)
        return m_tables->failure();
    return {};
}

}
