#include "skin/PictureRef.h"

#include <algorithm>

namespace velloq {

namespace {

void cut(NinePartSegment& segment, int32_t clip_begin, int32_t clip_end)
{
    int32_t begin = std::max(segment.destination, clip_begin);
    int32_t end = std::min(segment.destination + segment.length, clip_end);
    if (end <= begin) {
        segment.length = 0;
        return;
    }
    segment.source += begin - segment.destination;
    segment.destination = begin;
    segment.length = end - begin;
}

// The source index (point space) of a destination pixel `offset` into a segment of one axis; the
// middle wraps from c back to b.
int32_t source_index(NinePartSegment const& segment, int32_t offset, bool middle, int32_t b, int32_t c)
{
    int32_t index = segment.source + offset;
    if (middle && c > b)
        index = b + (index - b) % (c - b);
    return index;
}

}

NinePartAxis split_nine_part_axis(int32_t start, int32_t size, int32_t a, int32_t b, int32_t c, int32_t d, int32_t clip_begin, int32_t clip_end)
{
    int32_t first = std::max(0, b - a);
    int32_t last = std::max(0, d - c);
    int32_t first_part = first;
    int32_t last_part = last;
    if (first + last >= size) {
        int32_t half = size / 2;
        int32_t last_share = (size - 1) / 2 + (first < half ? half - first : 0);
        last_part = std::min(last, last_share);
        first_part = std::min(first, half) + (last_share - last_part);
        first_part = std::min(first_part, first);
    }
    int32_t middle_part = std::max(0, size - first_part - last_part);
    NinePartAxis axis;
    axis.first = { start, first_part, a };
    axis.middle = { start + first_part, middle_part, b };
    // A shortened last part shows the end of its source part.
    axis.last = { start + first_part + middle_part, last_part, c + (last - last_part) };
    cut(axis.first, clip_begin, clip_end);
    cut(axis.middle, clip_begin, clip_end);
    cut(axis.last, clip_begin, clip_end);
    return axis;
}

void PictureRef::draw(DrawTarget const& target, Rect const& destination, RowOp const& op) const
{
    if (!picture || !target.picture || is_empty(destination))
        return;
    Rect clip = intersection(target.rect, { 0, 0, target.picture->width(), target.picture->height() });
    if (is_empty(clip))
        return;
    NinePartAxis columns = split_nine_part_axis(destination.left, destination.width, a.x, b.x, c.x, d.x, clip.left, clip.left + clip.width);
    NinePartAxis rows = split_nine_part_axis(destination.top, destination.height, a.y, b.y, c.y, d.y, clip.top, clip.top + clip.height);
    int32_t step = 1024 >> shift;
    for (NinePartSegment const* row_part : { &rows.first, &rows.middle, &rows.last }) {
        bool middle_row = row_part == &rows.middle;
        for (int32_t y = 0; y < row_part->length; ++y) {
            int32_t source_y = source_index(*row_part, y, middle_row, b.y, c.y) >> shift;
            if (source_y < 0 || source_y >= picture->height())
                continue;
            uint16_t const* source_row = picture->row(source_y);
            uint16_t* target_row = target.picture->row(row_part->destination + y);
            for (NinePartSegment const* column_part : { &columns.first, &columns.last }) {
                int32_t begin = column_part->source;
                int32_t end_index = (begin + column_part->length - 1) >> shift;
                if (column_part->length == 0 || begin < 0 || end_index >= picture->width())
                    continue;
                uint16_t* out = target_row + column_part->destination;
                if (shift == 0)
                    op.row(out, out + column_part->length, source_row + begin, source_y);
                else
                    op.row_scaled(out, out + column_part->length, source_row, begin * step, step, source_y);
            }
            if (columns.middle.length > 0 && c.x > b.x && b.x >= 0 && ((c.x - 1) >> shift) < picture->width()) {
                uint16_t* out = target_row + columns.middle.destination;
                int32_t start = source_index(columns.middle, 0, true, b.x, c.x);
                op.row_repeat(out, out + columns.middle.length, source_row, start, b.x, c.x, shift);
            }
        }
    }
}

}
