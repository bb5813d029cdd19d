#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velloq::platform {

// A decoded picture: 8-bit R, G, B for each pixel, rows top to bottom.
struct RgbPicture {
    int width { 0 };
    int height { 0 };
    std::vector<uint8_t> rgb;
};

// The largest side of a picture that is decoded at all: a hostile header cannot ask for a huge
// allocation.
constexpr int largest_decoded_side = 8192;

// Decodes a JPEG or PNG file image. A JPEG is decoded at the smallest of its 1/8 steps whose
// shorter side still reaches `wanted_side` (a phone's 12-megapixel photo for a 44-pixel
// avatar); transparency is laid over white. Nullopt and `error` set for anything else, a
// damaged file or one larger than `largest_decoded_side`.
std::optional<RgbPicture> decode_picture(std::string_view bytes, int wanted_side, std::string& error);

}
