// What any present on X costs at the least, beside the program's own presents in the same run
// (linked into bench_shell).
#include <benchmark/benchmark.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// The least that telling an idle X server anything costs its client: one request of four bytes
// written to its socket, and the answers already there read, with the server given the time of a
// frame's drawing to fall asleep again between two. Every present on X pays at least this.
void BM_BaselineXServerWake(benchmark::State& state)
{
    ::Display* display = XOpenDisplay(nullptr);
    if (!display) {
        state.SkipWithError("no X display");
        return;
    }
    std::vector<uint16_t> drawn(480 * 800);
    uint16_t colour = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::fill(drawn.begin(), drawn.end(), ++colour);
        benchmark::ClobberMemory();
        state.ResumeTiming();
        XNoOp(display);
        XFlush(display);
        XEventsQueued(display, QueuedAfterReading);
    }
    XCloseDisplay(display);
}
BENCHMARK(BM_BaselineXServerWake);

}
