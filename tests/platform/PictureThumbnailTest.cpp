// Thumbnails of the pictures an MMS brings: fitted into their box, in their own colours, and a
// damaged or hostile file refused without a large allocation.
#include "platform/PictureThumbnail.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <iterator>

using namespace velloq::platform;

namespace {

std::string fixture(char const* name)
{
    std::ifstream file(std::string(VELLOQ_FIXTURES_DIR "/pictures/") + name, std::ios::binary);
    return { std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>() };
}

struct Rgb {
    int red, green, blue;
};

Rgb pixel(RgbPicture const& picture, int x, int y)
{
    size_t at = (static_cast<size_t>(y) * static_cast<size_t>(picture.width) + static_cast<size_t>(x)) * 3;
    return { picture.rgb[at], picture.rgb[at + 1], picture.rgb[at + 2] };
}

void append_big_endian(std::string& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>(value >> shift & 0xFF));
}

// A PNG whose header states the given size, followed by nothing a decoder could use.
std::string png_header(uint32_t width, uint32_t height)
{
    std::string chunk = "IHDR";
    append_big_endian(chunk, width);
    append_big_endian(chunk, height);
    chunk += std::string("\x08\x02\x00\x00\x00", 5);
    std::string png = "\x89PNG\r\n\x1A\n";
    append_big_endian(png, 13);
    png += chunk;
    append_big_endian(png, static_cast<uint32_t>(crc32(0, reinterpret_cast<Bytef const*>(chunk.data()), static_cast<uInt>(chunk.size()))));
    return png;
}

// The fixture JPEG with the size its frame header states changed.
std::string jpeg_claiming(uint16_t width, uint16_t height)
{
    std::string jpeg = fixture("photo.jpg");
    size_t frame = jpeg.find("\xFF\xC0");
    if (frame == std::string::npos)
        return {};
    jpeg[frame + 5] = static_cast<char>(height >> 8);
    jpeg[frame + 6] = static_cast<char>(height & 0xFF);
    jpeg[frame + 7] = static_cast<char>(width >> 8);
    jpeg[frame + 8] = static_cast<char>(width & 0xFF);
    return jpeg;
}

}

TEST(PictureThumbnail, EachKindFitsItsBoxInItsOwnProportionsAndColours)
{
    std::string error;
    // 120×90 into 60×60: 60×45. Never larger than the picture itself.
    auto photo = decode_thumbnail(fixture("photo.jpg"), 60, 60, error);
    ASSERT_TRUE(photo) << error;
    EXPECT_EQ(photo->width, 60);
    EXPECT_EQ(photo->height, 45);
    auto whole = decode_thumbnail(fixture("photo.jpg"), 1000, 1000, error);
    ASSERT_TRUE(whole) << error;
    EXPECT_EQ(whole->width, 120);
    EXPECT_EQ(whole->height, 90);

    // 200×100, red then blue; the GIF's top-left corner is its transparent colour.
    for (char const* name : { "halves_interlaced.png", "halves.gif" }) {
        auto halves = decode_thumbnail(fixture(name), 50, 50, error);
        ASSERT_TRUE(halves) << name << ": " << error;
        ASSERT_EQ(halves->width, 50) << name;
        ASSERT_EQ(halves->height, 25) << name;
        EXPECT_EQ(pixel(*halves, 10, 20).red, 255) << name;
        EXPECT_EQ(pixel(*halves, 10, 20).blue, 0) << name;
        EXPECT_EQ(pixel(*halves, 40, 20).blue, 255) << name;
        EXPECT_EQ(pixel(*halves, 40, 20).red, 0) << name;
    }
    auto transparent = decode_thumbnail(fixture("halves.gif"), 200, 100, error);
    ASSERT_TRUE(transparent) << error;
    EXPECT_EQ(pixel(*transparent, 2, 2).green, 255);
    EXPECT_EQ(pixel(*transparent, 2, 2).red, 255);
    EXPECT_EQ(pixel(*transparent, 20, 20).green, 0);
}

TEST(PictureThumbnail, DamagedAndHugeFilesAreRefusedWithAReason)
{
    std::string error;
    EXPECT_FALSE(decode_thumbnail(png_header(60000, 60000), 300, 300, error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(decode_thumbnail(jpeg_claiming(60000, 60000), 300, 300, error));
    EXPECT_NE(error.find("larger"), std::string::npos) << error;

    // A file cut anywhere gives a reason or a picture in its box, never more.
    for (char const* name : { "photo.jpg", "photo.png", "halves.gif", "halves_interlaced.png" }) {
        std::string whole = fixture(name);
        for (size_t length = 0; length < whole.size(); length += 7) {
            error.clear();
            auto cut = decode_thumbnail(std::string_view(whole).substr(0, length), 40, 40, error);
            if (cut) {
                EXPECT_LE(cut->width, 40) << name << " cut at " << length;
                EXPECT_EQ(cut->rgb.size(), static_cast<size_t>(cut->width) * static_cast<size_t>(cut->height) * 3);
            } else {
                EXPECT_FALSE(error.empty()) << name << " cut at " << length;
            }
        }
    }
    EXPECT_FALSE(decode_thumbnail("GIF89a", 40, 40, error));
    EXPECT_FALSE(decode_thumbnail("plain text", 40, 40, error));
}
