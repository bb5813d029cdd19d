#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velloq {

// A part of an MMS other than its text (a picture, a file), as the phone's MMS service keeps it:
// a range of one of its files, with the part's content type.
struct MessagePart {
    std::string content_type;
    uint64_t offset { 0 };
    uint64_t length { 0 };
    std::string file;

    // JPEG, PNG or GIF, which a bubble shows.
    bool is_picture() const;
    bool operator==(MessagePart const&) const = default;
};

// The content type alone, lower-cased, without its parameters ("image/jpeg" of "Image/JPEG; name=a").
std::string bare_content_type(std::string_view content_type);

// The parts as the store keeps them, a line each: content type, offset, length and file,
// tab-separated. A part whose type or file holds a tab or a line break has no line (the caller
// says so); a line that does not read as a part is left out.
std::string format_message_parts(std::vector<MessagePart> const& parts);
std::vector<MessagePart> parse_message_parts(std::string_view lines);
bool can_keep_message_part(MessagePart const& part);

}
