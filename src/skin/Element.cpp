#include "skin/Element.h"

#include "shell/Log.h"
#include "skin/ElementCache.h"
#include "skin/ElementRegistry.h"
#include "skin/Properties.h"
#include "skin/VisibilityAnimation.h"

#include <algorithm>
#include <atomic>

namespace velloq {

namespace {

std::atomic<int64_t> g_elements_alive { 0 };

// A skin whose child lists loop would build forever; no real skin nests this deep.
constexpr int32_t deepest_nesting = 64;
int32_t g_load_depth = 0;

LogSink& operator<<(LogSink& sink, Point point)
{
    return sink << u"(" << point.x << u", " << point.y << u")";
}

}

Element::Element()
{
    ++g_elements_alive;
}

Element::~Element()
{
    m_children.clear();
    --g_elements_alive;
}

int64_t Element::elements_alive()
{
    return g_elements_alive.load();
}

void Element::dump(int32_t depth) const
{
    log() << std::u16string(static_cast<size_t>(std::max(0, depth)), u'\t') << u"{" << m_id << u"} position=" << m_position << u" size=" << m_size
          << u" design_size=" << m_design_size << u" rs.size=" << Point { m_surface.width(), m_surface.height() } << u"\n";
    for (auto const& child : m_children)
        child->dump(depth + 1);
}

void Element::set_text_by_id(std::u16string_view id, std::u16string const& text)
{
    for (auto& child : m_children)
        child->set_text_by_id(id, text);
}

Element& Element::add_child(std::unique_ptr<Element> child)
{
    child->m_parent = this;
    child->m_effectively_visible = m_visible && m_effectively_visible;
    child->m_effectively_enabled = m_enabled && m_effectively_enabled;
    m_children.push_back(std::move(child));
    invalidate_layout();
    return *m_children.back();
}

std::unique_ptr<Element> Element::remove_child(Element& child)
{
    auto found = std::find_if(m_children.begin(), m_children.end(), [&](auto const& owned) { return owned.get() == &child; });
    if (found == m_children.end())
        return nullptr;
    if (m_capture == &child)
        m_capture = nullptr;
    std::unique_ptr<Element> removed = std::move(*found);
    m_children.erase(found);
    removed->m_parent = nullptr;
    invalidate_layout();
    return removed;
}

void Element::clear_children()
{
    m_capture = nullptr;
    m_children.clear();
    invalidate_layout();
}

void Element::load(Properties const& skin, Section const& section)
{
    m_id = skin.get_string(section, u"id", {});
    m_anchor_x = anchor_from_name(skin.get_string(section, u"anchor_x", {})).value_or(Anchor::BothSide);
    m_anchor_y = anchor_from_name(skin.get_string(section, u"anchor_y", {})).value_or(Anchor::BothSide);
    if (skin.has_records(section, RecordGroup::Point)) {
        m_border_min = skin.get_point(section, u"border_min", {});
        m_design_size = skin.get_point(section, u"design_size", {});
        m_border_max = skin.get_point(section, u"border_max", {});
    }
    if (skin.has_records(section, RecordGroup::Integer)) {
        m_table_ratio = skin.get_int(section, u"table_ratio", 0);
        m_cache = skin.get_int(section, u"cache", 0) != 0;
        if (m_cache)
            m_cache_object = std::make_unique<ElementCache>(skin.get_int(section, u"cache_alpha", -1));
    }
    if (g_load_depth >= deepest_nesting) {
        log() << u"Element::load section nested deeper than " << deepest_nesting << u"; its children are left out\n";
    } else {
        // A child of an unknown type throws out of here: the depth is given back all the same,
        // or every later skin would load without children.
        struct Nesting {
            Nesting() { ++g_load_depth; }
            ~Nesting() { --g_load_depth; }
        } nesting;
        m_children.reserve(m_children.size() + section.child_count);
        for (uint16_t index = 0; index < section.child_count; ++index) {
            auto child_section = skin.child(section, index);
            if (!child_section)
                continue;
            Element& child = add_child(ElementRegistry::create(skin.get_string(*child_section, u"type", {})));
            child.load(skin, *child_section);
        }
    }
    std::u16string animation = skin.get_string(section, u"visibility_animation", {});
    if (!animation.empty()) {
        m_animation = VisibilityAnimation::make(animation);
        if (m_animation && m_cache_object)
            m_animation->set_cache(m_cache_object->copy());
    }
}

void Element::set_enabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    bool before = m_enabled && m_effectively_enabled;
    m_enabled = enabled;
    if (before != (m_enabled && m_effectively_enabled))
        enabled_changed(m_enabled && m_effectively_enabled);
    set_needs_redraw();
}

