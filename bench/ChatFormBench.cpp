// The chat form on a chat of 5,000 messages: the time from opening the chat to its first drawn
// frame, and the frame time while flinging through it (mean and 99th percentile), drawn headless
// into the display's back buffer as the main loop does. Baseline: one frame of the chat list
// drawn in the same run.
#include "BenchDevice.h"
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
    std::string const& device = bench::bench_device();
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("VELLOQ_SCREEN", "480x800", 1);
    {
        std::string error;
        auto store = platform::MessageStore::open_device(error);
        if (!store || !tools::seed_store(*store, 1, 5000, 5)) {
            state.SkipWithError("the store could not be seeded");
            return;
        }
    }
    ElementTypes types;
    Application application(u"Velloq");
    FormStack stack(application);
    application.set_content(&stack);
    application.set_windowed(false);
    application.set_fullscreen(0);
    ChatModel model({ to_utf16(device) + u"/cache", u"/bin/true", device + "/contacts" });
    model.update_chats(false);
    model.assign_contacts();
    Properties skin;
    skin.language().load_language(u"Velloq");
    if (!skin.load_skin(u"%app_path%/skins/bin/default.skin", application.screen_info())) {
        state.SkipWithError("no main skin");
        return;
    }
    FormMain chats(application, stack, skin, model);
    stack.show(chats, false, false);
    Display* display = application.game().display();
    auto frame = [&] {
        application.advance(0.016);
        display->begin();
        application.draw(*display->back_buffer());
        display->end(0);
    };
    frame();
    auto baseline_started = Clock::now();
    application.set_needs_redraw();
    frame();
    double baseline_ms = milliseconds_since(baseline_started);

    Chat const& chat = *model.chats().front();
    PhoneEntry entry { chat.name, chat.address, chat.phone_label, chat.key, chat.contact_id, 0 };
    std::vector<double> open_ms, frame_ms;
    VList& list = chats.chat_form().list();
    uint32_t time = 1000;
    for (auto _ : state) {
        stack.hide(chats.chat_form(), false);
        auto opened = Clock::now();
        chats.open_chat(entry);
        frame();
        open_ms.push_back(milliseconds_since(opened));
        while (stack.transition())
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
    application.set_content(nullptr);
}
BENCHMARK(BM_OpenAndFlingAChatOf5000Messages)->Unit(benchmark::kMillisecond)->Iterations(3);

}

BENCHMARK_MAIN();
