#include "forms/OutgoingPicture.h"

#include "messaging/PictureFiles.h"
#include "platform/FileSystem.h"
#include "platform/JpegEncoder.h"
#include "platform/PictureThumbnail.h"

#include <string_view>

namespace velloq {

namespace {

// The largest picture file read to be sent (a phone's camera writes less).
constexpr size_t largest_chosen_picture = 64u * 1024u * 1024u;

// The picture as a JPEG within the limit: the largest side and quality that fit, tried from the
// largest down.
std::optional<std::string> fitted_jpeg(std::string_view bytes, std::string& why)
{
    for (int side : { 2048, 1600, 1280, 1024, 800, 640, 480, 320 }) {
        auto picture = platform::decode_thumbnail(bytes, side, side, why);
        if (!picture)
            return std::nullopt;
        for (int quality : { 85, 70, 55 }) {
            auto jpeg = platform::encode_jpeg(*picture, quality, why);
            if (!jpeg)
                return std::nullopt;
            if (jpeg->size() <= mms_picture_limit)
                return jpeg;
        }
    }
    why = "the picture cannot be made small enough to send";
    return std::nullopt;
}

}

std::optional<MessagePart> prepare_outgoing_picture(std::string const& source, std::string const& folder, std::string const& stem, std::string& why)
{
    auto read = platform::read_regular_file(source, largest_chosen_picture, why);
    if (!read)
        return std::nullopt;
    std::string bytes(read->begin(), read->end());
    std::string type = platform::picture_content_type(bytes);
    if (type.empty()) {
        why = "it is not a JPEG, PNG or GIF picture";
        return std::nullopt;
    }
    // A picture that does not decode is not sent, whatever its size.
    if (!platform::decode_thumbnail(bytes, 64, 64, why))
        return std::nullopt;
    if (bytes.size() > mms_picture_limit) {
        auto smaller = fitted_jpeg(bytes, why);
        if (!smaller)
            return std::nullopt;
        bytes = std::move(*smaller);
        type = "image/jpeg";
    }
    MessagePart part { type, 0, bytes.size(), {} };
    auto path = write_unique_file(folder, stem, extension_of(part), bytes, why);
    if (!path)
        return std::nullopt;
    part.file = *path;
    return part;
}

}
