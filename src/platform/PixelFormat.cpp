#include "platform/PixelFormat.h"

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velloq::platform {

// SDL's general blitter converts a pixel at a time through tables; the window's usual 32-bit
// format is a few shifts per pixel, which the compiler turns into vector code. Other formats go
// through SDL.
namespace {

// One pixel in 16-bit halves: blue and green below, red and alpha above.
uint32_t widened(uint16_t pixel)
{
    auto blue_green = static_cast<uint16_t>(((pixel << 3) & 0xF8) | ((pixel >> 2) & 0x07) | ((pixel << 5) & 0xFC00) | ((pixel >> 1) & 0x0300));
    auto red_alpha = static_cast<uint16_t>(0xFF00 | ((pixel >> 8) & 0xF8) | (pixel >> 13));
    return blue_green | static_cast<uint32_t>(red_alpha) << 16;
}

#if defined(__x86_64__)
// Sixteen pixels a step in 256-bit registers, with multiplies doing the shifts and the bit
// repetition at once: a five-bit channel at the top of a 16-bit lane times 0x0108, high half,
// is the channel shifted up three with its top bits below. The input's quarters are put in the
// order the in-half interleave needs, so the pixels come out in order.
__attribute__((target("avx2"))) void widen_rgb565_avx2(uint16_t const* from, uint32_t* to, size_t count)
{
    size_t index = 0;
    __m256i const red_bits = _mm256_set1_epi16(static_cast<short>(0xF800));
    __m256i const green_bits = _mm256_set1_epi16(0x07E0);
    __m256i const high_byte = _mm256_set1_epi16(static_cast<short>(0xFF00));
    __m256i const repeat_five = _mm256_set1_epi16(0x0108);
    __m256i const repeat_six = _mm256_set1_epi16(0x0041);
    for (; index + 16 <= count; index += 16) {
        __m256i pixels = _mm256_permute4x64_epi64(_mm256_loadu_si256(reinterpret_cast<__m256i const*>(from + index)), 0xD8);
        __m256i red = _mm256_mulhi_epu16(_mm256_and_si256(pixels, red_bits), repeat_five);
        __m256i blue = _mm256_mulhi_epu16(_mm256_slli_epi16(pixels, 11), repeat_five);
        // Green's six bits at 4..9 times 0x41 puts them at 10..15 and their top two at 8..9.
        __m256i green = _mm256_and_si256(_mm256_mullo_epi16(_mm256_srli_epi16(_mm256_and_si256(pixels, green_bits), 1), repeat_six), high_byte);
        __m256i blue_green = _mm256_or_si256(blue, green);
        __m256i red_alpha = _mm256_or_si256(red, high_byte);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + index), _mm256_unpacklo_epi16(blue_green, red_alpha));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + index + 8), _mm256_unpackhi_epi16(blue_green, red_alpha));
    }
    for (; index < count; ++index)
        to[index] = widened(from[index]);
}
#endif

void widen_rgb565_baseline(uint16_t const* from, uint32_t* to, size_t count)
{
    size_t index = 0;
#if defined(__SSE2__)
    // Up to the first 16-byte boundary one by one, so the vector stores are aligned.
    for (; index < count && reinterpret_cast<uintptr_t>(to + index) % 16 != 0; ++index)
        to[index] = widened(from[index]);
    // Eight pixels a step: both halves made in 16-bit lanes, then interleaved into pixels.
    __m128i const low_five = _mm_set1_epi16(0x00F8);
    __m128i const low_three = _mm_set1_epi16(0x0007);
    __m128i const high_six = _mm_set1_epi16(static_cast<short>(0xFC00));
    __m128i const high_two = _mm_set1_epi16(0x0300);
    __m128i const alpha = _mm_set1_epi16(static_cast<short>(0xFF00));
    for (; index + 8 <= count; index += 8) {
        __m128i pixels = _mm_loadu_si128(reinterpret_cast<__m128i const*>(from + index));
        __m128i blue = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(pixels, 3), low_five), _mm_and_si128(_mm_srli_epi16(pixels, 2), low_three));
        __m128i green = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(pixels, 5), high_six), _mm_and_si128(_mm_srli_epi16(pixels, 1), high_two));
        __m128i red = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(pixels, 8), low_five), _mm_srli_epi16(pixels, 13));
        __m128i blue_green = _mm_or_si128(blue, green);
        __m128i red_alpha = _mm_or_si128(red, alpha);
        _mm_store_si128(reinterpret_cast<__m128i*>(to + index), _mm_unpacklo_epi16(blue_green, red_alpha));
        _mm_store_si128(reinterpret_cast<__m128i*>(to + index + 4), _mm_unpackhi_epi16(blue_green, red_alpha));
    }
#endif
    for (; index < count; ++index)
        to[index] = widened(from[index]);
}

using Widener = void (*)(uint16_t const*, uint32_t*, size_t);

Widener best_widener()
{
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2"))
        return widen_rgb565_avx2;
#endif
    return widen_rgb565_baseline;
}

}

void widen_rgb565(uint16_t const* from, uint32_t* to, size_t count)
{
    static Widener const widener = best_widener();
    widener(from, to, count);
}

}
