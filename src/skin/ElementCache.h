#pragma once

#include "skin/RenderSurface.h"

#include <memory>

namespace velloq {

// The key colour a cached element's surface is cleared to: what it does not paint stays clear.
constexpr uint16_t cache_key_colour = 0xF81F;

// How a cached element's own surface is copied onto the form: every painted pixel as it is, or
// blended at one of five levels (cache_alpha / 64, clamped to 0…4; 4 is opaque).
class ElementCache {
public:
    explicit ElementCache(int32_t alpha = -1);
    void draw(RenderSurface const& surface, DrawTarget const& target, Point position) const;
    void draw_scaled(RenderSurface const& surface, DrawTarget const& target, Rect const& destination) const;
    RowOp const& row_op() const;
    std::unique_ptr<ElementCache> copy() const { return std::make_unique<ElementCache>(m_alpha); }
    int32_t alpha() const { return m_alpha; }

private:
    int32_t m_alpha;
    struct KeyBlendPixel {
        uint32_t level { 16 };
        uint16_t operator()(uint16_t source, uint16_t destination) const
        {
            return source == cache_key_colour ? destination : BlendPixel { level }(source, destination);
        }
    };
    std::unique_ptr<RowOp> m_op;
};

}
