#include "skin/BasicElements.h"

#include "skin/Properties.h"

#include <algorithm>
#include <cmath>

namespace velloq {

void ColorElement::load(Properties const& skin, Section const& section)
{
    Element::load(skin, section);
    m_colour = skin.get_colour(section, u"color", { 255, 0, 255, 255 });
}

void ColorElement::set_colour(Colour colour)
{
    if (colour == m_colour)
        return;
    m_colour = colour;
    set_needs_redraw();
}

void ColorElement::draw_self(DrawTarget const& target, Point offset)
{
    if (target.picture)
        fill_rect(*target.picture, { position().x + offset.x, position().y + offset.y, size().x, size().y }, target.rect, m_colour.to_565());
    draw_children(target, offset);
}

void ProgressElement::load(Properties const& skin, Section const& section)
{
    Element::load(skin, section);
    m_colour = skin.get_colour(section, u"color", { 255, 255, 255, 255 });
    m_bar = find_by_id(u"#bar");
}

void ProgressElement::set_value(double value)
{
    value = std::clamp(value, 0.0, 1.0);
    if (value == m_value)
        return;
    m_value = value;
    if (m_bar)
        place_children(Axis::Horizontal);
    set_needs_redraw();
}

void ProgressElement::place_children(Axis axis)
{
    Element::place_children(axis);
    if (axis == Axis::Horizontal && m_bar)
        m_bar->set_horizontal(m_bar->position().x, static_cast<int32_t>(m_bar->size().x * m_value));
}

void ProgressElement::draw_self(DrawTarget const& target, Point offset)
{
    if (!m_bar && target.picture) {
        int32_t width = static_cast<int32_t>(size().x * m_value);
        fill_rect(*target.picture, { position().x + offset.x, position().y + offset.y, width, size().y }, target.rect, m_colour.to_565());
    }
    draw_children(target, offset);
}

void ImageElement::load(Properties const& skin, Section const& section)
{
    Element::load(skin, section);
    m_picture = skin.get_picture(section, u"picture", {});
}

void ImageElement::set_picture(PictureRef picture)
{
    m_picture = std::move(picture);
    set_needs_redraw();
}

void ImageElement::draw_self(DrawTarget const& target, Point offset)
{
    m_picture.draw(target, { position().x + offset.x, position().y + offset.y, size().x, size().y }, KeyRowOp());
    draw_children(target, offset);
}

void ClipElement::measure(Axis axis, Measure& measure)
{
    Element::measure(axis, measure);
    measure.minimum = axis == Axis::Horizontal ? design_size().x : design_size().y;
}

void ClipElement::load(Properties const& skin, Section const& section)
{
    Element::load(skin, section);
    // A skin that names no colour (alpha 0 stands for none) shows no bar.
    Colour indicator = skin.get_colour(section, u"indicator_color", { 0, 0, 0, 0 });
    if (indicator.alpha != 0)
        m_indicator = indicator;
}

void ClipElement::draw_self(DrawTarget const& target, Point offset)
{
    Rect own { position().x + offset.x, position().y + offset.y, size().x, size().y };
    DrawTarget clipped { intersection(target.rect, own), target.picture };
    draw_children(clipped, offset);
    if (!m_indicator || m_content_height <= size().y || !target.picture)
        return;
    int32_t bar = std::max(16, size().y * size().y / m_content_height);
    int32_t travel = size().y - bar;
    int32_t top = travel * m_scroll / std::max(1, m_content_height - size().y);
    fill_rect(*target.picture, { own.left + own.width - 3, own.top + top, 3, bar }, clipped.rect, m_indicator->to_565());
}

// Across, children take their place as anywhere; down, they are as tall as they need and moved
// up by the scroll.
void ClipElement::place_children(Axis axis)
{
    if (axis == Axis::Horizontal) {
        Element::place_children(axis);
        return;
    }
    m_content_height = size().y;
    for (auto& child : children())
        m_content_height = std::max(m_content_height, child->cached_measure(Axis::Vertical).preferred);
    m_scroll = std::clamp(m_scroll, 0, m_content_height - size().y);
    for (auto& child : children()) {
        int32_t height = std::max(size().y, child->cached_measure(Axis::Vertical).preferred);
        child->set_vertical(position().y - m_scroll, height);
    }
}

void ClipElement::scroll_by(int32_t pixels)
{
    int32_t wanted = std::clamp(m_scroll + pixels, 0, std::max(0, m_content_height - size().y));
    if (wanted == m_scroll)
        return;
    m_scroll = wanted;
    place_children(Axis::Vertical);
    set_needs_redraw();
}

bool ClipElement::pointer_button(PointerEvent const& event)
{
    // A view that shows everything leaves presses to its children.
    if (m_content_height <= size().y)
        return Element::pointer_button(event);
    m_drag_from = event.pressed ? event.y : -1;
    m_scroll_at_drag = m_scroll;
    return true;
}

bool ClipElement::pointer_move(PointerEvent const& event)
{
    if (m_drag_from < 0)
        return Element::pointer_move(event);
    scroll_by(m_scroll_at_drag + (m_drag_from - event.y) - m_scroll);
    return true;
}

void SnakeElement::load(Properties const& skin, Section const& section)
{
    Element::load(skin, section);
    m_colour = skin.get_colour(section, u"color", { 255, 255, 255, 255 });
}

void SnakeElement::advance(double seconds)
{
    Element::advance(seconds);
    if (!is_visible() || !is_effectively_visible())
        return;
    m_phase = std::fmod(m_phase + seconds * 1.5, 1.0);
    set_needs_redraw();
}

void SnakeElement::draw_self(DrawTarget const& target, Point offset)
{
    constexpr int dots = 8;
    if (target.picture && size().x > 0) {
        int32_t dot = std::max(2, std::min(size().y, size().x / (dots * 2)));
        int32_t step = size().x / dots;
        int head = static_cast<int>(m_phase * dots);
        for (int i = 0; i < dots; ++i) {
            // The dots behind the running head fade towards a quarter of the colour.
            int behind = (head - i + dots) % dots;
            uint32_t level = static_cast<uint32_t>(std::max(4, 16 - behind * 4));
            uint16_t colour = BlendPixel { level }(m_colour.to_565(), 0);
            Rect box { position().x + offset.x + i * step + (step - dot) / 2, position().y + offset.y + (size().y - dot) / 2, dot, dot };
            fill_rect(*target.picture, box, target.rect, colour);
        }
    }
    draw_children(target, offset);
}

void CheckboxElement::load(Properties const& skin, Section const& section)
{
    Element::load(skin, section);
    m_on = find_by_id(u"#on");
    m_off = find_by_id(u"#off");
    set_checked(skin.get_int(section, u"checked", 0) != 0);
    if (m_on)
        m_on->set_visible(m_checked);
    if (m_off)
        m_off->set_visible(!m_checked);
}

void CheckboxElement::set_checked(bool checked)
{
    m_checked = checked;
    if (m_on)
        m_on->set_visible(checked);
    if (m_off)
        m_off->set_visible(!checked);
    set_needs_redraw();
}

bool CheckboxElement::pointer_button(PointerEvent const& event)
{
    if (event.pressed)
        return true;
    if (!event.cancelled && hit_test(event)) {
        set_checked(!m_checked);
        if (auto toggle = on_toggle)
            toggle();
    }
    return true;
}

}
