// Pixel and skin costs beside baselines from the same run: full-frame plain and keyed blits
// against memcpy of the same 768,000 bytes, a 480×800 nine-part panel, a line of 40 glyphs, and
// loading a skin as large as a whole program skin.
#include "PictureMaker.h"
#include "SkinWriter.h"
#include "BenchDevice.h"
#include "platform/Utf.h"
#include "skin/Blit.h"
#include "skin/FontRep.h"
#include "skin/PictureRef.h"
#include "skin/Properties.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

using namespace velloq;

namespace {

constexpr int32_t width = 480;
constexpr int32_t height = 800;
constexpr Rect everything { 0, 0, width, height };


void BM_BaselineMemcpyFrame(benchmark::State& state)
{
    auto source = Bitmap565::create(width, height);
    auto destination = Bitmap565::create(width, height);
    for (auto _ : state) {
        std::memcpy(destination->pixels(), source->pixels(), static_cast<size_t>(width) * height * 2);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BaselineMemcpyFrame);

void BM_BlitPlainFrame(benchmark::State& state)
{
    auto source = Bitmap565::create(width, height);
    auto destination = Bitmap565::create(width, height);
    CopyRowOp copy;
    for (auto _ : state) {
        blit(*destination, 0, 0, width, height, *source, 0, 0, everything, copy);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BlitPlainFrame);

void BM_BlitKeyedFrame(benchmark::State& state)
{
    auto source = Bitmap565::create(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            source->row(y)[x] = (x + y) % 3 ? 0x1234 : 0xF81F;
    auto destination = Bitmap565::create(width, height);
    KeyRowOp keyed;
    for (auto _ : state) {
        blit(*destination, 0, 0, width, height, *source, 0, 0, everything, keyed);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BlitKeyedFrame);

void BM_NinePartPanelFrame(benchmark::State& state)
{
    std::shared_ptr<Bitmap565> panel = Bitmap565::create(16, 16);
    panel->fill(0x2222);
    PictureRef ref { panel, { 0, 0 }, { 6, 6 }, { 10, 10 }, { 16, 16 } };
    auto destination = Bitmap565::create(width, height);
    DrawTarget target { everything, destination.get() };
    KeyRowOp keyed;
    for (auto _ : state) {
        ref.draw(target, everything, keyed);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_NinePartPanelFrame);

void BM_DrawLineOf40Glyphs(benchmark::State& state)
{
    bench::bench_device();
    FontRep font({ 10, 1, false, false, false, u"Tahoma" }, 96);
    auto destination = Bitmap565::create(width, 40);
    DrawTarget target { { 0, 0, width, 40 }, destination.get() };
    std::u16string line = u"Meet you at the station at 7, ok? Привет";
    font.draw(target, 0, 0, line, 0xFFFF);
    for (auto _ : state)
        font.draw(target, 0, 0, line, 0xFFFF);
}
BENCHMARK(BM_DrawLineOf40Glyphs);

// A skin of the size of the program's main skin: twenty forms and item templates of sixty
// elements each, every element with a dozen records, ten pictures and eight fonts.
std::u16string write_program_sized_skin()
{
    skinc::SkinSource source;
    for (int picture = 0; picture < 10; ++picture) {
        std::string name = "pic" + std::to_string(picture);
        source.pictures.push_back(to_utf16(name));
        auto bitmap = Bitmap565::create(32, 32);
        auto bytes = skinc::bitmap_file_bytes(*bitmap);
        std::ofstream(bench::bench_device() + "/" + name + ".bmp", std::ios::binary).write(reinterpret_cast<char const*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    for (int form = 0; form < 20; ++form) {
        skinc::SectionSource section;
        section.name = u"Form" + to_utf16(std::to_string(form));
        for (int element = 0; element < 60; ++element) {
            skinc::SectionSource child;
            child.strings = { { u"type", u"node" }, { u"id", u"element" + to_utf16(std::to_string(element)) }, { u"anchor_x", u"BOTH_SIDE" } };
            child.points = { { u"border_min", { 2, 2 } }, { u"border_max", { 2, 2 } }, { u"design_size", { 40, 20 } } };
            child.integers = { { u"cache", 0 }, { u"table_ratio", 1 } };
            child.colours = { { u"color", { 10, 20, 30 } } };
            child.fonts = { { u"font", u"1" + to_utf16(std::to_string(element % 8)) + u" 0 0 0 Tahoma" } };
            child.pictures = { { u"background", { u"pic" + to_utf16(std::to_string(element % 10)), { 0, 0, 4, 4, 28, 28, 32, 32 }, 0 } } };
            section.children.push_back(child);
        }
        source.sections.push_back(section);
    }
    auto bytes = skinc::write_skin(source);
    std::string path = bench::bench_device() + "/program.skin";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<char const*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return to_utf16(path);
}

void BM_LoadProgramSizedSkin(benchmark::State& state)
{
    std::u16string path = write_program_sized_skin();
    ScreenInfo screen;
    screen.dpi = 96;
    for (auto _ : state) {
        Properties skin;
        benchmark::DoNotOptimize(skin.load_skin(path, screen));
    }
}
BENCHMARK(BM_LoadProgramSizedSkin)->Unit(benchmark::kMillisecond);

}

BENCHMARK_MAIN();
