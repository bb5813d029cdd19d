#include "platform/wayland/SurroundingText.h"

#include "platform/Utf.h"

#include <algorithm>
#include <string_view>

namespace velloq::platform::wayland {

namespace {

// The protocol carries at most 4000 bytes of surrounding text; a longer field sends the part
// around the caret, well inside that.
constexpr size_t largest_surrounding_bytes = 4000;
constexpr size_t units_each_side = 600;

bool is_trailing_surrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}

SurroundingText SurroundingText::of(std::u16string const& text, size_t caret)
{
    caret = std::min(caret, text.size());
    size_t begin = 0;
    size_t end = text.size();
    if (to_utf8(text).size() > largest_surrounding_bytes) {
        begin = caret > units_each_side ? caret - units_each_side : 0;
        end = std::min(text.size(), caret + units_each_side);
        // Never half a character.
        if (begin > 0 && is_trailing_surrogate(text[begin]))
            ++begin;
        if (end < text.size() && is_trailing_surrogate(text[end]))
            ++end;
    }
    SurroundingText surrounding;
    std::u16string_view part(text.data() + begin, end - begin);
    surrounding.text = to_utf8(part);
    surrounding.caret_units = caret - begin;
    surrounding.caret = static_cast<int32_t>(to_utf8(part.substr(0, surrounding.caret_units)).size());
    return surrounding;
}

std::pair<int32_t, int32_t> SurroundingText::units_around(uint32_t before_bytes, uint32_t after_bytes) const
{
    size_t caret_byte = static_cast<size_t>(caret);
    size_t before = std::min<size_t>(before_bytes, caret_byte);
    size_t after = std::min<size_t>(after_bytes, text.size() - caret_byte);
    auto units = [](std::string_view bytes) { return static_cast<int32_t>(to_utf16(bytes).size()); };
    return { units(std::string_view(text).substr(caret_byte - before, before)), units(std::string_view(text).substr(caret_byte, after)) };
}

}
