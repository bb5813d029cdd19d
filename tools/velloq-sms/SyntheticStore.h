#pragma once

#include "platform/MessageStore.h"

#include <cstdint>
#include <string>

namespace velloq::tools {

// Fills the store with a realistic synthetic history, the same for the same seed: `chats`
// correspondents whose numbers are written in several national and international spellings,
// Latin and Cyrillic texts with links and numbers, messages in all four folders, unread ones,
// delivery reports, and times spread over the two years before now. With `world_scripts`, one
// message in three is in Arabic or Hindi instead (the same random choices otherwise). The
// correspondents are the seeded ones from `first_chat` on, so two seedings can fill two chats.
platform::StoreResult<void> seed_store(platform::MessageStore&, int32_t chats, int64_t messages, uint32_t seed, bool world_scripts = false, int32_t first_chat = 0);

// Writes a vCard file into `folder` for each of the first `contacts` correspondents of a seeded
// store (named people whose numbers match those of their chats), so the chats get names.
bool write_contacts(std::string const& folder, int32_t chats, int32_t contacts);

}
