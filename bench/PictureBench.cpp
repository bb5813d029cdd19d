// Making the thumbnail of a phone camera's 12-megapixel JPEG (4000×3000, made here with the
// library's own encoder a row at a time) for a bubble of a 480-pixel-wide screen, and how much
// the process's peak memory grew while it did; beside reading the JPEG's bytes once.
#include "SyntheticPhoto.h"
#include "forms/OutgoingPicture.h"
#include "platform/PictureThumbnail.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <malloc.h>
#include <unistd.h>
#include <string>
#include <vector>

using namespace velloq;

namespace {

constexpr int photo_width = 4000;
constexpr int photo_height = 3000;

// Smooth shading with a fine pattern over it, so the encoder keeps as many coefficients as a
// real photo's.
std::string camera_jpeg()
{
    return bench::synthetic_jpeg(photo_width, photo_height, 90, [](unsigned x, unsigned y, unsigned char* rgb) {
        rgb[0] = static_cast<unsigned char>(x * 255 / photo_width ^ (y * 7 + x * 3) % 23);
        rgb[1] = static_cast<unsigned char>(y * 255 / photo_height ^ (x * 5) % 17);
        rgb[2] = static_cast<unsigned char>((x + y) % 256);
    });
}

std::string const& photo()
{
    static std::string const bytes = camera_jpeg();
    return bytes;
}

// The kernel's high-water mark of this process's resident memory, in KiB; writing 5 to
// clear_refs sets it back to what is resident now.
long peak_resident_kb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

long resident_kb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Freed memory goes back to the system first, so what the decoder takes shows as growth
// instead of reusing pages that are resident already.
void reset_peak()
{
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
}

template<typename Decode>
void measure_decoding(benchmark::State& state, Decode decode)
{
    std::string const& bytes = photo();
    long growth = 0;
    for (auto _ : state) {
        state.PauseTiming();
        reset_peak();
        long before = resident_kb();
        state.ResumeTiming();
        std::string error;
        auto thumbnail = decode(bytes, error);
        benchmark::DoNotOptimize(thumbnail);
        state.PauseTiming();
        if (!thumbnail)
            state.SkipWithError(error.c_str());
        growth = std::max(growth, peak_resident_kb() - before);
        state.ResumeTiming();
    }
    state.counters["peak_growth_kb"] = static_cast<double>(growth);
    state.counters["jpeg_kb"] = static_cast<double>(bytes.size() / 1024);
}

void BM_ThumbnailOf12MegapixelJpeg(benchmark::State& state)
{
    measure_decoding(state, [](std::string const& bytes, std::string& error) { return platform::decode_thumbnail(bytes, 312, 416, error); });
}
BENCHMARK(BM_ThumbnailOf12MegapixelJpeg)->Unit(benchmark::kMillisecond);

// The same photo decoded whole, as a picture of its full size would be.
void BM_BaselineDecodeWholeJpeg(benchmark::State& state)
{
    measure_decoding(state, [](std::string const& bytes, std::string& error) { return platform::decode_picture(bytes, photo_height, error); });
}
BENCHMARK(BM_BaselineDecodeWholeJpeg)->Unit(benchmark::kMillisecond);

// The photo made ready to go as an MMS: read from its file, scaled down and encoded again until it
// fits the carrier's 300 KB, and written into the outgoing folder.
void BM_PrepareOutgoing12MegapixelJpeg(benchmark::State& state)
{
    char folder[] = "/tmp/velloq-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    std::string source = std::string(folder) + "/camera.jpg";
    std::ofstream(source, std::ios::binary) << photo();
    uint64_t sent_bytes = 0;
    for (auto _ : state) {
        std::string error;
        auto part = prepare_outgoing_picture(source, folder, "MMS", error);
        state.PauseTiming();
        if (!part) {
            state.SkipWithError(error.c_str());
            break;
        }
        sent_bytes = part->length;
        std::remove(part->file.c_str());
        state.ResumeTiming();
    }
    std::remove(source.c_str());
    rmdir(folder);
    state.counters["sent_kb"] = static_cast<double>(sent_bytes / 1024);
}
BENCHMARK(BM_PrepareOutgoing12MegapixelJpeg)->Unit(benchmark::kMillisecond);

void BM_BaselineReadJpegBytes(benchmark::State& state)
{
    std::string const& bytes = photo();
    std::vector<char> copy(bytes.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), bytes.data(), bytes.size());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BaselineReadJpegBytes)->Unit(benchmark::kMillisecond);

}

BENCHMARK_MAIN();
