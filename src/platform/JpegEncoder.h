#pragma once

#include "platform/PictureDecoder.h"

#include <optional>
#include <string>

namespace velloq::platform {

// A picture as a baseline JPEG file at `quality` (1-100); nullopt and `error` set when the
// encoder fails (an empty picture).
std::optional<std::string> encode_jpeg(RgbPicture const& picture, int quality, std::string& error);

}
