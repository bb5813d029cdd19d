#pragma once

#include "platform/MessageTypes.h"
#include "platform/SqliteDatabase.h"

namespace velloq::platform {

// How property values of the message store are written to and read from SQLite: the tag's
// type says whether a column holds text (UTF-8), bytes or a number.
void bind_value(SqliteStatement& statement, int index, PropertyValue const& value);
PropertyValue read_value(SqliteStatement const& statement, int column, uint32_t tag);

}
