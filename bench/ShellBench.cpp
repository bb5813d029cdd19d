// Cost of one frame tick with nothing to draw, and of presenting a 480×800 frame in the program's
// window (SDL's dummy video driver; X with SDL_VIDEODRIVER=x11; the program's own Wayland window
// with SDL_VIDEODRIVER=wayland and WAYLAND_DISPLAY, as bench/wayland_present.sh runs it), beside
// memcpy of the same 768,000 bytes in the same run.
#include "BenchDevice.h"
#include "shell/Application.h"

#include "platform/PixelFormat.h"
#include "shell/RowSignatures.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
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

// Presenting in the window: a frame where every row changed, one where 20 rows did
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
    state.SetLabel(application.game().video_driver());
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
        // What the display server answers (a buffer it lets go, the next frame it asks for) is
        // part of presenting.
        application.game().process_pending_messages();
    }
    state.SetBytesProcessed(state.iterations() * 480 * 800 * 2);
}

void BM_PresentFrame(benchmark::State& state)
{
    present_rows(state, 800);
}
BENCHMARK(BM_PresentFrame);

void BM_PresentTwentyRows(benchmark::State& state)
{
    present_rows(state, 20);
}
BENCHMARK(BM_PresentTwentyRows);

void BM_PresentUnchangedFrame(benchmark::State& state)
{
    present_rows(state, 0);
}
BENCHMARK(BM_PresentUnchangedFrame);

// The window alone: a whole 480×800 frame handed to the window (on Wayland, copied into a shared
// buffer the compositor reads and committed), with what the display server answers read after
// it; and that reading alone, to take away.
void BM_WindowPresentFrame(benchmark::State& state)
{
    auto& application = bench_application();
    platform::Window* window = application.game().window();
    if (!window) {
        state.SkipWithError("no window");
        return;
    }
    std::vector<uint16_t> frame(480 * 800, 0x1234);
    std::string error;
    window->prepare_frames(480, 800, error);
    for (auto _ : state) {
        window->present(frame.data(), 480 * 2, 480, 800, { 0, 0, 480, 800 });
        application.game().process_pending_messages();
    }
    state.SetLabel(application.game().video_driver());
    state.SetBytesProcessed(state.iterations() * 480 * 800 * 2);
}
BENCHMARK(BM_WindowPresentFrame);

void BM_BaselineReadMessages(benchmark::State& state)
{
    auto& application = bench_application();
    for (auto _ : state)
        application.game().process_pending_messages();
}
BENCHMARK(BM_BaselineReadMessages);

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

// Finding which rows of a whole frame changed (it reads every byte once), the part of every
// present that does not depend on the display server.
void BM_FindChangedRows(benchmark::State& state)
{
    auto frame = Bitmap565::create(480, 800);
    frame->fill(0x1234);
    RowSignatures rows;
    rows.changed_rows(*frame);
    rows.presented();
    for (auto _ : state)
        benchmark::DoNotOptimize(rows.changed_rows(*frame));
    state.SetBytesProcessed(state.iterations() * 480 * 800 * 2);
}
BENCHMARK(BM_FindChangedRows);

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
