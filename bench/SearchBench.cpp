// Searching every message of a long-used phone: 100,000 messages, or 1m with VELLOQ_BENCH_SIZE
// (and twenty with a rare word),
// the index built for a store that had none (the migration), and searches as the search form
// makes them (a common word, a rare one, a number), beside the bare full-text query in the same
// run.
#include "BenchDevice.h"
#include "SyntheticStore.h"
#include "messaging/ChatModel.h"
#include "search/MessageSearch.h"
#include "search/StoreSearch.h"
#include "search/SearchText.h"
#include "platform/MessageStore.h"
#include "platform/SqliteDatabase.h"

#include <benchmark/benchmark.h>

#include <memory>

using namespace velloq;

namespace {

constexpr size_t shown = 40;

void seeded_once()
{
    static bool seeded = [] {
        bench::bench_device();
        std::string error;
        auto store = platform::MessageStore::open_device(error);
        if (!store || !tools::seed_store(*store, bench::store_size().chats, bench::store_size().messages, 1))
            return false;
        auto sms = store->stores()->front().entry_id;
        auto inbox = *store->store_property(sms, platform::Tag::InboxEntryId);
        for (int i = 0; i < 20; ++i) {
            platform::StoredMessage message;
            message.properties = { { platform::Tag::Subject, std::u16string(u"The zeppelin lands at noon") }, { platform::Tag::MessageFlags, int64_t(1) },
                { platform::Tag::DeliveryTime, MessageTime::from_unix_milliseconds(1'760'000'000'000LL + i * 60'000).filetime() },
                { platform::Tag::SenderName, std::u16string() }, { platform::Tag::SenderAddress, std::u16string(u"+4915100000042") },
                { platform::Tag::MessageClass, std::u16string(u"IPM.SMStext") } };
            store->create_message(inbox, message, false);
        }
        return true;
    }();
    if (!seeded)
        std::abort();
}

// What an older store looks like to the index: nothing indexed, every message noted.
void forget_index(platform::MessageStore&)
{
    std::string error;
    auto database = platform::SqliteDatabase::open(bench::bench_device() + "/messages.db", 2000, error);
    database->execute("DROP TABLE IF EXISTS message_search; INSERT OR IGNORE INTO search_pending(message) SELECT id FROM messages;");
}

void BM_BuildIndex(benchmark::State& state)
{
    seeded_once();
    std::string error;
    for (auto _ : state) {
        state.PauseTiming();
        forget_index(*platform::MessageStore::open_device(error));
        auto store = platform::MessageStore::open_device(error);
        state.ResumeTiming();
        size_t total = 0;
        while (auto indexed = store->search_index().index_for_search(500, [](std::u16string const& text) { return number_terms(text); })) {
            total += *indexed;
            if (*indexed == 0)
                break;
        }
        state.counters["messages"] = static_cast<double>(total);
    }
}
BENCHMARK(BM_BuildIndex)->Unit(benchmark::kMillisecond)->Iterations(2);

ChatModel& indexed_model()
{
    static std::unique_ptr<ChatModel> model = [] {
        seeded_once();
        auto made = std::make_unique<ChatModel>();
        made->update_chats(false);
        StoreSearch warm_up(made->sms());
        warm_up.catch_up();
        std::string error;
        auto store = platform::MessageStore::open_device(error);
        while (store->search_index().index_for_search(5000, [](std::u16string const& text) { return number_terms(text); }).value_or(0) > 0) { }
        return made;
    }();
    return *model;
}

void search(benchmark::State& state, char16_t const* typed)
{
    ChatModel& model = indexed_model();
    size_t found = 0;
    // As the search form's thread searches a new text.
    for (auto _ : state) {
        StoreSearch search(model.sms());
        search.catch_up();
        auto results = find_messages(search, typed, 0, shown);
        name_results_by_chat(model, results);
        found = results.size();
    }
    state.counters["found"] = static_cast<double>(found);
}

void BM_SearchCommonWord(benchmark::State& state) { search(state, u"late"); }
void BM_SearchRareWord(benchmark::State& state) { search(state, u"zeppelin"); }
void BM_SearchNumber(benchmark::State& state) { search(state, u"+49 151"); }
void BM_SearchCyrillicPrefix(benchmark::State& state) { search(state, u"встре"); }
BENCHMARK(BM_SearchCommonWord)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchRareWord)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchNumber)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchCyrillicPrefix)->Unit(benchmark::kMillisecond);

// The bare query: the newest matches' ids by their time, nothing read or marked.
void BM_BaselineBareQueryCommonWord(benchmark::State& state)
{
    indexed_model();
    std::string error;
    auto database = platform::SqliteDatabase::open(bench::bench_device() + "/messages.db", 2000, error);
    auto statement = database->prepare("SELECT s.rowid FROM message_search s LEFT JOIN properties d ON d.message = s.rowid AND d.tag = 235274304 "
                                       "WHERE message_search MATCH 'body : \"late\"*' ORDER BY d.value DESC LIMIT 40");
    size_t rows = 0;
    for (auto _ : state) {
        statement->reset();
        rows = 0;
        while (statement->step())
            ++rows;
    }
    state.counters["found"] = static_cast<double>(rows);
}
BENCHMARK(BM_BaselineBareQueryCommonWord)->Unit(benchmark::kMillisecond);

}

BENCHMARK_MAIN();
