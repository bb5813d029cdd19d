#include "skin/VList.h"

#include "skin/FontRep.h"
#include "skin/Properties.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace velloq {

namespace {

// How far a finger moves before a press becomes a drag.
constexpr int32_t drag_distance = 8;
// Items built beyond the visible ones, as a share of the list's height.
constexpr double margin_share = 0.25;
// The fling loses this share of its speed per second; a phone's list coasts for about a second.
constexpr double fling_friction = 2.5;
constexpr double slowest_fling = 20;
// Content pulled beyond an end springs back with this rate per second.
constexpr double return_rate = 14;
// A fling that runs beyond an end is braked this much harder.
constexpr double overshoot_brake = 25;
constexpr int32_t largest_growing_list = 200;
constexpr int32_t all_the_room = 1 << 20;
// How fast a wheel scroll closes on its goal, per second.
constexpr double wheel_glide_rate = 30;

void show_state_child(Element& item, std::u16string_view id, bool shown)
{
    if (Element* child = item.find_by_id(id))
        child->set_visible(shown);
}

}

void VList::load(Properties const& skin, Section const& section)
{
    Element::load(skin, section);
    m_border_min = skin.get_point(section, u"scroll_border_min", {}).y;
    m_border_max = skin.get_point(section, u"scroll_border_max", {}).y;
    m_locked = skin.get_int(section, u"locked", 0) != 0;
    m_grow = skin.get_int(section, u"grow", 0) != 0;
    m_scroll = m_border_min;
    if (FontRep* font = skin.default_font())
        m_notch = 3.0 * font->line_height();
}

void VList::set_item_source(ItemSource* source)
{
    m_source = source;
    m_selected = -1;
    reset(m_count);
}

void VList::drop_items()
{
    m_items.clear();
}

void VList::set_empty_view(Element* view)
{
    m_empty_view = view;
    show_empty_view();
}

void VList::show_empty_view()
{
    if (m_empty_view)
        m_empty_view->set_visible(m_count == 0);
}

void VList::reset(int32_t count)
{
    end_press();
    drop_items();
    m_count = std::max(0, count);
    show_empty_view();
    // New contents (a menu opened again with other entries) start without a selection.
    m_selected = -1;
    m_first = 0;
    m_scroll = m_border_min;
    m_speed = 0;
    if (m_grow)
        invalidate_layout();
    set_needs_redraw();
}

void VList::insert(int32_t index)
{
    if (index < 0 || index > m_count)
        return;
    ++m_count;
    show_empty_view();
    if (m_pressed >= index)
        ++m_pressed;
    if (m_selected >= index)
        ++m_selected;
    if (!m_items.empty() && index <= m_first) {
        // Everything built moves up by one index and stays where it is on screen; the new item is
        // built above it when it comes into view.
        for (auto& item : m_items)
            ++item.index;
        ++m_first;
    } else if (!m_items.empty() && index < m_first + static_cast<int32_t>(m_items.size())) {
        // Drop the built items from the insertion on; they are built again with their new indexes.
        m_items.erase(m_items.begin() + (index - m_first), m_items.end());
    }
    m_needs_fill = true;
    if (m_grow)
        invalidate_layout();
    set_needs_redraw();
}

void VList::remove(int32_t index)
{
    if (index < 0 || index >= m_count)
        return;
    if (m_pressed == index)
        end_press();
    --m_count;
    show_empty_view();
    if (m_pressed > index)
        --m_pressed;
    if (m_selected == index)
        m_selected = -1;
    else if (m_selected > index)
        --m_selected;
    int32_t end = m_first + static_cast<int32_t>(m_items.size());
    if (!m_items.empty() && index < end) {
        if (index < m_first) {
            for (auto& item : m_items)
                --item.index;
            --m_first;
        } else {
            m_items.erase(m_items.begin() + (index - m_first));
            for (size_t i = static_cast<size_t>(index - m_first); i < m_items.size(); ++i)
                --m_items[i].index;
            if (m_items.empty())
                m_first = std::min(m_first, std::max(0, m_count - 1));
        }
    }
    m_needs_fill = true;
    if (m_grow)
        invalidate_layout();
    set_needs_redraw();
}

