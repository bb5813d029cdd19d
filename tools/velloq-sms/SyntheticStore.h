#pragma once

#include "platform/MessageStore.h"

#include <cstdint>

namespace velloq::tools {

// Fills the store with a realistic synthetic history, the same for the same seed: `chats`
// correspondents whose numbers are written in several national and international spellings,
// Latin and Cyrillic texts with links and numbers, messages in all four folders, unread ones,
// delivery reports, and times spread over the two years before now.
bool seed_store(platform::MessageStore&, int32_t chats, int64_t messages, uint32_t seed);

}
