#include "messaging/ChatDrafts.h"

#include "messaging/ChatModel.h"
#include "shell/Log.h"

#include <algorithm>

namespace velloq {

std::u16string ChatDrafts::take(Chat& chat)
{
    m_taken.clear();
    // Every draft is taken, so every draft's text goes into the edit: the oldest first.
    std::u16string text;
    for (int32_t index = static_cast<int32_t>(chat.messages.size()) - 1; index >= 0; --index) {
        MessageRecord& message = chat.messages[static_cast<size_t>(index)];
        if (message.folder != FolderKind::Drafts)
            continue;
        if (m_model.read_message(message) && !message.text.empty())
            text = text.empty() ? message.text : message.text + u"\n" + text;
        // Copied, not moved: the listeners still see the message while they hear of its removal.
        m_taken.push_back(message);
        m_model.send_event({ ChatEvent::Kind::MessageRemoved, index, &chat });
        chat.messages.erase(chat.messages.begin() + index);
    }
    m_taken_text = text;
    return text;
}

void ChatDrafts::keep(Chat& chat, std::u16string const& text)
{
    // A draft left as it was goes back as it was: it keeps its time and its place in the list.
    if (!m_taken.empty() && text == m_taken_text)
        restore(chat);
    else
        replace(chat, text);
    m_taken.clear();
    m_taken_text.clear();
}

void ChatDrafts::delete_taken()
{
    for (auto const& draft : m_taken)
        m_model.delete_message(draft);
    m_taken.clear();
    m_taken_text.clear();
}

void ChatDrafts::restore(Chat& chat)
{
    for (auto& draft : m_taken) {
        auto place = std::upper_bound(chat.messages.begin(), chat.messages.end(), draft, message_before);
        int32_t index = static_cast<int32_t>(place - chat.messages.begin());
        chat.messages.insert(place, std::move(draft));
        m_model.send_event({ ChatEvent::Kind::MessageAppended, index, &chat });
    }
    auto const& chats = m_model.chats();
    for (size_t position = 0; position < chats.size(); ++position)
        if (chats[position].get() == &chat)
            m_model.send_event({ ChatEvent::Kind::Renamed, static_cast<int32_t>(position), &chat });
}

void ChatDrafts::replace(Chat const& chat, std::u16string const& text)
{
    for (auto const& draft : m_taken)
        m_model.delete_message(draft);
    if (text.empty())
        return;
    if (!m_model.sms().save_draft({ chat.name, chat.address.empty() ? chat.name : chat.address }, text))
        return;
    log() << u"save_draft for " << chat.key << u"\n";
    // Into the chat at once, not at the next poll: a chat opened again at once takes it back.
    m_model.update_chats(true);
}

}
