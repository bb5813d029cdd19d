// Cost of a log line with logging off and on, and of a registry read, each beside a baseline
// measured in the same run: the raw write(2) of the same bytes, and a bare prepared SQLite
// query on the same database.
#include "BenchDevice.h"
#include "shell/Log.h"
#include "shell/Registry.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using namespace velloq;

namespace {

constexpr char16_t const* ketra = u"HKEY_CURRENT_USER\\Software\\Ketra";


void log_one_line()
{
    log() << u"update_chats time:" << 12 << u"\n";
}

void BM_LogLineOff(benchmark::State& state)
{
    bench::bench_device();
    reg_set_int(ketra, u"Log", 0);
    for (auto _ : state)
        log_one_line();
}
BENCHMARK(BM_LogLineOff);

void BM_LogLineOn(benchmark::State& state)
{
    bench::bench_device();
    reg_set_int(ketra, u"Log", 1);
    for (auto _ : state)
        log_one_line();
    reg_set_int(ketra, u"Log", 0);
}
BENCHMARK(BM_LogLineOn);

// The bytes of the same line, written with three write(2) calls as the three insertions are.
void BM_BaselineRawWrites(benchmark::State& state)
{
    std::string path = bench::bench_device() + "/Temp/raw.txt";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::u16string parts[] = { u"update_chats time:", u"12", u"\n" };
    for (auto _ : state) {
        for (auto const& part : parts)
            benchmark::DoNotOptimize(::write(fd, part.data(), part.size() * 2));
    }
    ::close(fd);
}
BENCHMARK(BM_BaselineRawWrites);

void BM_RegGetIntWarm(benchmark::State& state)
{
    bench::bench_device();
    reg_set_int(ketra, u"Log", 0);
    int32_t value = 0;
    for (auto _ : state) {
        reg_get_int(ketra, u"Log", value);
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_RegGetIntWarm);

void BM_BaselineBareSqliteSelect(benchmark::State& state)
{
    std::string path = bench::bench_device() + "/registry.db";
    reg_set_int(ketra, u"Log", 0);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "SELECT v.type, v.data FROM keys k JOIN key_values v ON v.key=k.id WHERE k.hive=?1 AND k.folded=?2 AND v.folded=?3", -1, &statement, nullptr);
    for (auto _ : state) {
        sqlite3_bind_text(statement, 1, "HKEY_CURRENT_USER", -1, SQLITE_STATIC);
        sqlite3_bind_text(statement, 2, "software\\ketra", -1, SQLITE_STATIC);
        sqlite3_bind_text(statement, 3, "log", -1, SQLITE_STATIC);
        benchmark::DoNotOptimize(sqlite3_step(statement));
        sqlite3_reset(statement);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
}
BENCHMARK(BM_BaselineBareSqliteSelect);

}

BENCHMARK_MAIN();
