#include "search/StoreSearch.h"

#include "messaging/SmsManager.h"
#include "platform/MessageStore.h"
#include "platform/Utf.h"
#include "search/SearchText.h"
#include "shell/Log.h"

namespace velloq {

namespace {

// What a search indexes before it looks: deliveries since the last search are few.
constexpr size_t search_catch_up = 500;

}

std::optional<size_t> StoreSearch::index(size_t limit)
{
    auto* store = m_sms.store();
    if (!store)
        return std::nullopt;
    return store->search_index().index_for_search(limit, [](std::u16string const& text) { return number_terms(text); }).as_optional();
}

std::optional<size_t> StoreSearch::catch_up()
{
    return index(search_catch_up);
}

std::optional<int64_t> StoreSearch::backlog()
{
    auto* store = m_sms.store();
    if (!store)
        return std::nullopt;
    return store->search_index().backlog().as_optional();
}

std::optional<std::vector<EntryId>> StoreSearch::find(std::string const& match, size_t offset, size_t limit)
{
    auto* store = m_sms.store();
    if (!store)
        return std::nullopt;
    auto& index = store->search_index();
    auto entries = index.search(match, offset, limit);
    // An index that fails a query for any reason but a busy store is damaged: it is made again,
    // and the search tried once more on what is indexed by then.
    if (!entries && entries.error().text.find("locked") == std::string::npos) {
        log() << u"search failed: " << to_utf16(entries.error().text) << u"; the search index is made again\n";
        auto remade = index.rebuild();
        m_index_remade = remade.ok();
        if (remade) {
            catch_up();
            entries = index.search(match, offset, limit);
        } else {
            entries = remade.error();
        }
    }
    if (!entries) {
        log() << u"search failed: " << to_utf16(entries.error().text) << u"\n";
        return std::nullopt;
    }
    std::vector<EntryId> found;
    found.reserve(entries->size());
    for (auto& entry : *entries)
        found.emplace_back(std::move(entry));
    return found;
}

}
