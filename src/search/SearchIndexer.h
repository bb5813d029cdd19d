#pragma once

#include "platform/Worker.h"

#include <atomic>
#include <cstdint>
#include <optional>

namespace velloq {

namespace platform {
class SearchIndex;
}

// Builds the search index in the background on a connection of its own, in short transactions
// that never keep a delivery waiting: all at once after the store was first given an index,
// then whatever `wake` says has arrived.
class SearchIndexer {
public:
    SearchIndexer();
    ~SearchIndexer();
    SearchIndexer(SearchIndexer const&) = delete;
    SearchIndexer& operator=(SearchIndexer const&) = delete;
    void wake();
    // After an update of the chats: woken when they changed or any writer changed the store since
    // it was last woken (another program's edits note texts for the index too).
    void follow(std::optional<uint64_t> change_count, bool chats_changed);
    // Another connection made the index again: the rest is indexed here, and `rebuilding` says so.
    void rebuilding_elsewhere();
    // While a lost or damaged index is made again, searches may miss messages.
    bool rebuilding() const { return m_rebuilding; }

private:
    void run(platform::Worker&);
    void catch_up(platform::Worker&, platform::SearchIndex&);
    std::atomic<bool> m_rebuilding { false };
    // The store's change count the indexer was last woken for (the caller's thread).
    std::optional<uint64_t> m_woken_at;
    // Declared last: it stops and joins before the rest goes.
    platform::Worker m_worker;
};

}
