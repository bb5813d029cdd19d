#include "skin/ElementTypeNames.h"

#include <algorithm>
#include <array>

namespace velloq {

namespace {

constexpr std::array<char16_t const*, 15> names {
    u"node", u"text", u"color", u"image", u"edit", u"htable", u"vtable", u"button",
    u"vlist", u"checkbox", u"progress", u"oldtext", u"label_edit", u"clip", u"snake",
};

}

std::span<char16_t const* const> engine_element_types()
{
    return names;
}

bool is_engine_element_type(std::u16string_view name)
{
    return std::any_of(names.begin(), names.end(), [&](char16_t const* known) { return name == known; });
}

}
