#pragma once

#include "messaging/MessageRecord.h"

#include <string>

namespace velloq {

class LanguageTable;

// What a message says where only words are shown (the chat list, the alert, the desktop's
// notification): its text, or for a picture or file sent alone what it carries ("Picture").
std::u16string words_of(MessageRecord const& message, LanguageTable const& language);

}
