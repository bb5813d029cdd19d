#pragma once

#include "messaging/MessageRecord.h"

#include <string>
#include <vector>

namespace velloq {

struct Chat;
class ChatModel;

// The unsent text of the open chat, kept in the store's Drafts folder: the chat's drafts go into
// the edit when the chat opens (they leave its list, not the store) and, when it is left, go
// back as they were if the text was not touched, or are replaced by one draft of the text.
class ChatDrafts {
public:
    explicit ChatDrafts(ChatModel& model)
        : m_model(model)
    {
    }

    // The text of the chat's drafts, the oldest first.
    std::u16string take(Chat&);
    // Keeps `text` as the chat's one draft (none for no text).
    void keep(Chat&, std::u16string const& text);
    // The chat is deleted: the drafts taken go from the store too.
    void delete_taken();

private:
    void restore(Chat&);
    void replace(Chat const&, std::u16string const& text);

    ChatModel& m_model;
    std::vector<MessageRecord> m_taken;
    std::u16string m_taken_text;
};

}
