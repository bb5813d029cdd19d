#include "messaging/SmsLink.h"

#include "platform/Utf.h"

#include <algorithm>

namespace velloq {

namespace {

// A pasted text can be long, but a link's body is never a book.
constexpr size_t longest_body = 5000;

int hex_value(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Percent escapes are bytes of UTF-8; the rest of the link is taken as it stands.
std::optional<std::u16string> percent_decoded(std::u16string_view text, std::string& why)
{
    std::string bytes;
    for (size_t at = 0; at < text.size();) {
        size_t percent = text.find(u'%', at);
        bytes += to_utf8(text.substr(at, percent - at));
        if (percent == std::u16string_view::npos)
            break;
        int high = percent + 2 < text.size() ? hex_value(text[percent + 1]) : -1;
        int low = percent + 2 < text.size() ? hex_value(text[percent + 2]) : -1;
        if (high < 0 || low < 0) {
            why = "a broken percent escape";
            return std::nullopt;
        }
        bytes += static_cast<char>(high * 16 + low);
        at = percent + 3;
    }
    std::u16string decoded = to_utf16(bytes);
    // A replacement character that the bytes did not spell themselves stands for bad UTF-8.
    if (decoded.find(u'\uFFFD') != std::u16string::npos && bytes.find("\xEF\xBF\xBD") == std::string::npos) {
        why = "a text that is not UTF-8";
        return std::nullopt;
    }
    return decoded;
}

bool is_number_character(char16_t c)
{
    return (c >= u'0' && c <= u'9') || c == u'+' || c == u'*' || c == u'#' || c == u' ' || c == u'-' || c == u'.' || c == u'(' || c == u')';
}

// Control characters other than line breaks and tabs are dropped from the body.
std::u16string cleaned_body(std::u16string body)
{
    std::erase_if(body, [](char16_t c) { return (c < 0x20 && c != u'\n' && c != u'\t') || c == 0x7F; });
    if (body.size() > longest_body)
        body.resize(longest_body);
    return body;
}

// The value of "body=" among the query's fields; other fields are left alone.
std::u16string_view body_field(std::u16string_view query)
{
    while (!query.empty()) {
        size_t end = query.find(u'&');
        std::u16string_view field = query.substr(0, end);
        if (lower_case(field.substr(0, 5)) == u"body=")
            return field.substr(5);
        if (end == std::u16string_view::npos)
            break;
        query.remove_prefix(end + 1);
    }
    return {};
}

}

bool looks_like_sms_link(std::u16string_view command_line)
{
    std::u16string head = lower_case(command_line.substr(0, 6));
    return head.starts_with(u"sms:") || head.starts_with(u"smsto:");
}

std::optional<SmsLink> parse_sms_link(std::u16string_view link, std::string& why)
{
    if (!looks_like_sms_link(link)) {
        why = "not an sms: or smsto: link";
        return std::nullopt;
    }
    bool smsto = lower_case(link.substr(0, 6)) == u"smsto:";
    std::u16string_view rest = link.substr(smsto ? 6 : 4);
    if (rest.starts_with(u"//"))
        rest.remove_prefix(2);
    size_t query = rest.find(u'?');
    std::u16string_view recipients = rest.substr(0, query);
    std::u16string_view body = query == std::u16string_view::npos ? std::u16string_view() : body_field(rest.substr(query + 1));
    // The older form carries the text after a second colon: "smsto:NUMBER:TEXT".
    if (size_t colon = recipients.find(u':'); smsto && colon != std::u16string_view::npos) {
        body = recipients.substr(colon + 1);
        recipients = recipients.substr(0, colon);
    }
    auto numbers = percent_decoded(recipients.substr(0, recipients.find(u',')), why);
    auto text = numbers ? percent_decoded(body, why) : std::nullopt;
    if (!numbers || !text)
        return std::nullopt;
    std::u16string number = *numbers;
    if (!std::all_of(number.begin(), number.end(), is_number_character) || std::none_of(number.begin(), number.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
        why = "no phone number";
        return std::nullopt;
    }
    return SmsLink { number, cleaned_body(std::move(*text)) };
}

}
