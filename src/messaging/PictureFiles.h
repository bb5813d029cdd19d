#pragma once

#include "messaging/MessagePart.h"

#include <cstdint>
#include <optional>
#include <string>

namespace velloq {

// The file name extension for a part's content type ("jpg" for image/jpeg), "bin" when unknown.
std::string extension_of(MessagePart const& part);

// The largest part copied out of the MMS service's files.
constexpr uint64_t largest_saved_part = 64u * 1024u * 1024u;

// Copies a part out of the MMS service's file into `folder` (made when missing) as a file of its
// own named `stem` with the part's extension, or `stem`-2, -3... beside one already there: nothing
// is ever overwritten. The new file's path, or nullopt with `why`.
std::optional<std::string> save_message_part(MessagePart const& part, std::string const& folder, std::string const& stem, std::string& why);

}
