#pragma once

#include "messaging/MessageTime.h"

#include <string>

namespace velloq {

class LanguageTable;

// A message's time as the screens show it, in the interface's language (its "Locale" text) over
// the customs of the user's own locale.
class MessageDates {
public:
    explicit MessageDates(LanguageTable const& language)
        : m_language(language)
    {
    }

    // The chat list: the time today, "Yesterday", the weekday within a week, a date before.
    std::u16string in_list(MessageTime const& time, MessageTime const& now) const;
    // The heading over a chat's day: "Today", "Yesterday", the weekday within a week, the date.
    std::u16string day_heading(MessageTime const& time, MessageTime const& now) const;
    // The time of day under a message.
    std::u16string clock(MessageTime const& time) const;

private:
    std::string language_code() const;

    LanguageTable const& m_language;
};

}