void VList::refresh(int32_t index)
{
    Element* element = item(index);
    if (!element || !m_source)
        return;
    m_source->fill_item(*this, *element, index);
    element->set_visible(true);
    for (auto& built : m_items) {
        if (built.index == index) {
            set_states(built);
            built.element->set_horizontal(position().x, size().x);
            built.height = std::max(1, built.element->cached_measure(Axis::Vertical).preferred);
        }
    }
    position_items();
    set_needs_redraw();
}

void VList::scroll_to(int32_t index)
{
    if (m_pressed >= 0)
        return;
    // The same contents seen from elsewhere keep their selection.
    int32_t selected = m_selected;
    reset(m_count);
    m_selected = selected;
    if (m_count == 0)
        return;
    m_first = std::clamp(index, 0, m_count - 1);
    fill_view();
    // An index at or past the end shows the end of the list, resting at its lower border.
    m_scroll += correction();
    fill_view();
}

void VList::scroll_into_view(int32_t index)
{
    // An item dropped by an insertion is built again first, where it will show.
    if (m_needs_fill)
        fill_view();
    Element const* shown = item(index);
    int32_t top = position().y;
    int32_t bottom = top + size().y;
    if (shown && shown->position().y >= top && shown->position().y + shown->size().y <= bottom)
        return;
    scroll_to(index);
}

bool VList::key(KeyEvent const& event)
{
    if (m_count == 0 || !m_source)
        return false;
    int32_t shown = m_items.empty() ? 1 : std::max(1, static_cast<int32_t>(size().y / (content_height() / m_items.size())) - 1);
    int32_t from = m_selected < 0 ? std::max(0, m_first) : m_selected;
    int32_t to = from;
    switch (event.code) {
    case Key::Up:
        to = m_selected < 0 ? from : from - 1;
        break;
    case Key::Down:
        to = m_selected < 0 ? from : from + 1;
        break;
    case Key::PageUp:
        to = from - shown;
        break;
    case Key::PageDown:
        to = from + shown;
        break;
    case Key::Home:
        to = 0;
        break;
    case Key::End:
        to = m_count - 1;
        break;
    case Key::Enter:
        if (event.pressed && m_selected >= 0 && m_selected < m_count)
            m_source->item_activated(*this, m_selected);
        return m_selected >= 0;
    default:
        return false;
    }
    if (event.pressed) {
        set_selected(std::clamp(to, 0, m_count - 1));
        scroll_into_view(m_selected);
        set_needs_redraw();
    }
    return true;
}

void VList::select_first_in_view()
{
    if (m_selected >= 0 || m_count == 0)
        return;
    int32_t chosen = std::max(0, m_first);
    for (auto const& item : m_items) {
        if (item.element->rect().top >= position().y) {
            chosen = item.index;
            break;
        }
    }
    set_selected(chosen);
    set_needs_redraw();
}

void VList::set_selected(int32_t index)
{
    m_selected = index;
    for (auto& item : m_items)
        set_states(item);
}

Element* VList::item(int32_t index) const
{
    int32_t at = index - m_first;
    if (m_items.empty() || at < 0 || at >= static_cast<int32_t>(m_items.size()))
        return nullptr;
    return m_items[static_cast<size_t>(at)].element.get();
}

void VList::set_states(Item& item)
{
    // An item without a look for a state keeps its normal look in it.
    bool pressed = item.index == m_pressed && !m_item_takes_pointer && item.element->find_by_id(u"#vlist_pressed");
    bool selected = !pressed && item.index == m_selected && item.element->find_by_id(u"#vlist_selected");
    show_state_child(*item.element, u"#vlist_pressed", pressed);
    show_state_child(*item.element, u"#vlist_selected", selected);
    show_state_child(*item.element, u"#vlist_normal", !pressed && !selected);
}

