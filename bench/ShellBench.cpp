// Cost of one frame tick with nothing to draw, and of presenting a full 480×800 frame through the
// SDL display driver (dummy video driver), beside memcpy of the same 768,000 bytes in the same run.
#include "BenchDevice.h"
#include "shell/Application.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

using namespace velloq;

namespace {

Application& bench_application()
{
    static std::unique_ptr<Application> application = [] {
        bench::bench_device();
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        setenv("VELLOQ_SCREEN", "480x800", 1);
        auto made = std::make_unique<Application>(u"VelloqBench");
        made->set_game_input(false);
        made->set_windowed(false);
        made->set_fullscreen(0);
        return made;
    }();
    return *application;
}

void BM_EmptyFrameTick(benchmark::State& state)
{
    auto& application = bench_application();
    application.process_pending_messages();
    for (auto _ : state)
        application.game().tick(false);
}
BENCHMARK(BM_EmptyFrameTick);

void BM_PresentFrameSdl(benchmark::State& state)
{
    auto& application = bench_application();
    Display* display = application.game().display();
    if (!display || !display->begin()) {
        state.SkipWithError("no display");
        return;
    }
    display->back_buffer()->fill(0x1234);
    display->end(0);
    for (auto _ : state) {
        display->begin();
        display->end(0);
    }
    state.SetBytesProcessed(state.iterations() * 480 * 800 * 2);
}
BENCHMARK(BM_PresentFrameSdl);

void BM_BaselineMemcpyFrame(benchmark::State& state)
{
    std::vector<uint16_t> source(480 * 800, 0x1234);
    std::vector<uint16_t> destination(480 * 800);
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), source.size() * 2);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * 480 * 800 * 2);
}
BENCHMARK(BM_BaselineMemcpyFrame);

}

BENCHMARK_MAIN();
