#include "support/PngPicture.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace velloq::test {

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

double channel_luminance(double value)
{
    return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double luminance(uint16_t colour)
{
    double red = ((colour >> 11) & 0x1F) / 31.0;
    double green = ((colour >> 5) & 0x3F) / 63.0;
    double blue = (colour & 0x1F) / 31.0;
    return 0.2126 * channel_luminance(red) + 0.7152 * channel_luminance(green) + 0.0722 * channel_luminance(blue);
}

}

std::optional<RgbPicture> read_png(std::string const& path)
{
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return std::nullopt;
    image.format = PNG_FORMAT_RGB;
    RgbPicture picture;
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr)) {
        png_image_free(&image);
        return std::nullopt;
    }
    return picture;
}

double differing_share(RgbPicture const& a, RgbPicture const& b, int tolerance)
{
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size() || a.rgb.empty())
        return 1.0;
    size_t differing = 0;
    for (size_t at = 0; at < a.rgb.size(); at += 3) {
        for (size_t channel = 0; channel < 3; ++channel) {
            if (std::abs(int(a.rgb[at + channel]) - int(b.rgb[at + channel])) > tolerance) {
                ++differing;
                break;
            }
        }
    }
    return double(differing) / double(a.rgb.size() / 3);
}

double contrast_ratio(uint16_t first, uint16_t second)
{
    double lighter = std::max(luminance(first), luminance(second));
    double darker = std::min(luminance(first), luminance(second));
    return (lighter + 0.05) / (darker + 0.05);
}

}
