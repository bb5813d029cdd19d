// Cost of one frame tick with nothing to draw, and of presenting a 480×800 frame through the SDL
// display driver (the dummy video driver, or X with SDL_VIDEODRIVER=x11), beside memcpy of the same
// 768,000 bytes in the same run.
#include "BenchDevice.h"
#include "shell/Application.h"

#include "platform/PixelFormat.h"

#include <benchmark/benchmark.h>

#include <algorithm>
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
        application.game().tick();
}
BENCHMARK(BM_EmptyFrameTick);

// Presenting through the SDL driver: a frame where every row changed, one where 20 rows did
// (a caret, a clock), and one where nothing did, which is found out and not presented.
void present_rows(benchmark::State& state, int32_t changed_rows)
{
    auto& application = bench_application();
    Display* display = application.game().display();
    if (!display || !display->begin()) {
        state.SkipWithError("no display");
        return;
    }
    display->back_buffer()->fill(0x1234);
    display->end(0);
    uint16_t colour = 0x1234;
    for (auto _ : state) {
        // The program draws each frame whole; the drawing is not what is measured.
        state.PauseTiming();
        display->begin();
        colour ^= 0x0841;
        Bitmap565& frame = *display->back_buffer();
        frame.fill(0x1234);
        for (int32_t y = 0; y < changed_rows; ++y)
            std::fill(frame.row(400 + y - changed_rows / 2), frame.row(400 + y - changed_rows / 2) + frame.width(), colour);
        state.ResumeTiming();
        display->end(0);
    }
    state.SetBytesProcessed(state.iterations() * 480 * 800 * 2);
}

void BM_PresentFrameSdl(benchmark::State& state)
{
    present_rows(state, 800);
}
BENCHMARK(BM_PresentFrameSdl);

void BM_PresentTwentyRowsSdl(benchmark::State& state)
{
    present_rows(state, 20);
}
BENCHMARK(BM_PresentTwentyRowsSdl);

void BM_PresentUnchangedFrameSdl(benchmark::State& state)
{
    present_rows(state, 0);
}
BENCHMARK(BM_PresentUnchangedFrameSdl);

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

// The 5-6-5 to 32-bit widening alone, which a whole-frame present pays once.
void BM_WidenFrame(benchmark::State& state)
{
    std::vector<uint16_t> source(480 * 800, 0x1234);
    std::vector<uint32_t> destination(480 * 800);
    for (auto _ : state) {
        platform::widen_rgb565(source.data(), destination.data(), source.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * 480 * 800 * 2);
}
BENCHMARK(BM_WidenFrame);

}

BENCHMARK_MAIN();
