#pragma once

#include <cstddef>
#include <cstdint>

namespace velloq::platform {

// 5-6-5 pixels as opaque 32-bit 0xAARRGGBB, each channel widened as SDL widens it (the top
// bits repeated into the new low bits).
void widen_rgb565(uint16_t const* from, uint32_t* to, size_t count);

}