void Element::enabled_changed(bool effective)
{
    for (auto& child : m_children)
        child->update_enabled(effective);
}

void Element::update_enabled(bool parent_effective)
{
    bool before = m_enabled && m_effectively_enabled;
    m_effectively_enabled = parent_effective;
    if (before != (m_enabled && m_effectively_enabled))
        enabled_changed(m_enabled && m_effectively_enabled);
}

void Element::set_visible(bool visible)
{
    if (visible == m_visible)
        return;
    bool before = m_visible && m_effectively_visible;
    m_visible = visible;
    if (before != (m_visible && m_effectively_visible))
        visibility_changed(m_visible && m_effectively_visible);
    invalidate_layout();
}

void Element::visibility_changed(bool effective)
{
    invalidate_layout();
    if (!effective) {
        m_surface.clear();
        if (Element* captured = std::exchange(m_capture, nullptr)) {
            PointerEvent release;
            release.pressed = false;
            release.cancelled = true;
            captured->pointer_button(release);
        }
    }
    for (auto& child : m_children)
        child->update_visibility(effective);
}

void Element::update_visibility(bool parent_effective)
{
    bool before = m_visible && m_effectively_visible;
    m_effectively_visible = parent_effective;
    if (before != (m_visible && m_effectively_visible))
        visibility_changed(m_visible && m_effectively_visible);
}

void Element::advance(double seconds)
{
    if (m_animation && m_animation->is_running()) {
        m_animation->advance(seconds);
        set_needs_redraw();
    }
    for (auto& child : m_children)
        child->advance(seconds);
}

void Element::draw_self(DrawTarget const& target, Point offset)
{
    draw_children(target, offset);
}

void Element::draw_children(DrawTarget const& target, Point offset)
{
    for (auto& child : m_children)
        child->draw(target, offset);
}

void Element::draw(DrawTarget const& target, Point offset)
{
    if (m_animation && m_animation->is_running()) {
        m_animation->draw(m_surface, target, { m_position.x + offset.x, m_position.y + offset.y, m_size.x, m_size.y });
        return;
    }
    if (!m_visible)
        return;
    if (m_cache && m_cache_object) {
        if (m_needs_redraw || m_surface.width() != m_size.x || m_surface.height() != m_size.y)
            draw_into_own_surface();
        m_cache_object->draw(m_surface, target, { m_position.x + offset.x, m_position.y + offset.y });
    } else {
        draw_self(target, offset);
    }
    m_needs_redraw = false;
}

void Element::draw_into_own_surface()
{
    m_surface.recreate(m_size.x, m_size.y);
    if (!m_surface.picture())
        return;
    m_surface.picture()->fill(cache_key_colour);
    draw_self(m_surface.target(), { -m_position.x, -m_position.y });
}

void Element::show_animated(bool visible)
{
    if (visible == m_visible && !(m_animation && m_animation->is_running()))
        return;
    if (visible)
        set_visible(true);
    if (m_animation) {
        if (m_animation->is_running()) {
            m_animation->reverse();
        } else {
            Element* top = root();
            top->set_horizontal(top->position().x, top->size().x);
            top->set_vertical(top->position().y, top->size().y);
            draw_into_own_surface();
            m_animation->start(visible ? 1 : -1);
        }
    }
    if (!visible)
        set_visible(false);
}

Measure const& Element::cached_measure(Axis axis)
{
    Measure& stored = axis == Axis::Horizontal ? m_measure_x : m_measure_y;
    if (stored.preferred == -1) {
        stored = { 0, 0 };
        measure(axis, stored);
    }
    return stored;
}

int32_t Element::child_space(Element& child, Axis axis)
{
    return anchor_space(child.anchor(axis), child.cached_measure(axis).preferred, child.border_low(axis), child.border_high(axis));
}

