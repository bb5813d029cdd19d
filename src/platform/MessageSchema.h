#pragma once

#include "platform/MessageTypes.h"
#include "platform/SqliteDatabase.h"

namespace velloq::platform {

// Brings a message store's schema up to the program's version, one numbered step at a time in
// one transaction (creating it in an empty file), and mends what a damaged store lost; an error
// for a store written by a newer program.
StoreResult<void> prepare_message_schema(SqliteDatabase&);

}
