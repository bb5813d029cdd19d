#include "skin/Blit.h"

#include <algorithm>
#include <cstring>

namespace velloq {

void CopyRowOp::row(uint16_t* destination, uint16_t* end, uint16_t const* source, int32_t) const
{
    if (destination == source)
        return;
    std::memcpy(destination, source, static_cast<size_t>(end - destination) * sizeof(uint16_t));
}

namespace {

Rect bounds(Bitmap565 const& picture)
{
    return { 0, 0, picture.width(), picture.height() };
}

}

void blit(Bitmap565& destination, int32_t dx, int32_t dy, int32_t width, int32_t height, Bitmap565 const& source, int32_t sx, int32_t sy,
    Rect const& clip, RowOp const& op)
{
    if (width < 1 || height < 1 || sx < 0 || sy < 0 || sx > source.width() - width || sy > source.height() - height)
        return;
    Rect visible = intersection(intersection({ dx, dy, width, height }, clip), bounds(destination));
    if (is_empty(visible))
        return;
    int32_t source_x = sx + (visible.left - dx);
    int32_t source_y = sy + (visible.top - dy);
    // Whole rows of equal pitch lie back to back in both pictures: one move copies them all.
    if (op.is_plain_copy() && visible.left == 0 && source_x == 0 && visible.width == destination.width() && visible.width == source.width()
        && destination.pitch() == source.pitch()) {
        std::memmove(destination.row(visible.top), source.row(source_y), static_cast<size_t>(destination.pitch()) * static_cast<size_t>(visible.height));
        return;
    }
    for (int32_t row = 0; row < visible.height; ++row) {
        uint16_t* target = destination.row(visible.top + row) + visible.left;
        op.row(target, target + visible.width, source.row(source_y + row) + source_x, source_y + row);
    }
}

void blit_scaled(Bitmap565& destination, Rect const& destination_rect, Bitmap565 const& source, Rect const& source_rect, Rect const& clip,
    RowOp const& op)
{
    if (is_empty(destination_rect) || is_empty(source_rect) || source_rect.left < 0 || source_rect.top < 0
        || source_rect.left > source.width() - source_rect.width || source_rect.top > source.height() - source_rect.height)
        return;
    Rect visible = intersection(intersection(destination_rect, clip), bounds(destination));
    if (is_empty(visible))
        return;
    int64_t step_x = static_cast<int64_t>(source_rect.width) * 1024 / destination_rect.width;
    int64_t step_y = static_cast<int64_t>(source_rect.height) * 1024 / destination_rect.height;
    int32_t start_x = static_cast<int32_t>(static_cast<int64_t>(source_rect.left) * 1024 + (visible.left - destination_rect.left) * step_x);
    for (int32_t row = 0; row < visible.height; ++row) {
        int64_t position_y = static_cast<int64_t>(source_rect.top) * 1024 + (visible.top - destination_rect.top + row) * step_y;
        int32_t source_y = std::min(static_cast<int32_t>(position_y >> 10), source.height() - 1);
        uint16_t* target = destination.row(visible.top + row) + visible.left;
        op.row_scaled(target, target + visible.width, source.row(source_y), start_x, static_cast<int32_t>(step_x), source_y);
    }
}

void fill_rect(Bitmap565& destination, Rect const& rect, Rect const& clip, uint16_t colour)
{
    Rect visible = intersection(intersection(rect, clip), bounds(destination));
    for (int32_t row = 0; row < visible.height; ++row)
        std::fill_n(destination.row(visible.top + row) + visible.left, visible.width, colour);
}

void apply_in_place(Bitmap565& destination, Rect const& rect, RowOp const& op)
{
    Rect visible = intersection(rect, bounds(destination));
    for (int32_t row = 0; row < visible.height; ++row) {
        uint16_t* target = destination.row(visible.top + row) + visible.left;
        op.row(target, target + visible.width, target, visible.top + row);
    }
}

}
