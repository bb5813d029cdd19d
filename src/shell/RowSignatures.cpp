#include "shell/RowSignatures.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace velloq {

namespace {

constexpr size_t lane_count = 16;
constexpr size_t block_bytes = lane_count * sizeof(uint64_t);

struct Sums {
    uint64_t words[lane_count];
    uint64_t running[lane_count];
};

void add_block(Sums& sums, unsigned char const* block)
{
    for (size_t lane = 0; lane < lane_count; ++lane) {
        uint64_t word;
        std::memcpy(&word, block + lane * sizeof(uint64_t), sizeof word);
        sums.words[lane] += word;
        sums.running[lane] += sums.words[lane];
    }
}

// A row's last bytes short of a block count as a block padded with zeros.
void add_tail(Sums& sums, unsigned char const* bytes, size_t count)
{
    if (count == 0)
        return;
    unsigned char block[block_bytes] {};
    std::memcpy(block, bytes, count);
    add_block(sums, block);
}

constexpr uint64_t rotated(uint64_t word, int bits)
{
    return word << bits | word >> (64 - bits);
}

// Each of the four sums a word comes from changes it alone (exclusive or with the others fixed).
RowSignatures::Row folded(Sums const& sums)
{
    RowSignatures::Row row;
    constexpr size_t half = lane_count / 2;
    for (size_t lane = 0; lane < half; ++lane)
        row.lanes[lane] = sums.words[lane] ^ rotated(sums.running[lane], 29) ^ rotated(sums.words[lane + half], 13) ^ rotated(sums.running[lane + half], 47);
    return row;
}

RowSignatures::Row sign_row(unsigned char const* bytes, size_t count)
{
    Sums sums {};
    size_t offset = 0;
    for (; offset + block_bytes <= count; offset += block_bytes)
        add_block(sums, bytes + offset);
    add_tail(sums, bytes + offset, count - offset);
    return folded(sums);
}

void sign_rows(unsigned char const* pixels, size_t pitch, size_t row_bytes, size_t rows, RowSignatures::Row* out)
{
    for (size_t y = 0; y < rows; ++y)
        out[y] = sign_row(pixels + y * pitch, row_bytes);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) inline __m256i rotated_avx2(__m256i words, int bits)
{
    return _mm256_or_si256(_mm256_slli_epi64(words, bits), _mm256_srli_epi64(words, 64 - bits));
}

// The same sums four lanes to a register, all rows in one call so nothing but the sums is
// touched between them. A row's tail is the zero-padded block the plain version adds, read in
// whole 32-byte parts where it has them, and the fold is done in the registers, since at a
// 480-pixel row the tail and the fold cost as much as the blocks.
__attribute__((target("avx2"))) void sign_rows_avx2(unsigned char const* pixels, size_t pitch, size_t row_bytes, size_t rows, RowSignatures::Row* out)
{
    for (size_t y = 0; y < rows; ++y) {
        unsigned char const* bytes = pixels + y * pitch;
        __m256i words[4] = { _mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256() };
        __m256i running[4] = { _mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256() };
        size_t offset = 0;
        for (; offset + block_bytes <= row_bytes; offset += block_bytes) {
            for (int part = 0; part < 4; ++part) {
                words[part] = _mm256_add_epi64(words[part], _mm256_loadu_si256(reinterpret_cast<__m256i const*>(bytes + offset + part * 32)));
                running[part] = _mm256_add_epi64(running[part], words[part]);
            }
        }
        if (offset < row_bytes) {
            size_t left = row_bytes - offset;
            for (size_t part = 0; part < 4; ++part) {
                size_t start = part * 32;
                if (start + 32 <= left) {
                    words[part] = _mm256_add_epi64(words[part], _mm256_loadu_si256(reinterpret_cast<__m256i const*>(bytes + offset + start)));
                } else if (start < left) {
                    alignas(32) unsigned char padded[32] {};
                    std::memcpy(padded, bytes + offset + start, left - start);
                    words[part] = _mm256_add_epi64(words[part], _mm256_load_si256(reinterpret_cast<__m256i const*>(padded)));
                }
                running[part] = _mm256_add_epi64(running[part], words[part]);
            }
        }
        for (int half = 0; half < 2; ++half) {
            __m256i lanes = _mm256_xor_si256(_mm256_xor_si256(words[half], rotated_avx2(running[half], 29)),
                _mm256_xor_si256(rotated_avx2(words[half + 2], 13), rotated_avx2(running[half + 2], 47)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out[y].lanes + half * 4), lanes);
        }
    }
}
#endif

using RowSigner = void (*)(unsigned char const*, size_t, size_t, size_t, RowSignatures::Row*);

RowSigner best_row_signer()
{
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2"))
        return sign_rows_avx2;
#endif
    return sign_rows;
}

}

std::pair<int32_t, int32_t> RowSignatures::changed_rows(Bitmap565 const& frame)
{
    static RowSigner const sign = best_row_signer();
    int32_t height = std::max(0, frame.height());
    m_pending.resize(static_cast<size_t>(height));
    m_pending_width = frame.width();
    sign(reinterpret_cast<unsigned char const*>(frame.pixels()), static_cast<size_t>(frame.pitch()), static_cast<size_t>(std::max(0, frame.width())) * sizeof(uint16_t),
        static_cast<size_t>(height), m_pending.data());
    if (m_presented.size() != m_pending.size() || m_width != m_pending_width)
        return { 0, height };
    int32_t first = 0;
    while (first < height && m_pending[first] == m_presented[first])
        ++first;
    if (first == height)
        return { 0, 0 };
    int32_t end = height;
    while (end > first && m_pending[end - 1] == m_presented[end - 1])
        --end;
    return { first, end };
}

void RowSignatures::presented()
{
    std::swap(m_presented, m_pending);
    m_width = m_pending_width;
}

void RowSignatures::forget()
{
    m_presented.clear();
    m_width = 0;
}

}
