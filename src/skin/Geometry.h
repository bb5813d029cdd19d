#pragma once

#include "shell/ScreenInfo.h"

#include <algorithm>
#include <cstdint>

namespace velloq {

struct Point {
    int32_t x { 0 };
    int32_t y { 0 };
    bool operator==(Point const&) const = default;
};

inline Rect intersection(Rect const& a, Rect const& b)
{
    int32_t left = std::max(a.left, b.left);
    int32_t top = std::max(a.top, b.top);
    int32_t right = std::min(a.left + a.width, b.left + b.width);
    int32_t bottom = std::min(a.top + a.height, b.top + b.height);
    if (right <= left || bottom <= top)
        return { left, top, 0, 0 };
    return { left, top, right - left, bottom - top };
}

inline bool contains(Rect const& rect, Point point)
{
    return point.x >= rect.left && point.x < rect.left + rect.width && point.y >= rect.top && point.y < rect.top + rect.height;
}

inline bool is_empty(Rect const& rect)
{
    return rect.width <= 0 || rect.height <= 0;
}

}
