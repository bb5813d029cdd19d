#pragma once

#include "shell/Bitmap565.h"

#include <memory>
#include <string>
#include <string_view>

namespace velloq {

// Loads the 16-bit picture `name` + ".bmp" (path macros allowed). Bottom-up and top-down files
// load the right way up; the 16-bit values are taken as 5-6-5 as they stand. A file that is not
// 16 bits per pixel, or whose header does not describe the bytes it holds, yields no picture
// and a log line.
std::unique_ptr<Bitmap565> load_565(std::u16string_view name);

// The same on a file image already in memory (`name` is only for the log lines).
std::unique_ptr<Bitmap565> decode_565(std::u16string_view name, unsigned char const* data, size_t size);

// The largest picture side accepted: far beyond any skin, small enough that a hostile header
// cannot ask for a huge allocation.
constexpr int32_t largest_picture_side = 8192;

}
