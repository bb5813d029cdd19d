#pragma once

#include "messaging/MessageRecord.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velloq {

class SmsManager;

// The store's full-text index as a search uses it, through one store session: bringing in what
// was delivered since it last caught up, and making a damaged index again when a query finds it so.
class StoreSearch {
public:
    explicit StoreSearch(SmsManager& sms)
        : m_sms(sms)
    {
    }
    SmsManager& sms() { return m_sms; }
    // Brings up to `limit` noted messages into the index: how many, nullopt when the store cannot
    // index.
    std::optional<size_t> index(size_t limit);
    // Indexes what was delivered since the index last caught up, up to one search's share (a
    // larger backlog is the background indexer's).
    std::optional<size_t> catch_up();
    // The messages noted for the index and not yet indexed.
    std::optional<int64_t> backlog();
    // The newest messages matching a full-text query, a page of them.
    std::optional<std::vector<EntryId>> find(std::string const& match, size_t offset, size_t limit);
    // Whether a search found the index damaged and made it again (taken: it reads false after).
    bool take_index_remade() { return std::exchange(m_index_remade, false); }

private:
    SmsManager& m_sms;
    bool m_index_remade { false };
};

}
