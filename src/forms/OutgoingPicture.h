#pragma once

#include "messaging/MessagePart.h"

#include <cstdint>
#include <optional>
#include <string>

namespace velloq {

// The carrier's usual limit for an MMS: a larger picture is made smaller before it goes.
constexpr uint64_t mms_picture_limit = 300u * 1024u;

// A picture the user chose, made ready to send as a part of its own in `folder`: the user's file
// may change or go before the message is sent. A JPEG, PNG or GIF within the limit goes as it is;
// a larger one goes as a JPEG scaled down until it fits. Nullopt with `why` for a file that is not
// such a picture, cannot be read, or cannot be made to fit.
std::optional<MessagePart> prepare_outgoing_picture(std::string const& source, std::string const& folder, std::string const& stem, std::string& why);

}
