#include "messaging/MmsInbox.h"

#include "platform/ChatKeys.h"
#include "platform/FileSystem.h"
#include "platform/Utf.h"

#include <algorithm>

namespace velloq {

namespace Tag = platform::Tag;

namespace {

bool is_text(MessagePart const& part)
{
    return bare_content_type(part.content_type) == "text/plain";
}

bool is_layout(MessagePart const& part)
{
    return bare_content_type(part.content_type) == "application/smil";
}

void add_text(MessagePart const& part, ReceivedMms& mms, std::vector<std::string>& problems)
{
    std::string why;
    auto bytes = platform::read_file_range(part.file, part.offset, part.length, largest_mms_text, why);
    if (!bytes) {
        problems.push_back("text part of " + part.file + " unread: " + why);
        return;
    }
    std::u16string text = to_utf16(std::string_view(reinterpret_cast<char const*>(bytes->data()), bytes->size()));
    if (text.empty())
        return;
    if (!mms.text.empty())
        mms.text += u'\n';
    mms.text += text;
}

std::u16string lines_of(std::vector<std::u16string> const& items)
{
    std::u16string lines;
    for (auto const& item : items) {
        if (item.empty() || item.find(u'\n') != std::u16string::npos)
            continue;
        lines += item + u'\n';
    }
    return lines;
}

}

void take_mms_attachments(std::vector<MessagePart> const& attachments, ReceivedMms& mms, std::vector<std::string>& problems)
{
    for (auto const& part : attachments) {
        if (is_layout(part))
            continue;
        if (is_text(part)) {
            add_text(part, mms, problems);
        } else if (can_keep_message_part(part)) {
            mms.parts.push_back(part);
        } else {
            problems.push_back("a part of type " + part.content_type + " has a file name that cannot be kept");
        }
    }
}

std::vector<std::u16string> other_members(std::vector<std::u16string> const& recipients, std::u16string const& sender,
    std::vector<std::u16string> const& own_numbers)
{
    std::vector<std::u16string> own_keys;
    for (auto const& number : own_numbers) {
        if (!number.empty())
            own_keys.push_back(platform::chat_key(number, u""));
    }
    if (own_keys.empty() && recipients.size() == 1)
        return {};
    auto is_own = [&](std::u16string const& key) { return std::find(own_keys.begin(), own_keys.end(), key) != own_keys.end(); };
    std::vector<std::u16string> others;
    std::vector<std::u16string> keys { platform::chat_key(sender, u"") };
    for (auto const& recipient : recipients) {
        std::u16string key = platform::chat_key(recipient, u"");
        if (recipient.empty() || is_own(key) || std::find(keys.begin(), keys.end(), key) != keys.end())
            continue;
        keys.push_back(key);
        others.push_back(recipient);
    }
    return others;
}

platform::StoreResult<platform::MmsFiling::Filing> file_received_mms(platform::MessageStore& store, ReceivedMms const& mms)
{
    platform::StoredMessage message;
    message.properties[Tag::MessageClass] = std::u16string(u"IPM.MMS");
    message.properties[Tag::Subject] = mms.text;
    message.properties[Tag::MessageFlags] = int64_t(mms.read ? platform::flag_read : 0);
    message.properties[Tag::DeliveryTime] = mms.filetime;
    message.properties[Tag::SenderName] = std::u16string();
    message.properties[Tag::SenderAddress] = mms.sender;
    message.properties[Tag::MmsParts] = to_utf16(format_message_parts(mms.parts));
    message.properties[Tag::MmsMembers] = lines_of(mms.members);
    return store.mms_filing().file(mms.service, mms.path, message);
}

}
