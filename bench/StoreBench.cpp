// The message store at the size of a long-used phone (VELLOQ_BENCH_SIZE: 100,000 messages, or
// 1m): seeding it, and reading all of them through sms_manager (a get_id scan and read_sms of
// each) beside a plain SQLite select of the same rows and properties in the same run.
#include "BenchDevice.h"
#include "SyntheticStore.h"
#include "messaging/ModemInbox.h"
#include "messaging/SmsManager.h"
#include "platform/MessageStore.h"
#include "platform/Utf.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>

using namespace velloq;

namespace {

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

void BM_Seed(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        std::string folder = bench::bench_device() + "/seed-" + std::to_string(state.iterations());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        std::string error;
        auto store = platform::MessageStore::open(folder + "/messages.db", error);
        state.ResumeTiming();
        (void)tools::seed_store(*store, bench::store_size().chats, bench::store_size().messages, 1);
    }
    state.counters["messages_per_s"] = benchmark::Counter(double(bench::store_size().messages) * state.iterations(), benchmark::Counter::kIsRate);
    state.SetLabel(bench::store_size().name);
}
BENCHMARK(BM_Seed)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ReadWholeStoreThroughSmsManager(benchmark::State& state)
{
    seeded_once();
    int64_t read = 0;
    for (auto _ : state) {
        SmsManager manager;
        for (FolderKind kind : { FolderKind::Incoming, FolderKind::Sent, FolderKind::Drafts, FolderKind::Outbox }) {
            int32_t length = manager.get_length(kind);
            for (int32_t index = 0; index < length; ++index) {
                MessageRecord record;
                read += manager.read_sms(manager.get_id(kind, index), record);
            }
        }
    }
    state.counters["messages"] = double(read) / state.iterations();
}
BENCHMARK(BM_ReadWholeStoreThroughSmsManager)->Unit(benchmark::kMillisecond)->Iterations(2);

// The whole store as a first start reads it: one ordered pass over the four folders.
void BM_ReadWholeStoreInOnePass(benchmark::State& state)
{
    seeded_once();
    int64_t read = 0;
    for (auto _ : state) {
        SmsManager manager;
        manager.read_folders({ FolderKind::Incoming, FolderKind::Sent, FolderKind::Drafts, FolderKind::Outbox },
            [&](MessageRecord&& record) { read += !record.id.is_empty(); });
    }
    state.counters["messages"] = double(read) / state.iterations();
}
BENCHMARK(BM_ReadWholeStoreInOnePass)->Unit(benchmark::kMillisecond)->Iterations(2);

// The same rows with their properties and recipients, fetched by three plain selects.
void BM_BaselinePlainSelect(benchmark::State& state)
{
    seeded_once();
    sqlite3* db = nullptr;
    sqlite3_open_v2((bench::bench_device() + "/messages.db").c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    int64_t values = 0;
    for (auto _ : state) {
        for (char const* sql : { "SELECT id, entry_id FROM messages ORDER BY folder, id", "SELECT message, tag, value FROM properties",
                 "SELECT message, row, tag, value FROM recipients" }) {
            sqlite3_stmt* statement = nullptr;
            sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
            while (sqlite3_step(statement) == SQLITE_ROW) {
                benchmark::DoNotOptimize(sqlite3_column_blob(statement, 1));
                ++values;
            }
            sqlite3_finalize(statement);
        }
    }
    sqlite3_close(db);
    state.counters["rows"] = double(values) / state.iterations();
}
BENCHMARK(BM_BaselinePlainSelect)->Unit(benchmark::kMillisecond)->Iterations(2);

}

// Filing messages taken from a modem one at a time, each in its own transaction with its key and
// the unread count published, as the modem service does: the store's share of receiving.
void BM_FileFromModem(benchmark::State& state)
{
    bench::bench_device();
    std::string error;
    auto store = platform::MessageStore::open(bench::bench_device() + "/modem-filing.db", error);
    int64_t index = 0;
    for (auto _ : state) {
        ReceivedSms sms { u"+4915120" + to_utf16(std::to_string(index % 1000)), u"Message " + to_utf16(std::to_string(index)), "2026-12-08T10:15:30+01:00",
            index, ":1.1", "/org/freedesktop/ModemManager1/SMS/" + std::to_string(index) };
        benchmark::DoNotOptimize(file_received_sms(*store, sms));
        ++index;
    }
    state.counters["messages_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FileFromModem)->Unit(benchmark::kMicrosecond)->Iterations(1000);

BENCHMARK_MAIN();
