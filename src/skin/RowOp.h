#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace velloq {

// One operation on rows of 5-6-5 pixels. The copy routines clip once per call and then hand the
// operation one row at a time, so the per-pixel loops below stay tight and free of clipping.
class RowOp {
public:
    virtual ~RowOp() = default;
    // Source pixels one to one.
    virtual void row(uint16_t* destination, uint16_t* end, uint16_t const* source, int32_t row_index) const = 0;
    // Source pixel = source_row[position >> 10], position starting at `start` and advancing by
    // `step` (22.10 fixed point) per destination pixel.
    virtual void row_scaled(uint16_t* destination, uint16_t* end, uint16_t const* source_row, int32_t start, int32_t step, int32_t row_index) const = 0;
    // Source pixel = source_row[position >> shift], position starting at `start` and wrapping back
    // from `period_end` to `period_begin`: a tiled middle that is never stretched.
    virtual void row_repeat(uint16_t* destination, uint16_t* end, uint16_t const* source_row, int32_t start, int32_t period_begin,
        int32_t period_end, int32_t shift) const = 0;
    // True for the plain copy, whose whole blocks the copy routines may move at once.
    virtual bool is_plain_copy() const { return false; }
};

// Walks the three indexing modes for an operation whose per-pixel work is `Combine`:
// destination = combine(source, destination).
template<typename Combine>
class PixelRowOp : public RowOp {
public:
    explicit PixelRowOp(Combine combine = {})
        : m_combine(combine)
    {
    }
    void row(uint16_t* destination, uint16_t* end, uint16_t const* source, int32_t) const override
    {
        while (destination < end) {
            *destination = m_combine(*source++, *destination);
            ++destination;
        }
    }
    void row_scaled(uint16_t* destination, uint16_t* end, uint16_t const* source_row, int32_t start, int32_t step, int32_t) const override
    {
        for (int32_t position = start; destination < end; position += step, ++destination)
            *destination = m_combine(source_row[position >> 10], *destination);
    }
    void row_repeat(uint16_t* destination, uint16_t* end, uint16_t const* source_row, int32_t start, int32_t period_begin, int32_t period_end,
        int32_t shift) const override
    {
        // Runs from the position to the end of the period without a wrap test per pixel.
        for (int32_t position = start; destination < end; position = period_begin) {
            int32_t count = static_cast<int32_t>(std::min<ptrdiff_t>(end - destination, period_end - position));
            if (count <= 0)
                return;
            for (int32_t i = 0; i < count; ++i)
                destination[i] = m_combine(source_row[(position + i) >> shift], destination[i]);
            destination += count;
        }
    }

protected:
    Combine m_combine;
};

struct CopyPixel {
    uint16_t operator()(uint16_t source, uint16_t) const { return source; }
};

// Plain copy, with a memcpy fast path for the one-to-one rows.
class CopyRowOp final : public PixelRowOp<CopyPixel> {
public:
    void row(uint16_t* destination, uint16_t* end, uint16_t const* source, int32_t row_index) const override;
    bool is_plain_copy() const override { return true; }
};

// Each channel multiplied by its own factor (0 to 256) and shifted right by 8.
struct ModulatePixel {
    uint32_t red { 256 };
    uint32_t green { 256 };
    uint32_t blue { 256 };
    uint16_t modulate(uint16_t source) const
    {
        uint32_t r = ((source >> 11) * red) >> 8;
        uint32_t g = (((source >> 5) & 0x3F) * green) >> 8;
        uint32_t b = ((source & 0x1F) * blue) >> 8;
        return static_cast<uint16_t>(r << 11 | g << 5 | b);
    }
    uint16_t operator()(uint16_t source, uint16_t) const { return modulate(source); }
};
struct ModulateOrPixel : ModulatePixel {
    uint16_t operator()(uint16_t source, uint16_t destination) const { return modulate(source) | destination; }
};
using ModulateRowOp = PixelRowOp<ModulatePixel>;
using ModulateOrRowOp = PixelRowOp<ModulateOrPixel>;

// The key colour 0xF81F (magenta) leaves the destination; a source pixel with the lowest green
// bit set is copied; any other is added to three quarters of the destination, which darkens or
// tints what lies below.
struct KeyShadePixel {
    uint16_t operator()(uint16_t source, uint16_t destination) const
    {
        if (source == 0xF81F)
            return destination;
        if (source & 0x20)
            return source;
        return static_cast<uint16_t>(source + (((destination >> 2) & 0x39E7) + ((destination >> 1) & 0x7BEF)));
    }
};
using KeyShadeRowOp = PixelRowOp<KeyShadePixel>;

// The key colour leaves the destination, every other pixel is copied.
struct KeyPixel {
    uint16_t operator()(uint16_t source, uint16_t destination) const { return source == 0xF81F ? destination : source; }
};
using KeyRowOp = PixelRowOp<KeyPixel>;

// Mixes source and destination: level 16 is the source alone, 0 the destination alone.
struct BlendPixel {
    uint32_t level { 16 };
    uint16_t operator()(uint16_t source, uint16_t destination) const
    {
        // Spread the channels apart in one 32-bit word so one multiply blends all three.
        uint32_t s = (source | static_cast<uint32_t>(source) << 16) & 0x07E0F81F;
        uint32_t d = (destination | static_cast<uint32_t>(destination) << 16) & 0x07E0F81F;
        uint32_t mixed = ((s * level + d * (16 - level)) >> 4) & 0x07E0F81F;
        return static_cast<uint16_t>(mixed | mixed >> 16);
    }
};
using BlendRowOp = PixelRowOp<BlendPixel>;

// Darkens the destination towards black: level 16 keeps it, 0 makes it black. Used to draw a
// picture over itself through a dim level.
struct DimPixel {
    uint32_t level { 16 };
    uint16_t operator()(uint16_t, uint16_t destination) const { return BlendPixel { level }(destination, 0); }
};
using DimRowOp = PixelRowOp<DimPixel>;

}
