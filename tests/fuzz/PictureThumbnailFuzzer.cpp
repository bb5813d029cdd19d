// Feeds arbitrary bytes to the thumbnail maker of MMS pictures (JPEG, PNG, GIF), into a box
// that the input's last byte picks (a picture's last byte matters least), so that shrinking and
// the no-larger-than-itself rule are driven too.
#include "platform/PictureThumbnail.h"

#include <cstdlib>
#include <string_view>

using namespace velloq;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size < 1)
        return 0;
    int box = 1 + data[size - 1] % 64;
    std::string error;
    auto picture = platform::decode_thumbnail(std::string_view(reinterpret_cast<char const*>(data), size), box, box * 2, error);
    if (picture) {
        if (picture->width < 1 || picture->width > box || picture->height < 1 || picture->height > box * 2
            || picture->rgb.size() != static_cast<size_t>(picture->width) * static_cast<size_t>(picture->height) * 3)
            std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    return 0;
}
