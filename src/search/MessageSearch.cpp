#include "search/MessageSearch.h"

#include "messaging/ChatModel.h"
#include "messaging/SmsManager.h"
#include "platform/Utf.h"
#include "search/SearchText.h"
#include "search/StoreSearch.h"

#include <algorithm>

namespace velloq {

namespace {

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

std::vector<SearchResult> find_messages(StoreSearch& search, std::u16string const& typed, size_t offset, size_t limit)
{
    SearchQuery query = make_search_query(search_fold(typed));
    if (query.match.empty())
        return {};
    auto hits = search.find(query.match, offset, limit);
    if (!hits)
        return {};
    std::vector<SearchResult> results;
    results.reserve(hits->size());
    for (EntryId const& id : *hits) {
        MessageRecord record;
        if (!search.sms().read_sms(id, record))
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
    for (auto& result : results) {
        if (Chat* chat = model.find_chat(result.chat_key))
            result.chat_title = chat->title();
        result.draft = model.folder_holds(FolderKind::Drafts, result.id);
    }
}

}
