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
    // Unsent text kept for its chat, not a message that came or went.
    bool draft { false };
};

class StoreSearch;

// `limit` matches of what was typed, from the `offset`th on, newest first, each titled by its
// sender (`name_results_by_chat` titles them by their chats and marks the drafts): on any thread,
// with its own store.
// A new search (offset 0) has the index catch up first (`StoreSearch::catch_up`), as the search
// form's thread does.
std::vector<SearchResult> find_messages(StoreSearch&, std::u16string const& typed, size_t offset, size_t limit);
void name_results_by_chat(ChatModel&, std::vector<SearchResult>&);

}
