#include "messaging/MessageSearch.h"

#include "messaging/ChatModel.h"
#include "messaging/SearchText.h"
#include "platform/MessageStore.h"
#include "platform/Utf.h"
#include "shell/Log.h"

#include <algorithm>
#include <chrono>

namespace velloq {

namespace {

// One transaction of the background indexer: short enough that a writer waits a few
// milliseconds at most.
constexpr size_t indexed_per_transaction = 500;

std::vector<std::pair<size_t, size_t>> merged(std::vector<std::pair<size_t, size_t>> marks)
{
    std::sort(marks.begin(), marks.end());
    std::vector<std::pair<size_t, size_t>> joined;
    for (auto const& mark : marks) {
        if (!joined.empty() && mark.first <= joined.back().second)
            joined.back().second = std::max(joined.back().second, mark.second);
        else
            joined.push_back(mark);
    }
    return joined;
}

}

std::vector<SearchResult> find_messages(SmsManager& sms, std::u16string const& typed, size_t offset, size_t limit)
{
    SearchQuery query = make_search_query(search_fold(typed));
    if (query.match.empty())
        return {};
    auto hits = sms.search(query.match, offset, limit);
    if (!hits)
        return {};
    std::vector<SearchResult> results;
    results.reserve(hits->size());
    for (EntryId const& id : *hits) {
        MessageRecord record;
        if (!sms.read_sms(id, record))
            continue;
        SearchResult result;
        result.chat_key = chat_key_of(record);
        result.chat_title = record.peer().name.empty() ? record.peer().address : record.peer().name;
        result.id = id;
        result.time = record.time;
        result.text = record.text;
        // Folding keeps each character in its place, so marks in the folded text mark the text.
        auto marks = word_marks(search_fold(result.text), query.words);
        auto numbers = number_marks(result.text, query.number);
        marks.insert(marks.end(), numbers.begin(), numbers.end());
        result.marks = merged(std::move(marks));
        results.push_back(std::move(result));
    }
    return results;
}

void name_results_by_chat(ChatModel& model, std::vector<SearchResult>& results)
{
    for (auto& result : results)
        if (Chat* chat = model.find_chat(result.chat_key))
            result.chat_title = chat->title();
}

std::vector<SearchResult> MessageSearch::find(std::u16string const& typed, size_t offset, size_t limit)
{
    SmsManager& sms = m_model.sms();
    if (offset == 0)
        sms.catch_up_search_index();
    auto results = find_messages(sms, typed, offset, limit);
    if (sms.take_search_index_remade())
        m_model.search_index_remade();
    name_results_by_chat(m_model, results);
    return results;
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
