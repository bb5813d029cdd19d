#pragma once

#include "messaging/MessageRecord.h"
#include "platform/Worker.h"

#include <atomic>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace velloq {

class ChatModel;

namespace platform {
class SearchIndex;
}

struct SearchResult {
    std::u16string chat_key;
    std::u16string chat_title;
    EntryId id;
    MessageTime time;
    std::u16string text;
    // Where the matching words stand in `text`.
    std::vector<std::pair<size_t, size_t>> marks;
};

class SmsManager;

// `limit` matches of what was typed, from the `offset`th on, newest first, each titled by its
// sender (`name_results_by_chat` titles them by their chats): on any thread, with its own store.
std::vector<SearchResult> find_messages(SmsManager&, std::u16string const& typed, size_t offset, size_t limit);
void name_results_by_chat(ChatModel&, std::vector<SearchResult>&);

// Finds messages across all chats through the store's full-text index, newest first. What was
// delivered since the index last caught up is indexed first, so a search never misses it.
class MessageSearch {
public:
    explicit MessageSearch(ChatModel& model)
        : m_model(model)
    {
    }
    // `limit` matches from the `offset`th on (a list asks for more as it is scrolled).
    std::vector<SearchResult> find(std::u16string const& typed, size_t offset, size_t limit);

private:
    ChatModel& m_model;
};

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
    // Another connection made the index again: the rest is indexed here, and `rebuilding` says so.
    void rebuilding_elsewhere();
    // While a lost or damaged index is made again, searches may miss messages.
    bool rebuilding() const { return m_rebuilding; }

private:
    void run(platform::Worker&);
    void catch_up(platform::Worker&, platform::SearchIndex&);
    std::atomic<bool> m_rebuilding { false };
    // Declared last: it stops and joins before the rest goes.
    platform::Worker m_worker;
};

}
