#include "skin/BitmapFile.h"

#include "shell/Registry.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

using namespace velloq;

namespace {

void put32(std::vector<unsigned char>& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A 16-bit bitmap file whose pixel (x, y) of the picture is y * 16 + x.
std::vector<unsigned char> bitmap_file(int32_t width, int32_t height, uint16_t bits = 16)
{
    int32_t rows = height < 0 ? -height : height;
    size_t row_bytes = static_cast<size_t>((16 * width + 31) / 32 * 4);
    std::vector<unsigned char> bytes(54 + row_bytes * static_cast<size_t>(rows));
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(bytes, 2, static_cast<uint32_t>(bytes.size()));
    put32(bytes, 10, 54);
    put32(bytes, 14, 40);
    put32(bytes, 18, static_cast<uint32_t>(width));
    put32(bytes, 22, static_cast<uint32_t>(height));
    bytes[26] = 1;
    bytes[28] = static_cast<unsigned char>(bits);
    for (int32_t file_row = 0; file_row < rows; ++file_row) {
        int32_t y = height > 0 ? rows - 1 - file_row : file_row;
        for (int32_t x = 0; x < width; ++x) {
            uint16_t value = static_cast<uint16_t>(y * 16 + x);
            bytes[54 + row_bytes * file_row + x * 2] = static_cast<unsigned char>(value);
            bytes[54 + row_bytes * file_row + x * 2 + 1] = static_cast<unsigned char>(value >> 8);
        }
    }
    return bytes;
}

}

TEST(BitmapFile, BottomUpAndTopDownLoadTheRightWayUp)
{
    for (int32_t height : { 2, -2 }) {
        auto bytes = bitmap_file(3, height);
        auto picture = decode_565(u"test", bytes.data(), bytes.size());
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->width(), 3);
        EXPECT_EQ(picture->height(), 2);
        EXPECT_EQ(picture->pitch(), 8);
        EXPECT_EQ(picture->row(0)[0], 0);
        EXPECT_EQ(picture->row(1)[2], 18);
    }
}

TEST(BitmapFile, MalformedFilesYieldNoPicture)
{
    auto good = bitmap_file(3, 2);
    auto truncated = good;
    truncated.resize(good.size() - 3); // into the last row's pixels
    EXPECT_EQ(decode_565(u"t", truncated.data(), truncated.size()), nullptr);
    EXPECT_EQ(decode_565(u"t", good.data(), 40), nullptr);
    auto eight_bit = bitmap_file(3, 2, 8);
    EXPECT_EQ(decode_565(u"t", eight_bit.data(), eight_bit.size()), nullptr);
    auto huge = good;
    put32(huge, 18, 100000);
    EXPECT_EQ(decode_565(u"t", huge.data(), huge.size()), nullptr);
    auto minimum_height = good;
    put32(minimum_height, 22, 0x80000000u);
    EXPECT_EQ(decode_565(u"t", minimum_height.data(), minimum_height.size()), nullptr);
    auto far_offset = good;
    put32(far_offset, 10, 0xFFFFFFF0u);
    EXPECT_EQ(decode_565(u"t", far_offset.data(), far_offset.size()), nullptr);
    auto zero_width = good;
    put32(zero_width, 18, 0);
    EXPECT_EQ(decode_565(u"t", zero_width.data(), zero_width.size()), nullptr);
}

TEST(BitmapFile, LoadsFromAFileAndLogsOtherDepths)
{
    test::TempDevice device;
    ASSERT_TRUE(velloq::reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    auto good = bitmap_file(4, 4);
    std::ofstream(device.path() / "good.bmp", std::ios::binary).write(reinterpret_cast<char const*>(good.data()), static_cast<std::streamsize>(good.size()));
    auto deep = bitmap_file(4, 4, 24);
    std::ofstream(device.path() / "deep.bmp", std::ios::binary).write(reinterpret_cast<char const*>(deep.data()), static_cast<std::streamsize>(deep.size()));
    auto picture = load_565((device.path() / "good").u16string());
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->row(3)[3], 51);
    EXPECT_EQ(load_565((device.path() / "deep").u16string()), nullptr);
    EXPECT_EQ(load_565((device.path() / "missing").u16string()), nullptr);
    auto log_text = test::read_utf16_file(device.log_file());
    EXPECT_NE(log_text.find(u"load_565 " + (device.path() / "deep").u16string() + u" is not 16bit bitmap\n"), std::u16string::npos);
}
