// The chat model on a store seeded with 100,000 messages in 2,000 chats (or 1,000,000 in 10,000
// with VELLOQ_BENCH_SIZE=1m): the first update (the chats from the store's index), a poll that
// finds nothing new (with the message the seed leaves waiting in the outbox), save_cache and
// load_cache, and find_items over every text (megabytes per second).
#include "BenchDevice.h"
#include "SyntheticStore.h"
#include "messaging/ChatCache.h"
#include "messaging/ChatModel.h"
#include "messaging/TextAnalysis.h"
#include "platform/MessageStore.h"
#include "platform/Utf.h"

#include <filesystem>

#include <benchmark/benchmark.h>

using namespace velloq;

namespace {

ChatModel::Options bench_options()
{
    return { u"" + to_utf16(bench::bench_device()) + u"/cache", u"/bin/true", bench::bench_device() + "/contacts" };
}

void seeded_once()
{
    static bool seeded = [] {
        bench::bench_device();
        std::string error;
        auto store = platform::MessageStore::open_device(error);
        return store && tools::seed_store(*store, bench::store_size().chats, bench::store_size().messages, 1);
    }();
    (void)seeded;
}

void BM_FirstFullUpdate(benchmark::State& state)
{
    seeded_once();
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(bench::bench_device() + "/cache");
        auto model = std::make_unique<ChatModel>(bench_options());
        state.ResumeTiming();
        model->update_chats(false);
        state.counters["chats"] = double(model->chats().size());
    }
    state.SetLabel(bench::store_size().name);
}
BENCHMARK(BM_FirstFullUpdate)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_PollFindingNothingNew(benchmark::State& state)
{
    seeded_once();
    ChatModel model(bench_options());
    model.update_chats(false);
    for (auto _ : state)
        benchmark::DoNotOptimize(model.update_chats(true));
}
BENCHMARK(BM_PollFindingNothingNew)->Unit(benchmark::kMicrosecond);

void BM_SaveCache(benchmark::State& state)
{
    seeded_once();
    ChatModel model(bench_options());
    model.update_chats(false);
    for (auto _ : state)
        model.save_cache();
}
BENCHMARK(BM_SaveCache)->Unit(benchmark::kMillisecond);

void BM_LoadCache(benchmark::State& state)
{
    seeded_once();
    {
        ChatModel model(bench_options());
        model.update_chats(false);
    }
    ChatModel model(bench_options());
    for (auto _ : state)
        benchmark::DoNotOptimize(model.load_cache());
}
BENCHMARK(BM_LoadCache)->Unit(benchmark::kMillisecond);

void BM_FindItemsOverAllTexts(benchmark::State& state)
{
    seeded_once();
    SmsManager manager;
    std::vector<std::u16string> texts;
    for (FolderKind kind : { FolderKind::Incoming, FolderKind::Sent }) {
        int32_t length = manager.get_length(kind);
        for (int32_t index = 0; index < length; ++index) {
            MessageRecord record;
            if (manager.read_sms(manager.get_id(kind, index), record))
                texts.push_back(record.text);
        }
    }
    int64_t bytes = 0;
    for (auto const& text : texts)
        bytes += static_cast<int64_t>(text.size() * 2);
    for (auto _ : state) {
        for (auto const& text : texts)
            benchmark::DoNotOptimize(find_items(text));
    }
    state.SetBytesProcessed(bytes * state.iterations());
}
BENCHMARK(BM_FindItemsOverAllTexts)->Unit(benchmark::kMillisecond);

}

BENCHMARK_MAIN();
