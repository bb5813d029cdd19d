#include "messaging/MessagePart.h"

#include <algorithm>
#include <charconv>

namespace velloq {

namespace {

bool fits_a_line(std::string_view text)
{
    return text.find_first_of("\t\n\r") == std::string_view::npos;
}

bool read_number(std::string_view text, uint64_t& number)
{
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        pieces.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return pieces;
        start = end + 1;
    }
}

}

std::string bare_content_type(std::string_view content_type)
{
    std::string_view type = content_type.substr(0, content_type.find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t'))
        type.remove_suffix(1);
    while (!type.empty() && (type.front() == ' ' || type.front() == '\t'))
        type.remove_prefix(1);
    std::string lower(type);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return lower;
}

bool MessagePart::is_picture() const
{
    std::string type = bare_content_type(content_type);
    return type == "image/jpeg" || type == "image/jpg" || type == "image/png" || type == "image/gif";
}

bool can_keep_message_part(MessagePart const& part)
{
    return !part.file.empty() && fits_a_line(part.file) && fits_a_line(part.content_type);
}

std::string format_message_parts(std::vector<MessagePart> const& parts)
{
    std::string lines;
    for (auto const& part : parts) {
        if (!can_keep_message_part(part))
            continue;
        lines += part.content_type + '\t' + std::to_string(part.offset) + '\t' + std::to_string(part.length) + '\t' + part.file + '\n';
    }
    return lines;
}

std::vector<MessagePart> parse_message_parts(std::string_view lines)
{
    std::vector<MessagePart> parts;
    for (std::string_view line : split(lines, '\n')) {
        auto fields = split(line, '\t');
        MessagePart part;
        if (fields.size() != 4 || !read_number(fields[1], part.offset) || !read_number(fields[2], part.length) || fields[3].empty())
            continue;
        part.content_type = fields[0];
        part.file = fields[3];
        parts.push_back(std::move(part));
    }
    return parts;
}

}
