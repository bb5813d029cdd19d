// Feeds arbitrary bytes to the vCard reader as a contacts file, and every photo it finds in
// them, and the bytes themselves, to the picture decoder that makes avatars.
#include "messaging/ContactPhoto.h"
#include "messaging/VCard.h"
#include "platform/PictureDecoder.h"

#include <string_view>

using namespace velloq;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view bytes(reinterpret_cast<char const*>(data), size);
    int32_t skipped = 0;
    std::string error;
    for (auto const& contact : parse_vcards(bytes, skipped, PhotoData::Whole)) {
        // Only photos carried in the card: a file named by a hostile card is not the fuzzer's.
        if (!contact.photo.starts_with("base64:"))
            continue;
        if (auto photo = photo_bytes(contact.photo))
            platform::decode_picture(*photo, 44, error);
    }
    auto picture = platform::decode_picture(bytes, 44, error);
    if (picture && !picture->rgb.empty())
        (void)picture->rgb[picture->rgb.size() - 1];
    return 0;
}