bool VList::build_item(int32_t index, bool at_front)
{
    auto element = m_source->create_item(*this, index);
    if (!element)
        return false;
    adopt_detached(*element);
    element->set_visible(true);
    element->set_horizontal(position().x, size().x);
    int32_t height = std::max(1, element->cached_measure(Axis::Vertical).preferred);
    Item item { index, std::move(element), height };
    set_states(item);
    if (at_front)
        m_items.push_front(std::move(item));
    else
        m_items.push_back(std::move(item));
    return true;
}

// Builds the items from the first one built down and up until the view and its margin are full
// (every item, for a short growing list); false when the source had no item for an index.
bool VList::build_view(double margin, bool grow_all)
{
    if (m_items.empty()) {
        m_first = std::clamp(m_first, 0, m_count - 1);
        if (!build_item(m_first, false))
            return false;
    }
    while (m_first + static_cast<int32_t>(m_items.size()) < m_count && (grow_all || m_scroll + content_height() < size().y + margin)) {
        if (!build_item(m_first + static_cast<int32_t>(m_items.size()), false))
            return false;
    }
    while (m_first > 0 && (grow_all || m_scroll > -margin)) {
        if (!build_item(m_first - 1, true))
            return false;
        --m_first;
        m_scroll -= m_items.front().height;
    }
    return true;
}

void VList::fill_view()
{
    if (!m_source)
        return;
    if (m_count == 0) {
        m_items.clear();
        position_items();
        return;
    }
    double margin = std::max(16.0, size().y * margin_share);
    bool grow_all = m_grow && m_count <= largest_growing_list;
    if (!build_view(margin, grow_all)) {
        // An item whose data is gone (a message deleted behind the program's back): its source
        // removes it, which asks for the frame that fills the view again.
        m_needs_fill = true;
        position_items();
        return;
    }
    while (!grow_all && m_items.size() > 1 && m_scroll + m_items.front().height < -margin) {
        m_scroll += m_items.front().height;
        m_items.pop_front();
        ++m_first;
    }
    while (!grow_all && m_items.size() > 1 && m_scroll + content_height() - m_items.back().height > size().y + margin)
        m_items.pop_back();
    position_items();
}

double VList::content_height() const
{
    double total = 0;
    for (auto const& item : m_items)
        total += item.height;
    return total;
}

double VList::correction() const
{
    if (m_items.empty())
        return m_border_min - m_scroll;
    if (m_first == 0 && m_scroll > m_border_min)
        return m_border_min - m_scroll;
    if (m_first + static_cast<int32_t>(m_items.size()) == m_count) {
        double shortfall = (size().y - m_border_max) - (m_scroll + content_height());
        if (m_first == 0)
            shortfall = std::min(shortfall, m_border_min - m_scroll);
        if (shortfall > 0)
            return shortfall;
    }
    return 0;
}

void VList::position_items()
{
    double y = position().y + std::floor(m_scroll);
    for (auto& item : m_items) {
        item.element->set_horizontal(position().x, size().x);
        item.element->set_vertical(static_cast<int32_t>(y), item.height);
        y += item.height;
    }
}

void VList::place_children(Axis axis)
{
    Element::place_children(axis);
    if (axis == Axis::Vertical)
        fill_view();
}

void VList::measure(Axis axis, Measure& measure)
{
    Element::measure(axis, measure);
    if (axis != Axis::Vertical || !m_grow || !m_source)
        return;
    // Too many items to measure them all: the list asks for all the room there is and scrolls.
    if (m_count > largest_growing_list) {
        measure.preferred = std::max(measure.preferred, all_the_room);
        return;
    }
    // A growing list asks for the height of all its items.
    if (static_cast<int32_t>(m_items.size()) != m_count) {
        m_first = 0;
        m_scroll = m_border_min;
        m_items.clear();
        fill_view();
    }
    int32_t need = m_border_min + static_cast<int32_t>(content_height()) + m_border_max;
    measure.preferred = std::max(measure.preferred, need);
}

