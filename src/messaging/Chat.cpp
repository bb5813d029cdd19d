#include "messaging/Chat.h"

#include "messaging/PhoneBook.h"
#include "messaging/TextAnalysis.h"
#include "platform/ChatKeys.h"

namespace velloq {

namespace {

int compare_messages(MessageRecord const& a, MessageRecord const& b)
{
    if (int by_time = a.time.compare(b.time))
        return by_time;
    if (a.id < b.id)
        return -1;
    return b.id < a.id ? 1 : 0;
}

}

std::u16string chat_key(std::u16string const& address, std::u16string const& name)
{
    return platform::chat_key(address, name);
}

std::u16string report_number(std::u16string_view text)
{
    return platform::report_number(text);
}

std::u16string chat_key_of(MessageRecord const& record)
{
    if (record.report_kind != ReportKind::Message) {
        std::u16string number = report_number(record.text);
        if (!number.empty())
            return last_seven_digits(number);
    }
    if (record.in_group())
        return chat_key(record.peer().address, {});
    // The peer read in place: an update keys every message of the store.
    if (record.incoming())
        return chat_key(record.sender.address, record.sender.name);
    return record.recipients.empty() ? std::u16string() : chat_key(record.recipients.front().address, record.recipients.front().name);
}

void keep_recipient_of_chat(MessageRecord& record, std::u16string const& key)
{
    if (record.incoming() || record.folder == FolderKind::Incoming || record.recipients.size() < 2 || record.in_group() || chat_key_of(record) == key)
        return;
    for (size_t row = 1; row < record.recipients.size(); ++row) {
        if (chat_key(record.recipients[row].address, record.recipients[row].name) != key)
            continue;
        platform::SendState state = row < record.recipient_states.size() ? record.recipient_states[row] : record.send_state();
        record.recipients = { record.recipients[row] };
        record.recipient_states = { state };
        return;
    }
}

std::unique_ptr<Chat> chat_for_message(MessageRecord const& record)
{
    auto chat = std::make_unique<Chat>();
    std::u16string number = record.report_kind != ReportKind::Message ? report_number(record.text) : std::u16string();
    if (!number.empty()) {
        chat->address = number;
    } else {
        Correspondent peer = record.peer();
        chat->name = peer.name;
        chat->address = peer.address;
    }
    // Until the contacts name its members, a group is called by their numbers.
    if (record.in_group()) {
        for (auto const& member : platform::group_members(chat->address))
            chat->name += (chat->name.empty() ? u"" : u", ") + member;
    }
    chat->key = chat_key_of(record);
    return chat;
}

std::unique_ptr<Chat> chat_for_entry(PhoneEntry const& entry)
{
    auto chat = std::make_unique<Chat>();
    chat->name = entry.name;
    chat->address = entry.number;
    chat->phone_label = entry.label;
    chat->key = entry.key.empty() ? entry.name : entry.key;
    chat->contact_id = entry.contact_id;
    return chat;
}

bool message_before(MessageRecord const& a, MessageRecord const& b)
{
    return compare_messages(a, b) < 0;
}

bool chat_before(Chat const& a, Chat const& b)
{
    static MessageRecord const none;
    MessageRecord const& last_a = a.messages.empty() ? none : a.messages.back();
    MessageRecord const& last_b = b.messages.empty() ? none : b.messages.back();
    int order = compare_messages(last_a, last_b);
    if (order != 0)
        return order > 0;
    return a.key > b.key;
}

}
