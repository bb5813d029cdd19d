#include "search/BackgroundSearch.h"

#include "messaging/SmsManager.h"
#include "search/SearchIndexer.h"
#include "search/StoreSearch.h"

namespace velloq {

namespace {

// Typing that pauses this long is a search; keys closer together are one burst.
constexpr int typing_pause_ms = 150;
// How long a search waits for the background indexer to take in what was delivered meanwhile,
// looking every few milliseconds; what is not indexed by then is found at the next search.
constexpr int indexer_wait_ms = 500;
constexpr int indexer_look_ms = 20;

}

BackgroundSearch::BackgroundSearch(SearchIndexer* indexer, std::function<void()> answered)
    : m_indexer(indexer)
    , m_answered(std::move(answered))
    , m_worker([this](platform::Worker& worker) { run(worker); })
{
}

BackgroundSearch::~BackgroundSearch() = default;

void BackgroundSearch::request(std::u16string typed, size_t offset, size_t limit)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending = Request { ++m_requested, std::move(typed), offset, limit };
        m_answer.reset();
    }
    m_worker.wake();
}

void BackgroundSearch::cancel()
{
    std::lock_guard lock(m_mutex);
    m_pending.reset();
    m_answer.reset();
    // An answer under way belongs to an older request: it is dropped when it comes.
    m_answered_number = ++m_requested;
}

std::optional<BackgroundSearch::Answer> BackgroundSearch::take_answer()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_answer, std::nullopt);
}

bool BackgroundSearch::busy() const
{
    std::lock_guard lock(m_mutex);
    return m_answered_number != m_requested;
}

std::optional<BackgroundSearch::Request> BackgroundSearch::take_request()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_pending, std::nullopt);
}

// The newest request once typing has paused; a request for more of the same text (scrolling)
// does not wait. Nullopt when there is none, or the worker stops.
std::optional<BackgroundSearch::Request> BackgroundSearch::settled_request(platform::Worker& worker)
{
    auto request = take_request();
    while (request && request->offset == 0) {
        if (!worker.wait(typing_pause_ms))
            return std::nullopt;
        auto newer = take_request();
        if (!newer)
            break;
        request = std::move(newer);
    }
    return request;
}

void BackgroundSearch::catch_up(platform::Worker& worker, StoreSearch& search)
{
    if (!m_indexer) {
        search.catch_up();
        return;
    }
    m_indexer->wake();
    for (int waited = 0; waited < indexer_wait_ms && search.backlog().value_or(0) > 0; waited += indexer_look_ms) {
        if (!worker.wait(indexer_look_ms))
            return;
    }
}

void BackgroundSearch::answer(Request const& request, Answer answer)
{
    {
        std::lock_guard lock(m_mutex);
        // An answer to a request replaced meanwhile is dropped: the newer one follows.
        if (request.number != m_requested)
            return;
        m_answer = std::move(answer);
        m_answered_number = request.number;
    }
    if (m_answered)
        m_answered();
}

void BackgroundSearch::run(platform::Worker& worker)
{
    SmsManager sms;
    StoreSearch search(sms);
    while (worker.wait()) {
        while (auto request = settled_request(worker)) {
            if (request->offset == 0 && !request->typed.empty())
                catch_up(worker, search);
            Answer found { request->typed, request->offset, find_messages(search, request->typed, request->offset, request->limit), false };
            found.index_remade = search.take_index_remade();
            answer(*request, std::move(found));
        }
    }
}

}
