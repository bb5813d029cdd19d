#include "platform/PngFile.h"

#include <png.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace velloq::platform {

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

}

bool write_png_565(std::string const& path, uint16_t const* pixels, int pitch_bytes, int width, int height)
{
    if (!pixels || width < 1 || height < 1)
        return false;
    std::string temporary = path + ".part";
    std::unique_ptr<FILE, FileCloser> file(std::fopen(temporary.c_str(), "wb"));
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    std::vector<png_byte> row(static_cast<size_t>(width) * 3);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
        PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        auto const* source = reinterpret_cast<uint16_t const*>(reinterpret_cast<unsigned char const*>(pixels) + static_cast<size_t>(y) * static_cast<size_t>(pitch_bytes));
        for (int x = 0; x < width; ++x) {
            uint16_t pixel = source[x];
            // Widen each channel by repeating its top bits, so white stays 255 and black 0.
            row[x * 3 + 0] = static_cast<png_byte>(((pixel >> 11) & 0x1F) << 3 | ((pixel >> 13) & 0x07));
            row[x * 3 + 1] = static_cast<png_byte>(((pixel >> 5) & 0x3F) << 2 | ((pixel >> 9) & 0x03));
            row[x * 3 + 2] = static_cast<png_byte>((pixel & 0x1F) << 3 | ((pixel >> 2) & 0x07));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    file.reset();
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}
