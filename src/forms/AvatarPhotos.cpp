#include "forms/AvatarPhotos.h"

#include "messaging/ChatModel.h"
#include "messaging/ContactPhoto.h"
#include "platform/FileSystem.h"
#include "platform/PictureDecoder.h"
#include "platform/PngFile.h"
#include "platform/Utf.h"
#include "shell/Log.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace velloq {

namespace {

constexpr uint16_t see_through = 0xF81F;
// Enough for every avatar on a screen, in every size, many times over.
constexpr size_t most_kept = 512;

// The mean of the source pixels under one avatar pixel (the square's middle, cut from the photo).
void average(platform::RgbPicture const& photo, int left, int top, int square, int side, int x, int y, int rgb[3])
{
    int x0 = left + x * square / side, x1 = std::max(x0 + 1, left + (x + 1) * square / side);
    int y0 = top + y * square / side, y1 = std::max(y0 + 1, top + (y + 1) * square / side);
    long sum[3] = { 0, 0, 0 };
    for (int sy = y0; sy < y1; ++sy) {
        for (int sx = x0; sx < x1; ++sx) {
            uint8_t const* pixel = &photo.rgb[(static_cast<size_t>(sy) * static_cast<size_t>(photo.width) + static_cast<size_t>(sx)) * 3];
            for (int c = 0; c < 3; ++c)
                sum[c] += pixel[c];
        }
    }
    long count = static_cast<long>(x1 - x0) * (y1 - y0);
    for (int c = 0; c < 3; ++c)
        rgb[c] = static_cast<int>(sum[c] / count);
}

// The photo's middle square at `side` pixels inside a circle; the edge is laid over white, as
// the skin's coloured avatars are.
std::shared_ptr<Bitmap565> circle_of(platform::RgbPicture const& photo, int side)
{
    std::shared_ptr<Bitmap565> avatar = Bitmap565::create(side, side);
    int square = std::min(photo.width, photo.height);
    int left = (photo.width - square) / 2, top = (photo.height - square) / 2;
    double radius = side / 2.0;
    for (int y = 0; y < side; ++y) {
        uint16_t* row = avatar->row(y);
        for (int x = 0; x < side; ++x) {
            double coverage = std::clamp(radius - std::hypot(x + 0.5 - radius, y + 0.5 - radius) + 0.5, 0.0, 1.0);
            if (coverage <= 0) {
                row[x] = see_through;
                continue;
            }
            int rgb[3];
            average(photo, left, top, square, side, x, y, rgb);
            for (int& channel : rgb)
                channel = static_cast<int>(channel * coverage + 255 * (1 - coverage));
            uint16_t colour = Bitmap565::rgb(static_cast<uint8_t>(rgb[0]), static_cast<uint8_t>(rgb[1]), static_cast<uint8_t>(rgb[2]));
            row[x] = colour == see_through ? see_through - 1 : colour;
        }
    }
    return avatar;
}

std::shared_ptr<Bitmap565> bitmap_of(platform::RgbPicture const& picture)
{
    std::shared_ptr<Bitmap565> bitmap = Bitmap565::create(picture.width, picture.height);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            uint8_t const* pixel = &picture.rgb[(static_cast<size_t>(y) * static_cast<size_t>(picture.width) + static_cast<size_t>(x)) * 3];
            bitmap->row(y)[x] = Bitmap565::rgb(pixel[0], pixel[1], pixel[2]);
        }
    }
    return bitmap;
}

}

AvatarPhotos::AvatarPhotos(std::string folder)
    : m_folder(std::move(folder))
{
}

std::string AvatarPhotos::file_of(std::string const& digest, int side) const
{
    return m_folder + "/" + digest + "-" + std::to_string(side) + ".png";
}

std::shared_ptr<Bitmap565> AvatarPhotos::avatar_of(ChatModel& model, int32_t oid, int side)
{
    if (oid < 0 || side <= 0)
        return nullptr;
    std::string digest = model.contact_photo_digest(oid);
    if (digest.empty())
        return nullptr;
    return avatar(digest, side, [&] { return model.contact_photo(oid); });
}

std::shared_ptr<Bitmap565> AvatarPhotos::avatar(std::string const& digest, int side, std::function<std::string()> const& read_photo)
{
    auto key = std::make_pair(digest, side);
    if (auto made = m_made.find(key); made != m_made.end())
        return made->second;
    if (m_failed.contains(digest))
        return nullptr;
    if (m_made.size() >= most_kept)
        m_made.clear();
    std::shared_ptr<Bitmap565> avatar;
    std::ifstream cached(file_of(digest, side), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(cached)), std::istreambuf_iterator<char>());
    std::string error;
    auto picture = bytes.empty() ? std::nullopt : platform::decode_picture(bytes, side, error);
    if (picture && picture->width == side && picture->height == side)
        avatar = bitmap_of(*picture);
    else
        avatar = make(digest, side, read_photo());
    if (!avatar) {
        m_failed.insert(digest);
        return nullptr;
    }
    m_made[key] = avatar;
    return avatar;
}

std::shared_ptr<Bitmap565> AvatarPhotos::make(std::string const& digest, int side, std::string const& photo)
{
    auto bytes = photo_bytes(photo);
    std::string error = bytes ? std::string() : "its data cannot be read";
    auto picture = bytes ? platform::decode_picture(*bytes, side, error) : std::nullopt;
    if (!picture || picture->width <= 0 || picture->height <= 0) {
        log() << u"avatar: the photo " << to_utf16(digest) << u" is not shown: " << to_utf16(error) << u"\n";
        return nullptr;
    }
    auto avatar = circle_of(*picture, side);
    if (platform::make_directory_chain(m_folder))
        platform::write_png_565(file_of(digest, side), avatar->pixels(), avatar->pitch(), side, side);
    return avatar;
}

}
