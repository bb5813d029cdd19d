#include "skin/ElementCache.h"

#include <algorithm>

namespace velloq {

ElementCache::ElementCache(int32_t alpha)
    : m_alpha(alpha)
{
    if (alpha < 0) {
        m_op = std::make_unique<KeyRowOp>();
        return;
    }
    uint32_t level = static_cast<uint32_t>(std::clamp(alpha / 64, 0, 4));
    m_op = std::make_unique<PixelRowOp<KeyBlendPixel>>(KeyBlendPixel { level * 4 });
}

RowOp const& ElementCache::row_op() const
{
    return *m_op;
}

void ElementCache::draw(RenderSurface const& surface, DrawTarget const& target, Point position) const
{
    surface.draw_to(target, position, *m_op);
}

void ElementCache::draw_scaled(RenderSurface const& surface, DrawTarget const& target, Rect const& destination) const
{
    surface.draw_to_scaled(target, destination, *m_op);
}

}
