#include "messaging/ContactPhoto.h"

#include "messaging/VCard.h"
#include "platform/FileSystem.h"

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace velloq {

namespace {

int base64_value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+' || c == '-')
        return 62;
    if (c == '/' || c == '_')
        return 63;
    return -1;
}

}

std::optional<std::string> decode_base64(std::string_view text)
{
    std::string bytes;
    bytes.reserve(text.size() * 3 / 4);
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        if (c == '=')
            break;
        int value = base64_value(c);
        if (value < 0)
            return std::nullopt;
        bits = bits << 6 | static_cast<uint32_t>(value);
        if (++count == 4) {
            bytes += static_cast<char>(bits >> 16);
            bytes += static_cast<char>(bits >> 8);
            bytes += static_cast<char>(bits);
            bits = 0;
            count = 0;
        }
    }
    if (count == 2)
        bytes += static_cast<char>(bits >> 4);
    else if (count == 3) {
        bytes += static_cast<char>(bits >> 10);
        bytes += static_cast<char>(bits >> 2);
    } else if (count == 1) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::string> photo_bytes(std::string const& photo)
{
    if (photo.starts_with("base64:"))
        return decode_base64(std::string_view(photo).substr(7));
    std::string path = platform::path_of_file_uri(photo);
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error) || std::filesystem::file_size(path, error) > largest_photo_text)
        return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

}
