#pragma once

#include "messaging/MessagePart.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velloq {

// The file name extension for a part's content type ("jpg" for image/jpeg), "bin" when unknown.
std::string extension_of(MessagePart const& part);

// The largest part copied out of the MMS service's files.
constexpr uint64_t largest_saved_part = 64u * 1024u * 1024u;

// Writes `content` into `folder` (made when missing) as `stem`.`extension`, or `stem`-2, -3...
// beside one already there: nothing is ever overwritten. The new file's path, or nullopt with `why`.
std::optional<std::string> write_unique_file(std::string const& folder, std::string const& stem, std::string const& extension,
    std::string_view content, std::string& why);

// Copies a part out of the MMS service's file into `folder` (made when missing) as a file of its
// own named `stem` with the part's extension, or `stem`-2, -3... beside one already there: nothing
// is ever overwritten. The new file's path, or nullopt with `why`.
std::optional<std::string> save_message_part(MessagePart const& part, std::string const& folder, std::string const& stem, std::string& why);

// Hands a copy of the part alone (the MMS service's file holds the whole message) to the
// desktop's handler for its kind; the copy lies in the device's temporary folder. False, with
// `why`, when the copy could not be made or the opener not started.
bool open_message_part(MessagePart const& part, std::string const& stem, std::string& why);

}
