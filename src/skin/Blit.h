#pragma once

#include "shell/Bitmap565.h"
#include "skin/Geometry.h"
#include "skin/RowOp.h"

namespace velloq {

// Where drawing goes: a picture and the rectangle of it that may be drawn on (the clip).
struct DrawTarget {
    Rect rect;
    Bitmap565* picture { nullptr };
};

// Copies a width × height block from (sx, sy) of the source to (dx, dy) of the destination
// through the row operation. Nothing is drawn when the block leaves the source; the destination
// block is cut to the clip and to the destination's bounds once, before any row is touched.
void blit(Bitmap565& destination, int32_t dx, int32_t dy, int32_t width, int32_t height, Bitmap565 const& source, int32_t sx, int32_t sy,
    Rect const& clip, RowOp const& op);

// Copies the source rectangle onto the destination rectangle of another size; source positions
// advance in 22.10 fixed point by source size × 1024 / destination size.
void blit_scaled(Bitmap565& destination, Rect const& destination_rect, Bitmap565 const& source, Rect const& source_rect, Rect const& clip,
    RowOp const& op);

// Fills the rectangle (cut to the clip and the picture) with one colour.
void fill_rect(Bitmap565& destination, Rect const& rect, Rect const& clip, uint16_t colour);

// Runs the row operation over a rectangle of the destination with itself as source, as dimming
// through a level does.
void apply_in_place(Bitmap565& destination, Rect const& rect, RowOp const& op);

}
