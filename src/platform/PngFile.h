#pragma once

#include <cstdint>
#include <string>

namespace velloq::platform {

// Writes 16-bit 5-6-5 pixels as an 8-bit RGB PNG file (through a temporary beside it, so a
// reader never sees half a picture); false when the file cannot be written.
bool write_png_565(std::string const& path, uint16_t const* pixels, int pitch_bytes, int width, int height);

}
