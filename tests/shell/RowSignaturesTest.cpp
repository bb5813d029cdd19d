#include "shell/RowSignatures.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>

using namespace velloq;

namespace {

using Band = std::pair<int32_t, int32_t>;

// A picture of random pixels with random bytes in its rows' padding.
std::unique_ptr<Bitmap565> noise(int32_t width, int32_t height, std::mt19937& random)
{
    auto picture = Bitmap565::create(width, height);
    for (int32_t y = 0; y < height; ++y) {
        auto* bytes = reinterpret_cast<unsigned char*>(picture->row(y));
        for (int32_t index = 0; index < picture->pitch(); ++index)
            bytes[index] = static_cast<unsigned char>(random());
    }
    return picture;
}

}

// Every pixel of rows of every length a vector step can leave over, each bit of it: the row is
// found, alone; the padding past the row's end is no part of it.
TEST(RowSignatures, AnyChangedPixelFindsItsRowAndNothingElseDoes)
{
    std::mt19937 random(7);
    for (int32_t width : { 1, 3, 4, 5, 31, 63, 64, 65, 97, 480 }) {
        auto frame = noise(width, 5, random);
        RowSignatures signatures;
        EXPECT_EQ(signatures.changed_rows(*frame), (Band { 0, 5 }));
        signatures.presented();
        EXPECT_EQ(signatures.changed_rows(*frame), (Band { 0, 0 })) << width;
        for (int32_t x = 0; x < width; ++x) {
            for (int bit : { 0, 7, 15 }) {
                uint16_t& pixel = frame->row(3)[x];
                pixel ^= static_cast<uint16_t>(1u << bit);
                ASSERT_EQ(signatures.changed_rows(*frame), (Band { 3, 4 })) << width << " " << x << " " << bit;
                pixel ^= static_cast<uint16_t>(1u << bit);
            }
        }
        if (frame->pitch() > width * 2) {
            reinterpret_cast<unsigned char*>(frame->row(2))[width * 2] ^= 0xFF;
            EXPECT_EQ(signatures.changed_rows(*frame), (Band { 0, 0 })) << width;
        }
    }
}

// Changes that leave a row's sum alone (two words swapped, a value moved along a row, the top
// bits of two words traded) are still changes.
TEST(RowSignatures, ChangesThatCancelInTheSumAreFound)
{
    std::mt19937 random(11);
    auto frame = noise(480, 3, random);
    RowSignatures signatures;
    signatures.changed_rows(*frame);
    signatures.presented();
    uint16_t* row = frame->row(1);
    std::swap(row[0], row[64]);
    EXPECT_EQ(signatures.changed_rows(*frame), (Band { 1, 2 }));
    std::swap(row[0], row[64]);
    row[3] ^= 0x8000;
    row[3 + 4 * 16] ^= 0x8000;
    EXPECT_EQ(signatures.changed_rows(*frame), (Band { 1, 2 }));
    row[3] ^= 0x8000;
    row[3 + 4 * 16] ^= 0x8000;
    EXPECT_EQ(signatures.changed_rows(*frame), (Band { 0, 0 }));
}

// A frame not known to be on the screen (its present failed, the screen lost it, the size
// changed) is not what the next one is compared with.
TEST(RowSignatures, OnlyAPresentedFrameIsComparedWith)
{
    std::mt19937 random(3);
    auto first = noise(20, 8, random);
    RowSignatures signatures;
    signatures.changed_rows(*first);
    signatures.presented();
    auto second = Bitmap565::create(20, 8);
    second->copy_from(*first, 0, 0);
    second->row(6)[2] ^= 1;
    EXPECT_EQ(signatures.changed_rows(*second), (Band { 6, 7 }));
    // Not presented: the same frame again still differs.
    EXPECT_EQ(signatures.changed_rows(*second), (Band { 6, 7 }));
    signatures.presented();
    EXPECT_EQ(signatures.changed_rows(*second), (Band { 0, 0 }));
    signatures.forget();
    EXPECT_FALSE(signatures.known());
    EXPECT_EQ(signatures.changed_rows(*second), (Band { 0, 8 }));
    signatures.presented();
    auto narrower = noise(19, 8, random);
    EXPECT_EQ(signatures.changed_rows(*narrower), (Band { 0, 8 }));
}
