// The chat form on a chat of 5,000 messages: the time from opening the chat to its first drawn
// frame, and the frame time while flinging through it (mean and 99th percentile), drawn headless
// into the display's back buffer as the main loop does. Baseline: one frame of the chat list
// drawn in the same run.
#include "BenchDevice.h"
#include "HeadlessChatList.h"
#include "SyntheticStore.h"
#include "forms/FormChat.h"
#include "forms/FormMain.h"
#include "messaging/ChatModel.h"
#include "platform/MessageStore.h"
#include "platform/Utf.h"
#include "shell/Application.h"
#include "skin/ElementRegistry.h"
#include "skin/FormStack.h"
#include "skin/Properties.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

using namespace velloq;

namespace {

using Clock = std::chrono::steady_clock;

double milliseconds_since(Clock::time_point started)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
}

void BM_OpenAndFlingAChatOf5000Messages(benchmark::State& state)
{
    bench::bench_device();
    {
        std::string error;
        auto store = platform::MessageStore::open_device(error);
        if (!store || !tools::seed_store(*store, 1, 5000, 5)) {
            state.SkipWithError("the store could not be seeded");
            return;
        }
    }
    bench::HeadlessChatList program;
    if (!program.ready()) {
        state.SkipWithError("no main skin");
        return;
    }
    Application& application = program.application();
    FormMain& chats = program.chats();
    auto frame = [&] { program.frame(); };
    frame();
    auto baseline_started = Clock::now();
    application.set_needs_redraw();
    frame();
    double baseline_ms = milliseconds_since(baseline_started);

    Chat const& chat = *program.model().chats().front();
    std::vector<double> open_ms, frame_ms;
    VList& list = chats.chat_form().list();
    uint32_t time = 1000;
    for (auto _ : state) {
        auto opened = Clock::now();
        program.open_chat(chat);
        open_ms.push_back(milliseconds_since(opened));
        while (program.stack().transition())
            frame();
        for (int step = 0; step < 600; ++step) {
            if (list.scroll_speed() == 0) {
                // A fling up, towards the older messages.
                application.pointer_button({ 240, 200, time, true, false });
                for (int move = 1; move <= 6; ++move)
                    application.pointer_move({ 240, 200 + move * 60, time += 16, false, false });
                application.pointer_button({ 240, 560, time, false, false });
            }
            auto started = Clock::now();
            frame();
            frame_ms.push_back(milliseconds_since(started));
            time += 16;
        }
    }
    std::sort(frame_ms.begin(), frame_ms.end());
    std::sort(open_ms.begin(), open_ms.end());
    double mean = 0;
    for (double ms : frame_ms)
        mean += ms;
    state.counters["open_ms"] = open_ms[open_ms.size() / 2];
    state.counters["frame_mean_ms"] = mean / static_cast<double>(frame_ms.size());
    state.counters["frame_p99_ms"] = frame_ms[frame_ms.size() * 99 / 100];
    state.counters["list_frame_ms"] = baseline_ms;
    state.counters["p99_vs_list_frame"] = frame_ms[frame_ms.size() * 99 / 100] / baseline_ms;
    state.counters["messages"] = static_cast<double>(chat.messages.size());
    state.counters["first_shown"] = list.first_built();
}
BENCHMARK(BM_OpenAndFlingAChatOf5000Messages)->Unit(benchmark::kMillisecond)->Iterations(3);

}

BENCHMARK_MAIN();
