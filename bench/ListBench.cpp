// Frame time while flinging a 10,000-item list of text items on a 480×800 form, drawn headless
// into the display's back buffer as the main loop does: mean and 99th percentile per frame, for
// Latin items and, against them in the same run, items a third of them Arabic or Hindi.
#include "BenchDevice.h"
#include "platform/Utf.h"
#include "shell/Application.h"
#include "shell/Paths.h"
#include "skin/ElementRegistry.h"
#include "skin/Form.h"
#include "skin/FormStack.h"
#include "skin/Properties.h"
#include "skin/VList.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

using namespace velloq;

namespace {

class Conversations : public ItemSource {
public:
    Conversations(Properties const& skin, bool world_scripts)
        : m_skin(skin)
        , m_world(world_scripts)
    {
    }
    std::unique_ptr<Element> create_item(VList&, int32_t index) override
    {
        auto item = std::make_unique<Element>();
        build_from_section(*item, m_skin, u"DemoItem");
        std::u16string number = to_u16_decimal(index + 1);
        if (m_world && index % 3 == 1) {
            item->set_text_by_id(u"name", u"أحمد " + number);
            item->set_text_by_id(u"preview", u"نلتقي في المحطة الساعة السابعة، حسنا؟");
        } else if (m_world && index % 3 == 2) {
            item->set_text_by_id(u"name", u"प्रिया " + number);
            item->set_text_by_id(u"preview", u"सात बजे स्टेशन पर मिलते हैं, ठीक है?");
        } else {
            item->set_text_by_id(u"name", u"Contact " + number);
            item->set_text_by_id(u"preview", u"Meet you at the station at seven, ok?");
        }
        return item;
    }
    void item_activated(VList&, int32_t) override { }

private:
    Properties const& m_skin;
    bool m_world;
};

struct Frames {
    double mean_ms { 0 };
    double p99_ms { 0 };
};

Frames summary(std::vector<double> frame_ms)
{
    std::sort(frame_ms.begin(), frame_ms.end());
    double sum = 0;
    for (double ms : frame_ms)
        sum += ms;
    return { sum / static_cast<double>(frame_ms.size()), frame_ms[frame_ms.size() * 99 / 100] };
}

void BM_FlingTenThousandItems(benchmark::State& state)
{
    bench::bench_device();
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("VELLOQ_SCREEN", "480x800", 1);
    Application application(u"VelloqBench");
    ElementTypes types;
    FormStack stack(application);
    application.set_content(&stack);
    application.set_windowed(false);
    application.set_fullscreen(0);
    Properties skin;
    if (!skin.load_skin(u"%app_path%/skins/bin/test.skin", application.screen_info())) {
        state.SkipWithError("no test skin");
        return;
    }
    Form form;
    build_from_section(form, skin, u"FormDemo");
    auto* list = dynamic_cast<VList*>(form.find_by_id(u"list"));
    Conversations latin(skin, false);
    Conversations world(skin, true);
    stack.show(form, false, false);
    Display* display = application.game().display();
    uint32_t time = 1000;
    auto fling_frames = [&](Conversations& items) {
        list->set_item_source(&items);
        list->reset(10000);
        std::vector<double> frame_ms;
        for (int frame = 0; frame < 600; ++frame) {
            if (list->scroll_speed() == 0) {
                application.pointer_button({ 240, 700, time, true, false });
                for (int step = 1; step <= 6; ++step)
                    application.pointer_move({ 240, 700 - step * 60, time += 16, false, false });
                application.pointer_button({ 240, 340, time, false, false });
            }
            auto started = std::chrono::steady_clock::now();
            application.advance(0.016);
            display->begin();
            application.draw(*display->back_buffer());
            display->end(0);
            frame_ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
            time += 16;
        }
        return frame_ms;
    };
    std::vector<double> latin_ms, world_ms;
    for (auto _ : state) {
        auto latin_round = fling_frames(latin);
        auto world_round = fling_frames(world);
        latin_ms.insert(latin_ms.end(), latin_round.begin(), latin_round.end());
        world_ms.insert(world_ms.end(), world_round.begin(), world_round.end());
    }
    Frames latin_frames = summary(latin_ms);
    Frames world_frames = summary(world_ms);
    state.counters["mean_ms"] = latin_frames.mean_ms;
    state.counters["p99_ms"] = latin_frames.p99_ms;
    state.counters["world_mean_ms"] = world_frames.mean_ms;
    state.counters["world_p99_ms"] = world_frames.p99_ms;
    state.counters["world_vs_latin_mean"] = world_frames.mean_ms / latin_frames.mean_ms;
    state.counters["world_vs_latin_p99"] = world_frames.p99_ms / latin_frames.p99_ms;
    state.counters["first_item"] = list->first_built();
    application.set_content(nullptr);
    stack.hide(form, false);
}
BENCHMARK(BM_FlingTenThousandItems)->Unit(benchmark::kMillisecond)->Iterations(3);

}

BENCHMARK_MAIN();
