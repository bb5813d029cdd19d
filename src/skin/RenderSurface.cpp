#include "skin/RenderSurface.h"

#include "shell/Fatal.h"

#include <atomic>

namespace velloq {

namespace {

std::atomic<int64_t> g_pixels_alive { 0 };

int64_t area(Bitmap565 const* picture)
{
    return picture ? static_cast<int64_t>(picture->width()) * picture->height() : 0;
}

}

RenderSurface::RenderSurface(int32_t width, int32_t height)
{
    recreate(width, height);
}

RenderSurface::~RenderSurface()
{
    g_pixels_alive -= area(m_picture.get());
}

int64_t RenderSurface::pixels_alive()
{
    return g_pixels_alive.load();
}

bool RenderSurface::recreate(int32_t width, int32_t height)
{
    if (m_picture ? (m_picture->width() == width && m_picture->height() == height) : (width == 0 && height == 0))
        return false;
    g_pixels_alive -= area(m_picture.get());
    if (!m_clips.empty())
        fatal(u"RenderSurface::recreate", u"Clip is in effect, cannot resize");
    m_picture = Bitmap565::create(std::max(0, width), std::max(0, height));
    m_target.picture = m_picture.get();
    m_target.rect = { 0, 0, width, height };
    g_pixels_alive += area(m_picture.get());
    return true;
}

void RenderSurface::clear()
{
    g_pixels_alive -= area(m_picture.get());
    m_picture.reset();
    m_target = {};
}

void RenderSurface::push_clip(Rect const& rect)
{
    m_clips.push_back(m_target.rect);
    m_target.rect = intersection(m_target.rect, rect);
}

void RenderSurface::pop_clip()
{
    if (m_clips.empty())
        return;
    m_target.rect = m_clips.back();
    m_clips.pop_back();
}

void RenderSurface::draw_to(DrawTarget const& target, Point position, RowOp const& op) const
{
    if (!m_picture || !target.picture)
        return;
    blit(*target.picture, position.x, position.y, m_picture->width(), m_picture->height(), *m_picture, 0, 0, target.rect, op);
}

void RenderSurface::draw_to_scaled(DrawTarget const& target, Rect const& destination, RowOp const& op) const
{
    if (!m_picture || !target.picture)
        return;
    blit_scaled(*target.picture, destination, *m_picture, { 0, 0, m_picture->width(), m_picture->height() }, target.rect, op);
}

}
