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

// The keys of the chats the message's peers name; empty when it has no peer (a draft without
// recipients, a message from nobody).
std::vector<std::u16string> peer_keys(StoredMessage const& message, bool from_me, bool in_inbox)
{
    if (!from_me) {
        std::u16string name = text_of(message.properties, Tag::SenderName).value_or(u"");
        std::u16string address = text_of(message.properties, Tag::SenderAddress).value_or(u"");
        if (name.empty() && address.empty())
            return {};
        return { chat_key(address, name) };
    }
    std::vector<Peer> peers = recipients_of(message);
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

std::u16string chat_key(std::u16string_view address, std::u16string_view name)
{
    std::u16string digits = last_seven_digits(address);
    if (!digits.empty())
        return digits;
    return std::u16string(address.empty() ? name : address);
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
