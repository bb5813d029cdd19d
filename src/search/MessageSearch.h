#pragma once

#include "messaging/MessageRecord.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace velloq {

class ChatModel;

struct SearchResult {
    std::u16string chat_key;
    std::u16string chat_title;
    EntryId id;
    MessageTime time;
    std::u16string text;
    // Where the matching words stand in `text`.
    std::vector<std::pair<size_t, size_t>> marks;
};

class SearchIndexer;
class StoreSearch;

// `limit` matches of what was typed, from the `offset`th on, newest first, each titled by its
// sender (`name_results_by_chat` titles them by their chats): on any thread, with its own store.
std::vector<SearchResult> find_messages(StoreSearch&, std::u16string const& typed, size_t offset, size_t limit);
void name_results_by_chat(ChatModel&, std::vector<SearchResult>&);

// Finds messages across all chats through the store's full-text index, newest first. What was
// delivered since the index last caught up is indexed first, so a search never misses it.
class MessageSearch {
public:
    // The indexer, when there is one, is told when a search had to make the index again.
    explicit MessageSearch(ChatModel& model, SearchIndexer* indexer = nullptr)
        : m_model(model)
        , m_indexer(indexer)
    {
    }
    // `limit` matches from the `offset`th on (a list asks for more as it is scrolled).
    std::vector<SearchResult> find(std::u16string const& typed, size_t offset, size_t limit);

private:
    ChatModel& m_model;
    SearchIndexer* m_indexer;
};

}
