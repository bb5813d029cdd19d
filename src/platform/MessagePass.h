#pragma once

#include "platform/MessageTypes.h"
#include "platform/SqliteDatabase.h"

#include <cstdint>
#include <functional>
#include <string_view>

namespace velloq::platform {

// Every message of the store in row order with its properties and recipients, read in three
// ordered passes over the tables instead of a keyed lookup per message. `wanted` says by folder
// row whether a message is read at all. False when the store could not be read to its end.
using MessagePassVisitor = std::function<void(int64_t message, int64_t folder, std::string_view entry, StoredMessage&&)>;
bool pass_over_messages(SqliteDatabase&, std::function<bool(int64_t folder)> const& wanted, MessagePassVisitor const& visit);

}
