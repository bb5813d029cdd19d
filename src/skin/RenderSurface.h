#pragma once

#include "skin/Blit.h"

#include <memory>
#include <vector>

namespace velloq {

// A drawing target that owns its picture: what a form, a cached element or the whole
// application draws into. Clips are pushed and popped; resizing a clipped surface is a broken
// rule. A process-wide counter keeps the pixels of all surfaces alive.
class RenderSurface {
public:
    RenderSurface() = default;
    explicit RenderSurface(int32_t width, int32_t height);
    ~RenderSurface();
    RenderSurface(RenderSurface const&) = delete;
    RenderSurface& operator=(RenderSurface const&) = delete;

    // A new picture of the size (contents undefined); false when the size is unchanged.
    bool recreate(int32_t width, int32_t height);
    void clear();

    Bitmap565* picture() { return m_picture.get(); }
    Bitmap565 const* picture() const { return m_picture.get(); }
    DrawTarget const& target() const { return m_target; }
    int32_t width() const { return m_picture ? m_picture->width() : 0; }
    int32_t height() const { return m_picture ? m_picture->height() : 0; }

    void push_clip(Rect const& rect);
    void pop_clip();
    int32_t clip_depth() const { return static_cast<int32_t>(m_clips.size()); }

    // Copies the whole surface onto a target at a position, or scaled onto a rectangle.
    void draw_to(DrawTarget const& target, Point position, RowOp const& op) const;
    void draw_to_scaled(DrawTarget const& target, Rect const& destination, RowOp const& op) const;

    static int64_t pixels_alive();

private:
    std::unique_ptr<Bitmap565> m_picture;
    DrawTarget m_target;
    std::vector<Rect> m_clips;
};

}
