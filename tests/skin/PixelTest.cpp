#include "skin/Blit.h"
#include "skin/PictureRef.h"
#include "skin/RenderSurface.h"

#include "shell/Fatal.h"

#include <gtest/gtest.h>

using namespace velloq;

namespace {

// A picture whose pixel at (x, y) is y * 16 + x, so every copied pixel tells where it came from.
std::unique_ptr<Bitmap565> numbered(int32_t width, int32_t height)
{
    auto picture = Bitmap565::create(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            picture->row(y)[x] = static_cast<uint16_t>(y * 16 + x);
    return picture;
}

std::unique_ptr<Bitmap565> filled(int32_t width, int32_t height, uint16_t colour)
{
    auto picture = Bitmap565::create(width, height);
    picture->fill(colour);
    return picture;
}

Rect everything { -1000, -1000, 3000, 3000 };

}

TEST(Bitmap, PitchPadsRowsToFourBytes)
{
    EXPECT_EQ(Bitmap565::create(3, 2)->pitch(), 8);
    EXPECT_EQ(Bitmap565::create(4, 2)->pitch(), 8);
    EXPECT_EQ(Bitmap565::create(5, 1)->pitch(), 12);
    EXPECT_EQ(Bitmap565::create(-1, 2), nullptr);
}

TEST(RowOps, EachOperationsPixels)
{
    uint16_t destination[3] = { 0xFFFF, 0x8410, 0x0000 };
    uint16_t source[3] = { 0xF81F, 0x0020, 0x1082 };
    uint16_t out[3];

    std::copy(destination, destination + 3, out);
    KeyShadeRowOp().row(out, out + 3, source, 0);
    EXPECT_EQ(out[0], 0xFFFF);               // key colour keeps the destination
    EXPECT_EQ(out[1], 0x0020);               // lowest green bit set: copied
    EXPECT_EQ(out[2], 0x1082 + 0);           // added to three quarters of black

    uint16_t grey[1] = { 0x8410 };
    uint16_t shaded[1] = { 0x8410 };
    uint16_t dark[1] = { 0x0841 };
    KeyShadeRowOp().row(shaded, shaded + 1, dark, 0);
    EXPECT_EQ(shaded[0], 0x0841 + (((grey[0] >> 2) & 0x39E7) + ((grey[0] >> 1) & 0x7BEF)));

    uint16_t white[1] = { 0xFFFF };
    uint16_t modulated[1] = { 0 };
    ModulateRowOp(ModulatePixel { 128, 256, 0 }).row(modulated, modulated + 1, white, 0);
    EXPECT_EQ(modulated[0], (15 << 11) | (63 << 5) | 0);
    uint16_t ored[1] = { 0x001F };
    ModulateOrRowOp(ModulateOrPixel { { 256, 0, 0 } }).row(ored, ored + 1, white, 0);
    EXPECT_EQ(ored[0], 0xF800 | 0x001F);

    uint16_t half[1] = { 0x0000 };
    BlendRowOp(BlendPixel { 8 }).row(half, half + 1, white, 0);
    EXPECT_EQ(half[0], (15 << 11) | (31 << 5) | 15);
    uint16_t keyed[2] = { 1, 2 };
    uint16_t key_source[2] = { 0xF81F, 7 };
    KeyRowOp().row(keyed, keyed + 2, key_source, 0);
    EXPECT_EQ(keyed[0], 1);
    EXPECT_EQ(keyed[1], 7);
}

TEST(RowOps, ScaledAndRepeatingIndexing)
{
    uint16_t source[4] = { 10, 11, 12, 13 };
    uint16_t out[6];
    CopyRowOp().row_scaled(out, out + 4, source, 0, 512, 0);
    EXPECT_EQ(std::vector<uint16_t>(out, out + 4), (std::vector<uint16_t> { 10, 10, 11, 11 }));
    CopyRowOp().row_repeat(out, out + 6, source, 2, 1, 3, 0);
    EXPECT_EQ(std::vector<uint16_t>(out, out + 6), (std::vector<uint16_t> { 12, 11, 12, 11, 12, 11 }));
}

TEST(Blit, ClippedOnAllFourSides)
{
    auto source = numbered(4, 4);
    auto destination = filled(6, 6, 0xFFFF);
    blit(*destination, -1, -1, 4, 4, *source, 0, 0, everything, CopyRowOp());
    EXPECT_EQ(destination->row(0)[0], 1 * 16 + 1);
    EXPECT_EQ(destination->row(2)[2], 3 * 16 + 3);
    EXPECT_EQ(destination->row(3)[3], 0xFFFF);

    destination->fill(0xFFFF);
    blit(*destination, 4, 4, 4, 4, *source, 0, 0, everything, CopyRowOp());
    EXPECT_EQ(destination->row(4)[4], 0);
    EXPECT_EQ(destination->row(5)[5], 1 * 16 + 1);
    EXPECT_EQ(destination->row(3)[4], 0xFFFF);

    destination->fill(0xFFFF);
    blit(*destination, 0, 0, 4, 4, *source, 0, 0, { 1, 1, 2, 2 }, CopyRowOp());
    EXPECT_EQ(destination->row(0)[0], 0xFFFF);
    EXPECT_EQ(destination->row(1)[1], 1 * 16 + 1);
    EXPECT_EQ(destination->row(2)[2], 2 * 16 + 2);
    EXPECT_EQ(destination->row(3)[3], 0xFFFF);
}

TEST(Blit, SourceBlockOutsideTheSourceDrawsNothing)
{
    auto source = numbered(4, 4);
    auto destination = filled(6, 6, 0xFFFF);
    blit(*destination, 0, 0, 4, 4, *source, 1, 0, everything, CopyRowOp());
    blit(*destination, 0, 0, 2, 2, *source, -1, 0, everything, CopyRowOp());
    blit(*destination, 0, 0, 0, 2, *source, 0, 0, everything, CopyRowOp());
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(destination->row(y)[x], 0xFFFF);
}

TEST(Blit, ScaledCopyDoublesEveryPixel)
{
    auto source = numbered(2, 2);
    auto destination = filled(4, 4, 0xFFFF);
    blit_scaled(*destination, { 0, 0, 4, 4 }, *source, { 0, 0, 2, 2 }, everything, CopyRowOp());
    EXPECT_EQ(destination->row(0)[1], 0);
    EXPECT_EQ(destination->row(1)[2], 1);
    EXPECT_EQ(destination->row(3)[3], 17);
    blit_scaled(*destination, { 0, 0, 4, 4 }, *source, { 1, 1, 2, 2 }, everything, CopyRowOp());
    EXPECT_EQ(destination->row(3)[3], 17);
}

TEST(NinePart, FixedPartsKeepTheirSizeAndTheMiddleIsTiled)
{
    auto axis = split_nine_part_axis(10, 20, 0, 2, 5, 8, 0, 100);
    EXPECT_EQ(axis.first.length, 2);
    EXPECT_EQ(axis.middle.length, 15);
    EXPECT_EQ(axis.last.length, 3);
    EXPECT_EQ(axis.last.destination, 27);
    EXPECT_EQ(axis.last.source, 5);
}

TEST(NinePart, FixedPartsShortenWhenTheyDoNotFit)
{
    auto even = split_nine_part_axis(0, 6, 0, 4, 4, 8, 0, 100);
    EXPECT_EQ(even.first.length, 3);
    EXPECT_EQ(even.last.length, 2);
    EXPECT_EQ(even.middle.length, 1);
    EXPECT_EQ(even.last.source, 4 + 2); // the end of the last part
    auto small_first = split_nine_part_axis(0, 6, 0, 1, 1, 9, 0, 100);
    EXPECT_EQ(small_first.first.length, 1);
    EXPECT_EQ(small_first.last.length, 4);
    EXPECT_EQ(small_first.middle.length, 1);
    // The first part takes its half plus what the short last part leaves of its share.
    auto small_last = split_nine_part_axis(0, 6, 0, 8, 8, 9, 0, 100);
    EXPECT_EQ(small_last.last.length, 1);
    EXPECT_EQ(small_last.first.length, 4);
    EXPECT_EQ(small_last.middle.length, 1);
}

TEST(NinePart, ClippingMovesTheSourceStart)
{
    auto axis = split_nine_part_axis(0, 20, 0, 2, 5, 8, 1, 18);
    EXPECT_EQ(axis.first.destination, 1);
    EXPECT_EQ(axis.first.length, 1);
    EXPECT_EQ(axis.first.source, 1);
    EXPECT_EQ(axis.last.length, 1);
}

TEST(NinePart, DrawsCornersFixedAndTilesTheMiddle)
{
    // 5 × 1 source: columns 0 | 1 2 | 3 4 with a = 0, b = 1, c = 3, d = 5.
    auto source = numbered(5, 1);
    PictureRef ref { std::shared_ptr<Bitmap565>(std::move(source)), { 0, 0 }, { 1, 0 }, { 3, 1 }, { 5, 1 } };
    auto target_picture = filled(9, 1, 0xFFFF);
    DrawTarget target { { 0, 0, 9, 1 }, target_picture.get() };
    ref.draw(target, { 0, 0, 9, 1 }, CopyRowOp());
    std::vector<uint16_t> row(target_picture->row(0), target_picture->row(0) + 9);
    EXPECT_EQ(row, (std::vector<uint16_t> { 0, 1, 2, 1, 2, 1, 2, 3, 4 }));
}

TEST(NinePart, ShiftMakesEachSourcePixelTwoByTwo)
{
    // A 3 × 3 picture with its points doubled: corners of one source pixel each, shown as 2 × 2.
    auto source = numbered(3, 3);
    PictureRef ref { std::shared_ptr<Bitmap565>(std::move(source)), { 0, 0 }, { 2, 2 }, { 4, 4 }, { 6, 6 }, 0, 1 };
    auto target_picture = filled(6, 6, 0xFFFF);
    ref.draw({ { 0, 0, 6, 6 }, target_picture.get() }, { 0, 0, 6, 6 }, CopyRowOp());
    EXPECT_EQ(target_picture->row(0)[0], 0);
    EXPECT_EQ(target_picture->row(1)[1], 0);
    EXPECT_EQ(target_picture->row(0)[2], 1);
    EXPECT_EQ(target_picture->row(3)[3], 17);
    EXPECT_EQ(target_picture->row(5)[4], 2 * 16 + 2);
}

TEST(RenderSurface, RecreateAndThePixelCounter)
{
    int64_t before = RenderSurface::pixels_alive();
    {
        RenderSurface surface(10, 20);
        EXPECT_EQ(RenderSurface::pixels_alive(), before + 200);
        surface.picture()->fill(0x1234);
        EXPECT_FALSE(surface.recreate(10, 20));
        EXPECT_EQ(surface.picture()->row(19)[9], 0x1234);
        EXPECT_TRUE(surface.recreate(5, 5));
        EXPECT_EQ(RenderSurface::pixels_alive(), before + 25);
        EXPECT_EQ(surface.target().rect, (Rect { 0, 0, 5, 5 }));
    }
    EXPECT_EQ(RenderSurface::pixels_alive(), before);
    RenderSurface empty;
    EXPECT_FALSE(empty.recreate(0, 0));
}

TEST(RenderSurfaceDeathTest, ResizingAClippedSurfaceIsFatal)
{
    RenderSurface surface(4, 4);
    surface.push_clip({ 1, 1, 2, 2 });
    EXPECT_EQ(surface.clip_depth(), 1);
    EXPECT_EXIT(surface.recreate(8, 8), testing::ExitedWithCode(fatal_exit_code), "");
    surface.pop_clip();
    EXPECT_TRUE(surface.recreate(8, 8));
}
