// Frame time while flinging a 10,000-item list of text items on a 480×800 form, drawn headless
// into the display's back buffer as the main loop does: mean and 99th percentile per frame.
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
    explicit Conversations(Properties const& skin)
        : m_skin(skin)
    {
    }
    std::unique_ptr<Element> create_item(VList&, int32_t index) override
    {
        auto item = std::make_unique<Element>();
        build_from_section(*item, m_skin, u"DemoItem");
        item->set_text_by_id(u"name", u"Contact " + to_u16_decimal(index + 1));
        item->set_text_by_id(u"preview", u"Meet you at the station at seven, ok?");
        return item;
    }
    void item_activated(VList&, int32_t) override { }

private:
    Properties const& m_skin;
};

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
    Conversations items(skin);
    list->set_item_source(&items);
    list->reset(10000);
    stack.show(form, false, false);
    Display* display = application.game().display();
    auto fling = [&](uint32_t& time) {
        application.pointer_button({ 240, 700, time, true, false });
        for (int step = 1; step <= 6; ++step)
            application.pointer_move({ 240, 700 - step * 60, time += 16, false, false });
        application.pointer_button({ 240, 340, time, false, false });
    };
    std::vector<double> frame_ms;
    uint32_t time = 1000;
    for (auto _ : state) {
        frame_ms.clear();
        for (int frame = 0; frame < 600; ++frame) {
            if (list->scroll_speed() == 0)
                fling(time);
            auto started = std::chrono::steady_clock::now();
            application.advance(0.016);
            display->begin();
            application.draw(*display->back_buffer());
            display->end(0);
            frame_ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
            time += 16;
        }
    }
    std::sort(frame_ms.begin(), frame_ms.end());
    double mean = 0;
    for (double ms : frame_ms)
        mean += ms;
    state.counters["mean_ms"] = mean / frame_ms.size();
    state.counters["p99_ms"] = frame_ms[frame_ms.size() * 99 / 100];
    state.counters["first_item"] = list->first_built();
    application.set_content(nullptr);
    stack.hide(form, false);
}
BENCHMARK(BM_FlingTenThousandItems)->Unit(benchmark::kMillisecond)->Iterations(3);

}

BENCHMARK_MAIN();