void Element::measure(Axis axis, Measure& measure)
{
    int32_t design = axis == Axis::Horizontal ? m_design_size.x : m_design_size.y;
    measure.preferred = std::max(measure.preferred, design);
    measure.minimum = std::max(measure.minimum, design);
    for (auto& child : m_children) {
        Measure const child_measure = child->cached_measure(axis);
        int32_t need = child_space(*child, axis);
        measure.preferred = std::max(measure.preferred, need);
        measure.minimum = std::max(measure.minimum, need - (child_measure.preferred - child_measure.minimum));
    }
}

void Element::place_child_plainly(Element& child, Axis axis)
{
    int32_t preferred = child.cached_measure(axis).preferred;
    int32_t avail = size_on(axis);
    int32_t size = anchor_size(child.anchor(axis), preferred, avail, child.border_low(axis), child.border_high(axis));
    int32_t position = position_on(axis) + anchor_position(child.anchor(axis), size, avail, child.border_low(axis), child.border_high(axis));
    child.set_on(axis, position, size);
}

void Element::place_children(Axis axis)
{
    for (auto& child : m_children)
        place_child_plainly(*child, axis);
}

void Element::set_horizontal(int32_t x, int32_t width)
{
    if (x == m_position.x && width == m_size.x && !m_layout_pending)
        return;
    m_position.x = x;
    m_size.x = width;
    m_layout_pending = true;
    set_needs_redraw();
    if (m_layout_listener)
        m_layout_listener->on_width_changed(*this, width);
    place_children(Axis::Horizontal);
}

void Element::set_vertical(int32_t y, int32_t height)
{
    if (y == m_position.y && height == m_size.y && !m_layout_pending)
        return;
    m_position.y = y;
    m_size.y = height;
    m_layout_pending = false;
    set_needs_redraw();
    if (m_layout_listener)
        m_layout_listener->on_height_changed(*this, height);
    place_children(Axis::Vertical);
}

void Element::forget_measures()
{
    m_measure_x = {};
    m_measure_y = {};
    m_layout_pending = true;
}

void Element::invalidate_layout()
{
    for (Element* element = this; element; element = element->m_parent)
        element->forget_measures();
}

Element* Element::find_by_id(std::u16string_view id)
{
    for (auto& child : m_children) {
        if (child->m_id == id)
            return child.get();
    }
    for (auto& child : m_children) {
        if (Element* found = child->find_by_id(id))
            return found;
    }
    return nullptr;
}

bool Element::hit_test(PointerEvent const& event) const
{
    return event.x >= m_position.x && event.y >= m_position.y && event.x < m_position.x + m_size.x && event.y < m_position.y + m_size.y;
}

bool Element::pointer_move(PointerEvent const& event)
{
    return m_capture ? m_capture->pointer_move(event) : false;
}

bool Element::pointer_button(PointerEvent const& event)
{
    if (m_capture) {
        Element* captured = m_capture;
        if (!event.pressed)
            m_capture = nullptr;
        captured->pointer_button(event);
        return true;
    }
    for (auto child = m_children.rbegin(); child != m_children.rend(); ++child) {
        Element& candidate = **child;
        if (!candidate.hit_test(event) || !candidate.m_visible || !candidate.m_effectively_visible || !candidate.is_enabled())
            continue;
        if (candidate.pointer_button(event)) {
            if (event.pressed)
                m_capture = &candidate;
            return true;
        }
    }
    return false;
}

bool Element::pinch(PointerEvent const& event, double factor)
{
    for (auto child = m_children.rbegin(); child != m_children.rend(); ++child) {
        Element& candidate = **child;
        if (candidate.hit_test(event) && candidate.m_visible && candidate.m_effectively_visible && candidate.pinch(event, factor))
            return true;
    }
    return false;
}

bool Element::wheel(PointerEvent const& event, int32_t thousandths)
{
    for (auto child = m_children.rbegin(); child != m_children.rend(); ++child) {
        Element& candidate = **child;
        if (candidate.hit_test(event) && candidate.m_visible && candidate.m_effectively_visible && candidate.wheel(event, thousandths))
            return true;
    }
    return false;
}

}
