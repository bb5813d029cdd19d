#include "forms/AvatarPhotos.h"

#include "messaging/VCard.h"
#include "shell/Registry.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace velloq;

namespace {

std::string read(std::filesystem::path const& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// The photos of the fixture's cards, as the contacts' files give them.
std::vector<Contact> photo_cards()
{
    int32_t skipped = 0;
    return parse_vcards(read(VELLOQ_FIXTURES_DIR "/vcards/photos.vcf"), skipped, PhotoData::Whole);
}

bool near(uint16_t pixel, uint8_t red, uint8_t green, uint8_t blue)
{
    int r = (pixel >> 11) << 3, g = ((pixel >> 5) & 63) << 2, b = (pixel & 31) << 3;
    return std::abs(r - red) <= 16 && std::abs(g - green) <= 16 && std::abs(b - blue) <= 16;
}

class AvatarPhotosTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1)); }
    std::shared_ptr<Bitmap565> avatar_of(AvatarPhotos& photos, Contact const& contact, int side)
    {
        return photos.avatar(contact.photo_digest, side, [&] { return contact.photo; });
    }
    test::TempDevice device;
    std::filesystem::path folder = device.path() / "avatars";
};

}

// The middle square of the photo in a circle: the strip at the left edge of the wider photo is
// cut away, the corners are see-through, a PNG's transparency is white.
TEST_F(AvatarPhotosTest, APhotoBecomesACircleOfTheAvatarsSize)
{
    AvatarPhotos photos(folder.string());
    auto cards = photo_cards();
    for (size_t i : { 0u, 1u, 3u }) {
        auto avatar = avatar_of(photos, cards[i], 44);
        ASSERT_NE(avatar, nullptr) << i;
        ASSERT_EQ(avatar->width(), 44);
        EXPECT_TRUE(near(avatar->row(22)[22], 0x1E, 0x40, 0xAF)) << i;
        EXPECT_EQ(avatar->row(0)[0], 0xF81F);
        EXPECT_EQ(avatar->row(43)[43], 0xF81F);
        for (int y = 0; y < 44; ++y) {
            for (int x = 0; x < 44; ++x)
                ASSERT_FALSE(near(avatar->row(y)[x], 0x00, 0xC0, 0x00)) << x << "," << y;
        }
    }
    auto png = avatar_of(photos, cards[2], 88);
    ASSERT_NE(png, nullptr);
    EXPECT_TRUE(near(png->row(44)[44], 0xC0, 0x26, 0x26));
    EXPECT_TRUE(near(png->row(44)[10], 0xFF, 0xFF, 0xFF));
}

// A later start finds the avatar made before without the photo; a damaged photo or one that
// cannot be read leaves the initials (null) and says so, once.
TEST_F(AvatarPhotosTest, MadeAvatarsAreKeptAndDamagedPhotosAreNotShown)
{
    auto cards = photo_cards();
    std::shared_ptr<Bitmap565> first;
    {
        AvatarPhotos photos(folder.string());
        first = avatar_of(photos, cards[0], 60);
        ASSERT_NE(first, nullptr);
    }
    EXPECT_TRUE(std::filesystem::exists(folder / (cards[0].photo_digest + "-60.png")));
    AvatarPhotos again(folder.string());
    auto cached = again.avatar(cards[0].photo_digest, 60, [] { return std::string(); });
    ASSERT_NE(cached, nullptr);
    for (int y = 0; y < 60; ++y)
        EXPECT_EQ(std::memcmp(cached->row(y), first->row(y), 120), 0) << y;
    int asked = 0;
    for (size_t i : { 5u, 6u }) {
        EXPECT_EQ(again.avatar(cards[i].photo_digest, 44, [&] { ++asked; return cards[i].photo; }), nullptr);
        EXPECT_EQ(again.avatar(cards[i].photo_digest, 44, [&] { ++asked; return cards[i].photo; }), nullptr);
    }
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(again.avatar("0123456789abcdef", 44, [] { return std::string("file:///nonexistent/photo.jpg"); }), nullptr);
    EXPECT_NE(test::read_utf16_file(device.log_file()).find(u"avatar: the photo "), std::u16string::npos);
}

// EDS keeps a photo as a file and names it by a file: URI.
TEST_F(AvatarPhotosTest, APhotoNamedByAFileUri)
{
    auto copy = device.path() / "a photo.jpg";
    std::filesystem::copy_file(VELLOQ_FIXTURES_DIR "/pictures/photo.jpg", copy);
    AvatarPhotos photos(folder.string());
    auto avatar = photos.avatar("00000000000000aa", 44, [&] { return "file://" + std::string(device.path()) + "/a%20photo.jpg"; });
    ASSERT_NE(avatar, nullptr);
    EXPECT_TRUE(near(avatar->row(22)[22], 0x1E, 0x40, 0xAF));
}
