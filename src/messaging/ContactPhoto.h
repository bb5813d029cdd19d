#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velloq {

// A contact's photo data ("base64:…" or a "file:///…" URI, as the vCard reader gives it) as
// the bytes of the picture; nullopt when it is not base64, names no readable local file, or the
// file is larger than a photo's data may be.
std::optional<std::string> photo_bytes(std::string const& photo);

// The bytes of base64 text (blanks and line ends skipped); nullopt where it is not base64.
std::optional<std::string> decode_base64(std::string_view text);

}
