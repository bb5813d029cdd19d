#include "platform/ChatKeys.h"

#include <algorithm>
#include <ctime>
#include <optional>
#include <string>

namespace velloq::platform {

namespace {

bool is_digit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

std::u16string const& current_year()
{
    static std::u16string const year = [] {
        std::time_t now = std::time(nullptr);
        std::tm local {};
        localtime_r(&now, &local);
        std::u16string text;
        for (char c : std::to_string(local.tm_year + 1900))
            text.push_back(static_cast<char16_t>(c));
        return text;
    }();
    return year;
}

std::optional<int64_t> time_of(PropertySet const& properties)
{
    for (uint32_t tag : { Tag::DeliveryTime, Tag::LastModificationTime }) {
        if (auto filetime = number_of(properties, tag))
            return filetime;
    }
    return std::nullopt;
}

struct Peer {
    std::u16string name;
    std::u16string address;
};

// The recipients as the chat model reads them: up to the first row without name and address.
std::vector<Peer> recipients_of(StoredMessage const& message)
{
    std::vector<Peer> peers;
    for (auto const& row : message.recipients) {
        Peer peer { text_of(row, Tag::DisplayName).value_or(u""), text_of(row, Tag::EmailAddress).value_or(u"") };
        if (peer.name.empty() && peer.address.empty())
            break;
        peers.push_back(std::move(peer));
    }
    return peers;
}

bool is_mms(StoredMessage const& message)
{
    return text_of(message.properties, Tag::MessageClass) == u"IPM.MMS";
}

// An MMS from the user to several people is one message of their group's chat.
std::optional<std::u16string> group_key_to(StoredMessage const& message, std::vector<Peer> const& peers)
{
    if (!is_mms(message) || peers.size() < 2)
        return std::nullopt;
    std::vector<std::u16string> addresses;
    for (auto const& peer : peers)
        addresses.push_back(peer.address);
    return chat_key(group_address(addresses), u"");
}

// The keys of the chats the message's peers name; empty when it has no peer (a draft without
// recipients, a message from nobody).
std::vector<std::u16string> peer_keys(StoredMessage const& message, bool from_me, bool in_inbox)
{
    if (!from_me) {
        std::u16string name = text_of(message.properties, Tag::SenderName).value_or(u"");
        std::u16string address = text_of(message.properties, Tag::SenderAddress).value_or(u"");
        if (name.empty() && address.empty())
            return {};
        // An MMS that went to others besides the user belongs to the chat of all of them.
        std::vector<std::u16string> members = property_lines(text_of(message.properties, Tag::MmsMembers).value_or(u""));
        if (!members.empty() && !address.empty()) {
            members.insert(members.begin(), address);
            return { chat_key(group_address(members), name) };
        }
        return { chat_key(address, name) };
    }
    std::vector<Peer> peers = recipients_of(message);
    if (auto group = group_key_to(message, peers))
        return { *group };
    // Only a message outside the inbox is copied to each further recipient's chat.
    if (in_inbox && peers.size() > 1)
        peers.resize(1);
    std::vector<std::u16string> keys;
    for (auto const& peer : peers) {
        std::u16string key = chat_key(peer.address, peer.name);
        if (std::find(keys.begin(), keys.end(), key) == keys.end())
            keys.push_back(std::move(key));
    }
    return keys;
}

}

std::u16string last_seven_digits(std::u16string_view text)
{
    std::u16string digits;
    for (size_t at = text.size(); at > 0 && digits.size() < 7; --at) {
        if (is_digit(text[at - 1]))
            digits.insert(digits.begin(), text[at - 1]);
    }
    return digits;
}

bool is_phone_number(std::u16string_view candidate)
{
    std::u16string digits = last_seven_digits(candidate);
    return digits.size() >= 3 && digits != current_year();
}

namespace {

std::u16string single_key(std::u16string_view address, std::u16string_view name)
{
    std::u16string digits = last_seven_digits(address);
    if (!digits.empty())
        return digits;
    return std::u16string(address.empty() ? name : address);
}

}

std::u16string chat_key(std::u16string_view address, std::u16string_view name)
{
    if (address.find(group_separator) == std::u16string_view::npos)
        return single_key(address, name);
    std::vector<std::u16string> keys;
    for (auto const& member : group_members(address))
        keys.push_back(single_key(member, u""));
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    if (keys.size() == 1)
        return keys.front();
    if (keys.empty())
        return std::u16string(name);
    std::u16string key;
    for (auto const& member : keys)
        key += (key.empty() ? u"" : std::u16string(1, group_separator)) + member;
    return key;
}

bool is_group_key(std::u16string_view key)
{
    return key.find(group_separator) != std::u16string_view::npos;
}

std::u16string group_address(std::vector<std::u16string> const& addresses)
{
    std::u16string joined;
    for (auto const& address : addresses) {
        if (address.empty())
            continue;
        if (!joined.empty())
            joined.push_back(group_separator);
        joined += address;
    }
    return joined;
}

std::vector<std::u16string> group_members(std::u16string_view address)
{
    std::vector<std::u16string> members;
    size_t start = 0;
    while (start <= address.size()) {
        size_t end = std::min(address.find(group_separator, start), address.size());
        if (end > start)
            members.emplace_back(address.substr(start, end - start));
        start = end + 1;
    }
    return members;
}

std::vector<std::u16string> property_lines(std::u16string_view text)
{
    std::vector<std::u16string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = std::min(text.find(u'\n', start), text.size());
        if (end > start)
            lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::u16string report_number(std::u16string_view text)
{
    // Separators between digits neither end a number nor belong to it, so the number is compared
    // and stored as the digits (and leading '+') a phone dials.
    std::u16string best;
    std::u16string candidate;
    auto finish = [&] {
        if (candidate.size() > best.size() && is_phone_number(candidate))
            best = candidate;
        candidate.clear();
    };
    for (char16_t c : text) {
        if (is_digit(c) || (c == u'+' && candidate.empty()))
            candidate.push_back(c);
        else if (!candidate.empty() && (c == u' ' || c == u'(' || c == u')' || c == u'+' || c == u'-'))
            continue;
        else if (!candidate.empty())
            finish();
    }
    finish();
    return best;
}

std::vector<ChatPlace> chat_places_of(StoredMessage const& message, ChatFolder folder)
{
    bool in_inbox = folder == ChatFolder::Inbox;
    auto flags = number_of(message.properties, Tag::MessageFlags);
    auto text = text_of(message.properties, Tag::Subject);
    auto time = time_of(message.properties);
    if (!flags || !text || !time)
        return {};
    bool from_me = (*flags & flag_from_me) != 0;
    if (!from_me && (!text_of(message.properties, Tag::SenderName) || !text_of(message.properties, Tag::SenderAddress)))
        return {};
    auto message_class = text_of(message.properties, Tag::MessageClass);
    bool report = message_class == u"REPORT.IPM.SMStext.DR" || message_class == u"REPORT.IPM.SMStext.NDR";
    // A message without anyone to talk to is in no chat, a report neither.
    std::vector<std::u16string> keys = peer_keys(message, from_me, in_inbox);
    if (keys.empty())
        return {};
    if (report) {
        std::u16string number = report_number(*text);
        if (!number.empty())
            keys = { last_seven_digits(number) };
    }
    ChatPlace::Kind kind = folder == ChatFolder::Drafts ? ChatPlace::Draft
        : !in_inbox                                   ? ChatPlace::FromUser
        : report                                      ? ChatPlace::IncomingReport
                                                      : ChatPlace::Incoming;
    std::vector<ChatPlace> places;
    for (auto& key : keys) {
        if (!key.empty())
            places.push_back({ std::move(key), *time, kind, (*flags & flag_read) == 0 });
    }
    return places;
}

}
