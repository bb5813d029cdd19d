#pragma once

#include "shell/Bitmap565.h"

#include <cstdint>

namespace velloq {

// A colour as the system keeps it: red, green, blue and alpha bytes; drawn as a 5-6-5 pixel.
struct Colour {
    uint8_t red { 0 };
    uint8_t green { 0 };
    uint8_t blue { 0 };
    uint8_t alpha { 255 };
    bool operator==(Colour const&) const = default;
    uint16_t to_565() const { return Bitmap565::rgb(red, green, blue); }
};

}
