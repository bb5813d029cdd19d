#pragma once

#include "shell/Bitmap565.h"
#include "skin/Blit.h"

#include <memory>

namespace velloq {

// One axis of a nine-part picture: where each of the three parts lands in the destination and
// where its source starts, after the fixed parts were shortened to fit and everything was cut
// to the clip.
struct NinePartSegment {
    int32_t destination { 0 }; // first destination pixel
    int32_t length { 0 };      // destination pixels (0: nothing to draw)
    int32_t source { 0 };      // first source index, in point space (before the resolution shift)
};
struct NinePartAxis {
    NinePartSegment first;
    NinePartSegment middle;
    NinePartSegment last;
};

// Splits `size` destination pixels from `start` by the points a < b < c < d of one axis, and
// cuts the parts to [clip_begin, clip_end).
NinePartAxis split_nine_part_axis(int32_t start, int32_t size, int32_t a, int32_t b, int32_t c, int32_t d, int32_t clip_begin, int32_t clip_end);

// A picture of a skin with its nine-part grid: along each axis a fixed first part (a to b), a
// tiled middle (b to c) and a fixed last part (c to d). The points are in screen pixels
// (doubled on 192 dpi screens) while the picture keeps its design size; `shift` maps back.
struct PictureRef {
    std::shared_ptr<Bitmap565> picture;
    Point a;
    Point b;
    Point c;
    Point d;
    uint8_t flag { 0 };
    int32_t shift { 0 };

    bool is_null() const { return !picture; }
    void draw(DrawTarget const& target, Rect const& destination, RowOp const& op) const;
};

}