void VList::advance(double seconds)
{
    Element::advance(seconds);
    for (auto& item : m_items)
        item.element->advance(seconds);
    if (std::exchange(m_needs_fill, false) || (m_items.empty() && m_count > 0))
        fill_view();
    update_scroll_bar();
    if (m_holding || m_locked)
        return;
    if (m_wheel_left != 0) {
        glide_by_wheel(seconds);
        return;
    }
    double fix = correction();
    if (m_speed != 0) {
        m_scroll += m_speed * seconds;
        double brake = fix != 0 ? overshoot_brake : fling_friction;
        m_speed *= std::exp(-brake * seconds);
        if (std::abs(m_speed) < slowest_fling)
            m_speed = 0;
        fill_view();
        set_needs_redraw();
    } else if (fix != 0) {
        m_scroll += std::abs(fix) < 0.5 ? fix : fix * (1 - std::exp(-return_rate * seconds));
        fill_view();
        set_needs_redraw();
    }
}

void VList::draw_self(DrawTarget const& target, Point offset)
{
    DrawTarget clipped { intersection(target.rect, { position().x + offset.x, position().y + offset.y, size().x, size().y }), target.picture };
    for (auto& item : m_items) {
        Rect box = item.element->rect();
        if (box.top + offset.y < clipped.rect.top + clipped.rect.height && box.top + box.height + offset.y > clipped.rect.top)
            item.element->draw(clipped, offset);
    }
    draw_children(target, offset);
}

VList::Item* VList::item_at(int32_t y)
{
    for (auto& item : m_items) {
        Rect box = item.element->rect();
        if (y >= box.top && y < box.top + box.height)
            return &item;
    }
    return nullptr;
}

void VList::end_press()
{
    if (m_pressed < 0)
        return;
    int32_t pressed = m_pressed;
    m_pressed = -1;
    bool took_pointer = m_item_takes_pointer;
    m_item_takes_pointer = false;
    if (Element* element = item(pressed)) {
        if (took_pointer) {
            PointerEvent cancel;
            cancel.cancelled = true;
            element->pointer_button(cancel);
        }
        for (auto& built : m_items) {
            if (built.index == pressed)
                set_states(built);
        }
    }
    set_needs_redraw();
}

bool VList::pointer_button(PointerEvent const& event)
{
    if (event.pressed) {
        m_holding = true;
        m_dragging = false;
        m_press_y = m_last_y = event.y;
        m_press_x = event.x;
        m_last_time = event.time;
        m_drag_speed = 0;
        bool was_moving = m_speed != 0;
        m_speed = 0;
        if (was_moving)
            return true;
        if (Item* pressed = item_at(event.y)) {
            m_pressed = pressed->index;
            m_item_takes_pointer = pressed->element->pointer_button(event);
            set_states(*pressed);
            set_needs_redraw();
        }
        return true;
    }
    m_holding = false;
    if (m_pressed >= 0) {
        int32_t index = m_pressed;
        Element* element = item(index);
        bool over = element && !event.cancelled && element->hit_test(event);
        if (over && m_item_takes_pointer) {
            m_item_takes_pointer = false;
            element->pointer_button(event);
            m_pressed = -1;
            end_press();
            for (auto& built : m_items)
                set_states(built);
        } else {
            m_item_takes_pointer = false;
            end_press();
            if (over && m_source)
                m_source->item_activated(*this, index);
        }
    }
    if (m_dragging && !m_locked) {
        bool recent = event.time - m_last_time < 100;
        m_speed = correction() != 0 || !recent ? 0 : std::clamp(m_drag_speed, -fastest_fling, fastest_fling);
    }
    m_dragging = false;
    return true;
}

