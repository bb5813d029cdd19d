#include "search/SearchIndexer.h"

#include "platform/MessageStore.h"
#include "platform/Utf.h"
#include "search/SearchText.h"
#include "shell/Log.h"

#include <chrono>

namespace velloq {

namespace {

// One transaction of the background indexer: short enough that a writer waits a few
// milliseconds at most.
constexpr size_t indexed_per_transaction = 500;

}

SearchIndexer::SearchIndexer()
    : m_worker([this](platform::Worker& worker) { run(worker); })
{
}

SearchIndexer::~SearchIndexer() = default;

void SearchIndexer::rebuilding_elsewhere()
{
    m_rebuilding = true;
    wake();
}

void SearchIndexer::wake()
{
    m_worker.wake();
}

void SearchIndexer::follow(std::optional<uint64_t> change_count, bool chats_changed)
{
    if (!chats_changed && change_count && change_count == m_woken_at)
        return;
    m_woken_at = change_count;
    wake();
}

void SearchIndexer::run(platform::Worker& worker)
{
    std::string error;
    auto store = platform::MessageStore::open_device(error);
    if (!store) {
        log() << u"search index: no store: " << to_utf16(error) << u"\n";
        return;
    }
    // A lost or damaged index is made again from the messages, in the background like any indexing.
    auto& index = store->search_index();
    if (auto rebuilt = index.rebuild_if_needed(); rebuilt && *rebuilt) {
        log() << u"search index: missing or damaged; rebuilding it from the messages\n";
        m_rebuilding = true;
    } else if (!rebuilt) {
        log() << u"search index: cannot be checked: " << to_utf16(rebuilt.error().text) << u"\n";
    }
    // At once, then whenever woken.
    do {
        catch_up(worker, index);
    } while (worker.wait());
}

// Indexes what was noted, a transaction at a time, until nothing is left or the worker stops.
void SearchIndexer::catch_up(platform::Worker& worker, platform::SearchIndex& index)
{
    auto terms = [](std::u16string const& text) { return number_terms(text); };
    auto started = std::chrono::steady_clock::now();
    size_t total = 0;
    while (!worker.stop_requested()) {
        auto indexed = index.index_for_search(indexed_per_transaction, terms);
        if (!indexed) {
            log() << u"search index: " << to_utf16(indexed.error().text) << u"\n";
            break;
        }
        total += *indexed;
        if (*indexed < indexed_per_transaction)
            break;
    }
    if (total > 0) {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
        log() << u"search index: " << static_cast<int64_t>(total) << u" messages indexed in " << static_cast<int64_t>(ms) << u" ms\n";
    }
    if (m_rebuilding && index.backlog().value_or(1) == 0)
        m_rebuilding = false;
}

}
