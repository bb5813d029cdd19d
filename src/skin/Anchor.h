#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velloq {

// How an element takes its place along one axis of its parent.
enum class Anchor : int32_t {
    MinSide = 0,
    BothSide = 1,
    MaxSide = 2,
    Ratio = 3,
    Center = 4,
    MinSideNoSize = 5,
    MaxSideNoSize = 6,
};

std::optional<Anchor> anchor_from_name(std::u16string_view);

// The rules of one axis, with avail the parent's size, min and max the element's borders and
// preferred its measured size.
int32_t anchor_size(Anchor, int32_t preferred, int32_t avail, int32_t min, int32_t max);
int32_t anchor_position(Anchor, int32_t size, int32_t avail, int32_t min, int32_t max);
int32_t anchor_space(Anchor, int32_t preferred, int32_t min, int32_t max);
// The borders a table counts for the element.
int32_t anchor_border_share(Anchor, int32_t min, int32_t max);

}