bool VList::pointer_move(PointerEvent const& event)
{
    if (!m_holding)
        return false;
    int32_t dy = event.y - m_last_y;
    if (!m_dragging && std::abs(event.y - m_press_y) >= drag_distance) {
        m_dragging = true;
        end_press();
    }
    // A sideways swipe scrolls nothing, but it is no tap either.
    if (std::abs(event.x - m_press_x) >= drag_distance)
        end_press();
    if (m_pressed >= 0 && m_item_takes_pointer) {
        if (Element* element = item(m_pressed))
            element->pointer_move(event);
    }
    if (!m_dragging || m_locked || dy == 0) {
        m_last_y = event.y;
        return true;
    }
    // Pulling the content further beyond an end meets a resistance that grows with the overshoot.
    double fix = correction();
    double k = 1;
    if ((dy > 0 && fix < 0) || (dy < 0 && fix > 0))
        k = std::max(0.0, 1 - 2 * std::abs(fix) / std::max(1, size().y));
    m_scroll += dy * k;
    uint32_t elapsed = std::max<uint32_t>(1, event.time - m_last_time);
    double speed = dy * k * 1000.0 / elapsed;
    m_drag_speed = m_drag_speed == 0 ? speed : 0.6 * speed + 0.4 * m_drag_speed;
    m_last_y = event.y;
    m_last_time = event.time;
    fill_view();
    set_needs_redraw();
    return true;
}

bool VList::wheel(PointerEvent const&, int32_t thousandths)
{
    if (m_locked || m_holding || m_count == 0)
        return false;
    m_speed = 0;
    m_wheel_left -= thousandths * m_notch / wheel_notch;
    set_needs_redraw();
    return true;
}

// Most of what is left each frame, so a notch takes about a tenth of a second; never past an end.
void VList::glide_by_wheel(double seconds)
{
    double step = std::abs(m_wheel_left) < 1 ? m_wheel_left : m_wheel_left * (1 - std::exp(-wheel_glide_rate * seconds));
    m_scroll += step;
    m_wheel_left -= step;
    fill_view();
    if (double fix = correction(); fix != 0) {
        m_scroll += fix;
        m_wheel_left = 0;
        fill_view();
    }
    set_needs_redraw();
}

double VList::view_fraction() const
{
    double estimate = m_items.empty() ? 0 : content_height() / m_items.size() * m_count;
    return estimate <= 0 ? 1 : std::min(1.0, size().y / estimate);
}

double VList::scroll_fraction() const
{
    if (m_items.empty() || m_count == 0)
        return 0;
    double average = content_height() / m_items.size();
    double above = m_first * average - m_scroll;
    double scrollable = average * m_count - size().y;
    return scrollable <= 0 ? 0 : std::clamp(above / scrollable, 0.0, 1.0);
}

}

namespace velloq {

void VList::set_scroll_bar(Element* track, Element* indicator)
{
    m_track = track;
    m_indicator = indicator;
    update_scroll_bar();
}

void VList::update_scroll_bar()
{
    if (!m_track || !m_indicator)
        return;
    bool needed = view_fraction() < 1.0;
    m_track->set_visible(needed);
    if (!needed)
        return;
    int32_t track_height = m_track->size().y;
    int32_t height = std::max(8, static_cast<int32_t>(track_height * view_fraction()));
    int32_t top = m_track->position().y + static_cast<int32_t>((track_height - height) * scroll_fraction());
    if (top != m_indicator->position().y || height != m_indicator->size().y) {
        m_indicator->set_vertical(top, height);
        m_indicator->set_needs_redraw();
    }
}

bool VList::visit_held(std::function<bool(Element&)> const& visit)
{
    for (int32_t index = first_built(); index >= 0 && index < first_built() + built_count(); ++index) {
        if (Element* built = item(index); built && visit(*built))
            return true;
    }
    return false;
}

}
