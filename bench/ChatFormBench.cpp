// The chat form on a chat of 5,000 messages: the time from opening the chat to its first drawn
// frame, and the frame time while flinging through it (mean and 99th percentile), drawn headless
// into the display's back buffer as the main loop does. Baselines: one frame of the chat list,
// and for a chat a third of it in Arabic and Hindi, and for one with 500 pictures (each its own
// photo, its thumbnail made while the list moves), the same figures of a Latin chat, in the
// same run.
#include "BenchDevice.h"
#include "HeadlessChatList.h"
#include "SyntheticPhoto.h"
#include "SyntheticStore.h"
#include "forms/FormChat.h"
#include "forms/FormMain.h"
#include "messaging/ChatModel.h"
#include "messaging/MmsInbox.h"
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
#include <fstream>
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

// A photo of 800×600 whose colours follow `seed`, as a JPEG.
std::string photo_jpeg(int seed)
{
    return bench::synthetic_jpeg(800, 600, 85, [seed](unsigned x, unsigned y, unsigned char* rgb) {
        rgb[0] = static_cast<unsigned char>(x * 255 / 800 + static_cast<unsigned>(seed) * 37);
        rgb[1] = static_cast<unsigned char>(y * 255 / 600 + static_cast<unsigned>(seed) * 11);
        rgb[2] = static_cast<unsigned char>((x ^ y) + static_cast<unsigned>(seed));
    });
}

// A chat of 5,000 messages from one number, every tenth an MMS with a photo of its own; the
// photos lie in one file, as the MMS service keeps a message's parts.
bool seed_picture_chat(platform::MessageStore& store, std::string const& folder)
{
    std::string file = folder + "/pictures.mms";
    std::ofstream out(file, std::ios::binary);
    std::vector<MessagePart> parts;
    uint64_t offset = 0;
    for (int index = 0; index < 500; ++index) {
        std::string photo = photo_jpeg(index);
        out << photo;
        parts.push_back({ "image/jpeg", offset, photo.size(), file });
        offset += photo.size();
    }
    out.close();
    auto inbox = store.folder(platform::Tag::InboxEntryId);
    if (!inbox)
        return false;
    int64_t start = MessageTime::now().filetime() - 5000LL * 60 * 10'000'000;
    std::vector<std::pair<platform::Bytes, platform::StoredMessage>> texts;
    for (int index = 0; index < 5000; ++index) {
        int64_t at = start + index * 60LL * 10'000'000;
        if (index % 10 == 0) {
            ReceivedMms mms { "/bench", "/bench/" + std::to_string(index), u"+4915177700000", {}, index % 20 == 0 ? u"Look at this" : u"", at, true,
                { parts[static_cast<size_t>(index / 10)] } };
            if (!file_received_mms(store, mms))
                return false;
            continue;
        }
        platform::StoredMessage message;
        message.properties = { { platform::Tag::Subject, u"Message number " + to_utf16(std::to_string(index)) + u" with a few words in it" },
            { platform::Tag::MessageFlags, int64_t(1) }, { platform::Tag::DeliveryTime, at }, { platform::Tag::SenderName, std::u16string() },
            { platform::Tag::SenderAddress, std::u16string(u"+4915177700000") }, { platform::Tag::MessageClass, std::u16string(u"IPM.SMStext") } };
        texts.emplace_back(*inbox, std::move(message));
    }
    return static_cast<bool>(store.create_messages(texts));
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
        if (!store || !tools::seed_store(*store, 1, 5000, 5) || !tools::seed_store(*store, 1, 5000, 5, true, 1)
            || !seed_picture_chat(*store, bench::bench_device())) {
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
    auto pictures = std::find_if(chats.begin(), chats.end(), [](auto const& chat) { return chat->key == u"7700000"; });
    auto latin = std::find_if(chats.begin(), chats.end(), [&](auto const& chat) { return chat != *world && chat != *pictures; });
    if (chats.size() != 3 || world == chats.end() || latin == chats.end() || pictures == chats.end()) {
        state.SkipWithError("the three seeded chats are not there");
        return;
    }
    FlingFigures latin_figures, world_figures, picture_figures;
    for (auto _ : state) {
        latin_figures = open_and_fling(program, **latin, 1);
        world_figures = open_and_fling(program, **world, 1);
        picture_figures = open_and_fling(program, **pictures, 1);
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
    state.counters["pictures_open_ms"] = picture_figures.open_ms;
    state.counters["pictures_frame_mean_ms"] = picture_figures.mean_ms;
    state.counters["pictures_frame_p99_ms"] = picture_figures.p99_ms;
    state.counters["pictures_vs_latin_mean"] = picture_figures.mean_ms / latin_figures.mean_ms;
    state.counters["pictures_vs_latin_p99"] = picture_figures.p99_ms / latin_figures.p99_ms;
    state.counters["pictures_vs_latin_open"] = picture_figures.open_ms / latin_figures.open_ms;
}
BENCHMARK(BM_OpenAndFlingAChatOf5000Messages)->Unit(benchmark::kMillisecond)->Iterations(3);

}

BENCHMARK_MAIN();
