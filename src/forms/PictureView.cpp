#include "forms/PictureView.h"

#include "shell/Input.h"
#include "shell/KeyCode.h"
#include "skin/Blit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace velloq {

namespace {

constexpr uint16_t background = 0x0000;
// Two taps this close in time and place are a double tap.
constexpr uint32_t double_tap_ms = 350;
constexpr int32_t double_tap_distance = 40;
constexpr double double_tap_zoom = 2.5;

}

void PictureView::set_picture(std::shared_ptr<Bitmap565> picture)
{
    m_picture = std::move(picture);
    m_zoom = 1.0;
    m_centre_x = m_picture ? m_picture->width() / 2.0 : 0;
    m_centre_y = m_picture ? m_picture->height() / 2.0 : 0;
    set_needs_redraw();
}

double PictureView::scale() const
{
    if (!m_picture || m_picture->width() <= 0 || m_picture->height() <= 0)
        return 1.0;
    double fitted = std::min(static_cast<double>(size().x) / m_picture->width(), static_cast<double>(size().y) / m_picture->height());
    return fitted * m_zoom;
}

// Along each axis, a picture smaller than the element stays in its middle; a larger one never
// shows beyond its edges.
void PictureView::keep_inside()
{
    if (!m_picture)
        return;
    double s = scale();
    auto clamp_axis = [s](double& centre, int32_t picture_side, int32_t view_side) {
        double half_view = view_side / s / 2.0;
        if (half_view * 2 >= picture_side)
            centre = picture_side / 2.0;
        else
            centre = std::clamp(centre, half_view, picture_side - half_view);
    };
    clamp_axis(m_centre_x, m_picture->width(), size().x);
    clamp_axis(m_centre_y, m_picture->height(), size().y);
}

void PictureView::zoom_by(double factor, int32_t x, int32_t y)
{
    if (!m_picture)
        return;
    double before = scale();
    // The picture's point under (x, y) before...
    double point_x = m_centre_x + (x - position().x - size().x / 2.0) / before;
    double point_y = m_centre_y + (y - position().y - size().y / 2.0) / before;
    m_zoom = std::clamp(m_zoom * factor, 1.0, most_zoom);
    double after = scale();
    // ...is under it after.
    m_centre_x = point_x - (x - position().x - size().x / 2.0) / after;
    m_centre_y = point_y - (y - position().y - size().y / 2.0) / after;
    keep_inside();
    set_needs_redraw();
}

// Each screen pixel takes the picture pixel under its middle.
void PictureView::draw_self(DrawTarget const& target, Point offset)
{
    Rect own { position().x + offset.x, position().y + offset.y, size().x, size().y };
    Rect clip = intersection(intersection(target.rect, own), { 0, 0, target.picture ? target.picture->width() : 0, target.picture ? target.picture->height() : 0 });
    if (!target.picture || is_empty(clip))
        return;
    fill_rect(*target.picture, own, clip, background);
    if (!m_picture)
        return;
    double s = scale();
    double left = own.left + own.width / 2.0 - m_centre_x * s;
    double top = own.top + own.height / 2.0 - m_centre_y * s;
    int32_t x0 = std::max(clip.left, static_cast<int32_t>(std::ceil(left)));
    int32_t x1 = std::min(clip.left + clip.width, static_cast<int32_t>(std::floor(left + m_picture->width() * s)));
    int32_t y0 = std::max(clip.top, static_cast<int32_t>(std::ceil(top)));
    int32_t y1 = std::min(clip.top + clip.height, static_cast<int32_t>(std::floor(top + m_picture->height() * s)));
    for (int32_t y = y0; y < y1; ++y) {
        int32_t source_y = std::clamp(static_cast<int32_t>((y + 0.5 - top) / s), 0, m_picture->height() - 1);
        uint16_t const* source = m_picture->row(source_y);
        uint16_t* out = target.picture->row(y);
        for (int32_t x = x0; x < x1; ++x)
            out[x] = source[std::clamp(static_cast<int32_t>((x + 0.5 - left) / s), 0, m_picture->width() - 1)];
    }
    draw_children(target, offset);
}

bool PictureView::pointer_button(PointerEvent const& event)
{
    if (!event.pressed) {
        m_dragging = false;
        return true;
    }
    bool second_tap = event.time - m_last_tap_time <= double_tap_ms && std::abs(event.x - m_last_tap_x) <= double_tap_distance
        && std::abs(event.y - m_last_tap_y) <= double_tap_distance;
    if (second_tap) {
        // A double tap zooms in where it lands, or back out to the whole picture.
        zoom_by(m_zoom > 1.0 ? 1.0 / m_zoom : double_tap_zoom, event.x, event.y);
        m_last_tap_time = 0;
        m_last_tap_x = m_last_tap_y = -1000;
    } else {
        m_last_tap_time = event.time;
        m_last_tap_x = event.x;
        m_last_tap_y = event.y;
    }
    m_dragging = true;
    m_drag_x = event.x;
    m_drag_y = event.y;
    return true;
}

bool PictureView::pointer_move(PointerEvent const& event)
{
    if (!m_dragging || !m_picture)
        return false;
    double s = scale();
    m_centre_x -= (event.x - m_drag_x) / s;
    m_centre_y -= (event.y - m_drag_y) / s;
    m_drag_x = event.x;
    m_drag_y = event.y;
    keep_inside();
    set_needs_redraw();
    return true;
}

bool PictureView::wheel(PointerEvent const& event, int32_t thousandths)
{
    // Toward later content (down) zooms out, as a map does.
    zoom_by(std::pow(1.25, -thousandths / 1000.0), event.x, event.y);
    return true;
}

bool PictureView::pinch(PointerEvent const& event, double factor)
{
    zoom_by(factor, event.x, event.y);
    return true;
}

// The volume keys of a phone, the arrows up and down, and + and - typed, zoom around the middle.
bool PictureView::key(KeyEvent const& event)
{
    if (!event.pressed)
        return false;
    if (event.code == Key::VolumeUp || event.code == Key::Up) {
        zoom_by(1.5, position().x + size().x / 2, position().y + size().y / 2);
        return true;
    }
    if (event.code == Key::VolumeDown || event.code == Key::Down) {
        zoom_by(1 / 1.5, position().x + size().x / 2, position().y + size().y / 2);
        return true;
    }
    return false;
}

bool PictureView::text_input(std::u16string const& text)
{
    if (text != u"+" && text != u"=" && text != u"-")
        return false;
    zoom_by(text == u"-" ? 1 / 1.5 : 1.5, position().x + size().x / 2, position().y + size().y / 2);
    return true;
}

}
