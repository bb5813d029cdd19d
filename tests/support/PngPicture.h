#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velloq::test {

// A picture read from a PNG file as 8-bit red, green and blue.
struct RgbPicture {
    int width { 0 };
    int height { 0 };
    std::vector<uint8_t> rgb;
};

// Nullopt when the file cannot be read as a PNG.
std::optional<RgbPicture> read_png(std::string const& path);

// The share of pixels where any channel differs by more than `tolerance`; 1 when the sizes differ.
double differing_share(RgbPicture const& a, RgbPicture const& b, int tolerance);

// The contrast ratio of two 5-6-5 colours, as the web's accessibility guidelines define it.
double contrast_ratio(uint16_t first, uint16_t second);

}
