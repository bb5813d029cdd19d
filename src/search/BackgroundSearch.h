#pragma once

#include "search/MessageSearch.h"
#include "platform/Worker.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velloq {

class SearchIndexer;

// The searches of the search form, run on a thread and a store connection of their own, so
// typing never waits for the store. A burst of keystrokes is one search, made once typing pauses;
// what was delivered since the index last caught up is indexed first (by the background indexer
// when there is one, which is woken, else here); only the answer to the newest request is kept.
class BackgroundSearch {
public:
    struct Answer {
        std::u16string typed;
        size_t offset { 0 };
        std::vector<SearchResult> results;
        // The search found the index damaged and made it again.
        bool index_remade { false };
    };
    // `answered` runs on the search's thread when an answer is ready (the caller wakes its loop).
    BackgroundSearch(SearchIndexer* indexer, std::function<void()> answered);
    ~BackgroundSearch();
    BackgroundSearch(BackgroundSearch const&) = delete;
    BackgroundSearch& operator=(BackgroundSearch const&) = delete;

    // Asks for `limit` matches of `typed` from the `offset`th on; it replaces a request not yet
    // answered.
    void request(std::u16string typed, size_t offset, size_t limit);
    // The answer to the newest request, once it is there (taken once).
    std::optional<Answer> take_answer();
    // Drops the request not yet answered and any answer to come (nothing is looked for now).
    void cancel();
    // Whether a request waits for its answer.
    bool busy() const;

private:
    struct Request {
        uint64_t number { 0 };
        std::u16string typed;
        size_t offset { 0 };
        size_t limit { 0 };
    };
    void run(platform::Worker&);
    std::optional<Request> take_request();
    std::optional<Request> settled_request(platform::Worker&);
    void catch_up(platform::Worker&, StoreSearch&);
    void answer(Request const&, Answer);

    SearchIndexer* m_indexer;
    std::function<void()> m_answered;
    mutable std::mutex m_mutex;
    std::optional<Request> m_pending;
    std::optional<Answer> m_answer;
    uint64_t m_requested { 0 };
    uint64_t m_answered_number { 0 };
    // Declared last: it stops and joins before the rest goes.
    platform::Worker m_worker;
};

}
