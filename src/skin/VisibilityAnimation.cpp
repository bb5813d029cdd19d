#include "skin/VisibilityAnimation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace velloq {

namespace {

// Fast at first, gently at the end.
double ease_out(double t)
{
    return 1.0 - (1.0 - t) * (1.0 - t) * (1.0 - t);
}

// Grows a little past its size and settles back.
double overshoot(double t)
{
    constexpr double swing = 1.7;
    double u = t - 1.0;
    return 1.0 + u * u * ((swing + 1.0) * u + swing);
}

Rect scaled_about_centre(Rect const& rect, double factor)
{
    int32_t width = static_cast<int32_t>(rect.width * factor);
    int32_t height = static_cast<int32_t>(rect.height * factor);
    return { rect.left + (rect.width - width) / 2, rect.top + (rect.height - height) / 2, width, height };
}

}

std::unique_ptr<VisibilityAnimation> VisibilityAnimation::make(std::u16string_view name)
{
    static constexpr std::array<std::pair<std::u16string_view, Kind>, 7> names { {
        { u"scale", Kind::Scale },
        { u"pop", Kind::Pop },
        { u"right", Kind::Right },
        { u"bottom", Kind::Bottom },
        { u"left", Kind::Left },
        { u"top", Kind::Top },
        { u"flip", Kind::Flip },
    } };
    for (auto const& [text, kind] : names) {
        if (text == name)
            return std::make_unique<VisibilityAnimation>(kind);
    }
    return nullptr;
}

VisibilityAnimation::VisibilityAnimation(Kind kind)
    : m_kind(kind)
{
}

void VisibilityAnimation::start(int32_t direction)
{
    m_direction = direction;
    m_progress = direction > 0 ? 0.0 : 1.0;
}

void VisibilityAnimation::advance(double seconds)
{
    if (m_direction == 0)
        return;
    m_progress = std::clamp(m_progress + m_direction * seconds / duration_seconds, 0.0, 1.0);
    if ((m_direction > 0 && m_progress >= 1.0) || (m_direction < 0 && m_progress <= 0.0))
        m_direction = 0;
}

void VisibilityAnimation::draw(RenderSurface const& surface, DrawTarget const& target, Rect const& rect) const
{
    if (m_progress <= 0.0)
        return;
    double t = ease_out(m_progress);
    Rect destination = rect;
    switch (m_kind) {
    case Kind::Scale:
        destination = scaled_about_centre(rect, t);
        break;
    case Kind::Pop:
        destination = scaled_about_centre(rect, std::max(0.0, overshoot(m_progress)));
        break;
    case Kind::Right:
        destination.left += static_cast<int32_t>((1.0 - t) * rect.width);
        break;
    case Kind::Left:
        destination.left -= static_cast<int32_t>((1.0 - t) * rect.width);
        break;
    case Kind::Bottom:
        destination.top += static_cast<int32_t>((1.0 - t) * rect.height);
        break;
    case Kind::Top:
        destination.top -= static_cast<int32_t>((1.0 - t) * rect.height);
        break;
    case Kind::Flip: {
        int32_t width = static_cast<int32_t>(rect.width * std::abs(std::sin(t * 1.5707963267948966)));
        destination = { rect.left + (rect.width - width) / 2, rect.top, width, rect.height };
        break;
    }
    }
    ElementCache plain;
    ElementCache const& cache = m_cache ? *m_cache : plain;
    if (destination.width == rect.width && destination.height == rect.height)
        cache.draw(surface, target, { destination.left, destination.top });
    else if (!is_empty(destination))
        cache.draw_scaled(surface, target, destination);
}

}
