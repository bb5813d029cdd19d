// The chat form on a chat of 5,000 messages: the time from opening the chat to its first drawn
// frame, and the frame time while flinging through it (mean and 99th percentile), drawn headless
// into the display's back buffer as the main loop does. Baselines: one frame of the chat list,
// and for a chat a third of it in Arabic and Hindi, the same figures of a Latin chat, in the
// same run.
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

struct FlingFigures {
    double open_ms { 0 };
    double mean_ms { 0 };
    double p99_ms { 0 };
};

// Opens the chat, then flings through it for 600 frames, `rounds` times.
FlingFigures open_and_fling(bench::HeadlessChatList& program, Chat const& chat, int rounds)
{
    Application& application = program.application();
    VList& list = program.chats().chat_form().list();
    std::vector<double> open_ms, frame_ms;
    static uint32_t time = 1000;
    for (int round = 0; round < rounds; ++round) {
        auto opened = Clock::now();
        program.open_chat(chat);
        open_ms.push_back(milliseconds_since(opened));
        while (program.stack().transition())
            program.frame();
        for (int step = 0; step < 600; ++step) {
            if (list.scroll_speed() == 0) {
                // A fling up, towards the older messages.
                application.pointer_button({ 240, 200, time, true, false });
                for (int move = 1; move <= 6; ++move)
                    application.pointer_move({ 240, 200 + move * 60, time += 16, false, false });
                application.pointer_button({ 240, 560, time, false, false });
            }
            auto started = Clock::now();
            program.frame();
            frame_ms.push_back(milliseconds_since(started));
            time += 16;
        }
    }
    std::sort(frame_ms.begin(), frame_ms.end());
    std::sort(open_ms.begin(), open_ms.end());
    double sum = 0;
    for (double ms : frame_ms)
        sum += ms;
    return { open_ms[open_ms.size() / 2], sum / static_cast<double>(frame_ms.size()), frame_ms[frame_ms.size() * 99 / 100] };
}

// Two chats of 5,000 messages: one in Latin and Cyrillic, one with a third of its messages in
// Arabic or Hindi (shaped, right to left, from fallback faces); each figure of the second is
// also given against the first's.
void BM_OpenAndFlingAChatOf5000Messages(benchmark::State& state)
{
    bench::bench_device();
    {
        std::string error;
        auto store = platform::MessageStore::open_device(error);
        if (!store || !tools::seed_store(*store, 1, 5000, 5) || !tools::seed_store(*store, 1, 5000, 5, true, 1)) {
            state.SkipWithError("the store could not be seeded");
            return;
        }
    }
    bench::HeadlessChatList program;
    if (!program.ready()) {
        state.SkipWithError("no main skin");
        return;
    }
    program.frame();
    auto baseline_started = Clock::now();
    program.application().set_needs_redraw();
    program.frame();
    double baseline_ms = milliseconds_since(baseline_started);

    auto const& chats = program.model().chats();
    auto in_world_scripts = [](auto const& chat) {
        return std::any_of(chat->messages.begin(), chat->messages.end(), [](MessageRecord const& message) {
            return std::any_of(message.text.begin(), message.text.end(), [](char16_t c) { return c >= 0x0600 && c < 0x0E00; });
        });
    };
    auto world = std::find_if(chats.begin(), chats.end(), in_world_scripts);
    auto latin = std::find_if(chats.begin(), chats.end(), [&](auto const& chat) { return chat != *world; });
    if (chats.size() != 2 || world == chats.end() || latin == chats.end()) {
        state.SkipWithError("the two seeded chats are not there");
        return;
    }
    FlingFigures latin_figures, world_figures;
    for (auto _ : state) {
        latin_figures = open_and_fling(program, **latin, 1);
        world_figures = open_and_fling(program, **world, 1);
    }
    state.counters["open_ms"] = latin_figures.open_ms;
    state.counters["frame_mean_ms"] = latin_figures.mean_ms;
    state.counters["frame_p99_ms"] = latin_figures.p99_ms;
    state.counters["list_frame_ms"] = baseline_ms;
    state.counters["p99_vs_list_frame"] = latin_figures.p99_ms / baseline_ms;
    state.counters["world_open_ms"] = world_figures.open_ms;
    state.counters["world_frame_mean_ms"] = world_figures.mean_ms;
    state.counters["world_frame_p99_ms"] = world_figures.p99_ms;
    state.counters["world_vs_latin_mean"] = world_figures.mean_ms / latin_figures.mean_ms;
    state.counters["world_vs_latin_p99"] = world_figures.p99_ms / latin_figures.p99_ms;
    state.counters["world_vs_latin_open"] = world_figures.open_ms / latin_figures.open_ms;
}
BENCHMARK(BM_OpenAndFlingAChatOf5000Messages)->Unit(benchmark::kMillisecond)->Iterations(3);

}

BENCHMARK_MAIN();
