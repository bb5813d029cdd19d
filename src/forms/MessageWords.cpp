#include "forms/MessageWords.h"

#include "lang/LanguageTable.h"

namespace velloq {

std::u16string words_of(MessageRecord const& message, LanguageTable const& language)
{
    if (!message.text.empty() || message.parts.empty())
        return message.text;
    return language.text_of(message.picture() ? u"Picture" : u"Attachment");
}

}
