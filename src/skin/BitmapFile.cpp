#include "skin/BitmapFile.h"

#include "platform/FileSystem.h"
#include "platform/Utf.h"
#include "shell/Log.h"
#include "shell/Paths.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace velloq {

namespace {

constexpr size_t file_header_size = 14;
constexpr size_t info_header_size = 40;
constexpr std::streamoff largest_file = 256 * 1024 * 1024;

uint32_t read_u32(unsigned char const* at)
{
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

uint16_t read_u16(unsigned char const* at)
{
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

std::unique_ptr<Bitmap565> rejected(std::u16string_view name, std::u16string_view why)
{
    log() << u"load_565 " << name << u" " << why << u"\n";
    return nullptr;
}

}

std::unique_ptr<Bitmap565> decode_565(std::u16string_view name, unsigned char const* data, size_t size)
{
    if (size < file_header_size + info_header_size)
        return rejected(name, u"is too short for a bitmap");
    unsigned char const* info = data + file_header_size;
    if (read_u16(info + 14) != 16)
        return rejected(name, u"is not 16bit bitmap");
    uint32_t info_size = read_u32(info);
    uint32_t pixel_offset = read_u32(data + 10);
    int64_t width = static_cast<int32_t>(read_u32(info + 4));
    int64_t stored_height = static_cast<int32_t>(read_u32(info + 8));
    int64_t height = stored_height < 0 ? -stored_height : stored_height;
    if (info_size < info_header_size || width < 1 || height < 1 || width > largest_picture_side || height > largest_picture_side)
        return rejected(name, u"has a bad header");
    size_t file_row = static_cast<size_t>((16 * width + 31) / 32 * 4);
    size_t needed = static_cast<size_t>(pixel_offset) + file_row * static_cast<size_t>(height - 1) + static_cast<size_t>(width) * 2;
    if (pixel_offset < file_header_size + info_header_size || pixel_offset > size || needed > size)
        return rejected(name, u"is shorter than its header says");
    auto picture = Bitmap565::create(static_cast<int32_t>(width), static_cast<int32_t>(height));
    if (!picture)
        return rejected(name, u"does not fit in memory");
    // A positive height stores the bottom row first.
    for (int64_t row = 0; row < height; ++row) {
        unsigned char const* source = data + pixel_offset + file_row * static_cast<size_t>(row);
        int32_t target_row = static_cast<int32_t>(stored_height > 0 ? height - 1 - row : row);
        uint16_t* target = picture->row(target_row);
        for (int64_t x = 0; x < width; ++x)
            target[x] = read_u16(source + x * 2);
    }
    return picture;
}

std::unique_ptr<Bitmap565> load_565(std::u16string_view name)
{
    std::string path = to_utf8(expand_path(std::u16string(name) + u".bmp"));
    std::string why;
    auto bytes = platform::read_regular_file(path, static_cast<size_t>(largest_file), why);
    if (!bytes)
        return rejected(name, u"cannot be read: " + to_utf16(why));
    return decode_565(name, bytes->data(), bytes->size());
}

}
