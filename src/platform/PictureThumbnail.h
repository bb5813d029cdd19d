#pragma once

#include "platform/PictureDecoder.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velloq::platform {

// The most pixels a picture may have to be made into a thumbnail (a 50-megapixel photo has
// fewer), which bounds the time one takes; its sides are bounded by `largest_decoded_side`.
constexpr uint64_t most_thumbnail_source_pixels = 8192ull * 8192ull;

// A JPEG, PNG or GIF (its first frame) as a picture fitting `box_width` × `box_height` with its
// proportions kept, never larger than the picture itself; transparency is laid over white. The
// picture is read a row at a time and shrunk as it goes (a JPEG also by its decoder's 1/8
// steps), so what is held is the thumbnail and a row, not the picture. The sizes the file states
// are checked before anything is allocated; nullopt and `error` set for a damaged file, one too
// large, or a kind not among these.
// The content type a picture's first bytes show: "image/jpeg", "image/png", "image/gif", or empty.
std::string picture_content_type(std::string_view bytes);

std::optional<RgbPicture> decode_thumbnail(std::string_view bytes, int box_width, int box_height, std::string& error);

}
