#pragma once

#include "shell/Input.h"
#include "skin/Anchor.h"
#include "skin/Blit.h"
#include "skin/Geometry.h"
#include "skin/RenderSurface.h"
#include "skin/SkinImage.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velloq {

class Element;
class ElementCache;
class Properties;
class VisibilityAnimation;

// A measure along one axis: what an element would like and the least it can live with.
struct Measure {
    int32_t preferred { -1 }; // -1: not measured
    int32_t minimum { 0 };
};

enum class Axis {
    Horizontal,
    Vertical,
};

// Told of every change of an element's width and height.
class LayoutListener {
public:
    virtual ~LayoutListener() = default;
    virtual void on_width_changed(Element&, int32_t width) = 0;
    virtual void on_height_changed(Element&, int32_t height) = 0;
};

// The base of everything built from a skin section: an element owns its children, lays them
// out along each axis by their anchors and borders, draws them, and dispatches pointer input to
// them. Registered types override loading, drawing, measuring, placement and input.
class Element {
public:
    Element();
    virtual ~Element();
    Element(Element const&) = delete;
    Element& operator=(Element const&) = delete;

    static int64_t elements_alive();

    // Slot 0: one log line per element, children indented by tabs.
    virtual void dump(int32_t depth) const;
    // Slot 1: the plain element hands the text on to its children; text elements take it.
    virtual void set_text_by_id(std::u16string_view id, std::u16string const& text);
    // Slots 2 and 3.
    Element& add_child(std::unique_ptr<Element>);
    std::unique_ptr<Element> remove_child(Element&);
    // Slot 4: the element's attributes from its section, then its children.
    virtual void load(Properties const&, Section const&);
    // Slots 6 to 9.
    void set_enabled(bool);
    virtual void enabled_changed(bool effective);
    void set_visible(bool);
    virtual void visibility_changed(bool effective);
    // Slot 10.
    virtual void advance(double seconds);
    // Slot 11: draws the element itself and its children onto the target; positions are
    // absolute in the form's surface, `offset` moves all of it.
    virtual void draw_self(DrawTarget const& target, Point offset);
    // Slots 12 to 14 and 16.
    virtual void place_children(Axis);
    virtual void measure(Axis, Measure&);
    // Slots 18 to 23.
    virtual bool hit_test(PointerEvent const&) const;
    virtual bool pointer_move(PointerEvent const&);
    virtual bool pointer_button(PointerEvent const&);
    virtual bool key(KeyEvent const&) { return false; }
    virtual bool text_input(std::u16string const&) { return false; }
    // A wheel turned over the element (thousandths of a notch, > 0 toward later content): the
    // topmost shown child under the pointer that scrolls takes it.
    virtual bool wheel(PointerEvent const&, int32_t thousandths);
    // Two fingers pinched around the point (the distance between them grew by `factor`): given to
    // the topmost child under it that takes it.
    virtual bool pinch(PointerEvent const&, double factor);

    // The keyboard focus, as a form moves it with Tab. Each kind of element says whether it takes
    // the focus now and what it does when it gains or loses it, so a form needs no list of kinds.
    virtual bool takes_focus() const { return false; }
    virtual void focus_changed(bool /*focused*/) { }
    // Enter or Space while it has the focus; true when it acted. A space that acted is no text.
    virtual bool focused_key(KeyEvent const&) { return false; }
    virtual bool acts_on_space() const { return false; }
    // A key bound to the element in its skin, handed on by the form; true when it acted.
    virtual bool bound_key_event(KeyEvent const&) { return false; }
    // The keys that move through a list, handed on by the form when no one else took them.
    virtual bool navigation_key(KeyEvent const&) { return false; }
    // Elements it holds outside its children (a list's built items), for the form's walks: true
    // when `visit` answered true for one of them.
    virtual bool visit_held(std::function<bool(Element&)> const& /*visit*/) { return false; }
    // Whether what it holds is drawn clipped to its own rectangle (a focus ring inside too).
    virtual bool clips_held() const { return false; }

    // Layout.
    Measure const& cached_measure(Axis);
    void set_horizontal(int32_t x, int32_t width);
    void set_vertical(int32_t y, int32_t height);
    void invalidate_layout();
    void set_layout_listener(LayoutListener* listener) { m_layout_listener = listener; }

    // Drawing through the cache and the visibility animation, as a parent draws its children.
    void draw(DrawTarget const& target, Point offset);
    // Shows or hides the element through its visibility animation, if it has one.
    void show_animated(bool visible);
    void draw_into_own_surface();

    // Makes this element the parent of one it holds outside its child list (a list's items), so
    // redraws and the form root reach through it.
    void adopt_detached(Element& child) { child.m_parent = this; }

    Element* find_by_id(std::u16string_view id);
    void clear_children();

    std::u16string const& id() const { return m_id; }
    Element* parent() const { return m_parent; }
    Element* root() { return m_parent ? m_parent->root() : this; }
    std::vector<std::unique_ptr<Element>> const& children() const { return m_children; }
    Anchor anchor(Axis axis) const { return axis == Axis::Horizontal ? m_anchor_x : m_anchor_y; }
    void set_anchor(Axis axis, Anchor anchor) { (axis == Axis::Horizontal ? m_anchor_x : m_anchor_y) = anchor; }
    Point border_min() const { return m_border_min; }
    Point border_max() const { return m_border_max; }
    Point design_size() const { return m_design_size; }
    void set_borders(Point min, Point max) { m_border_min = min, m_border_max = max; }
    void set_design_size(Point size) { m_design_size = size; }
    int32_t table_ratio() const { return m_table_ratio; }
    void set_table_ratio(int32_t ratio) { m_table_ratio = ratio; }
    Point position() const { return m_position; }
    Point size() const { return m_size; }
    Rect rect() const { return { m_position.x, m_position.y, m_size.x, m_size.y }; }
    bool is_visible() const { return m_visible; }
    bool is_effectively_visible() const { return m_effectively_visible; }
    bool is_enabled() const { return m_enabled && m_effectively_enabled; }
    bool needs_redraw() const { return m_needs_redraw; }
    // Marks the element and its ancestors: a cached ancestor rebuilds its picture of it.
    void set_needs_redraw()
    {
        for (Element* element = this; element && !element->m_needs_redraw; element = element->m_parent)
            element->m_needs_redraw = true;
    }
    bool layout_pending() const { return m_layout_pending; }
    RenderSurface& own_surface() { return m_surface; }
    VisibilityAnimation* animation() const { return m_animation.get(); }
    Element* captured_child() const { return m_capture; }

    // Along one axis: the element's border at the low and the high side.
    int32_t border_low(Axis axis) const { return axis == Axis::Horizontal ? m_border_min.x : m_border_min.y; }
    int32_t border_high(Axis axis) const { return axis == Axis::Horizontal ? m_border_max.x : m_border_max.y; }
    int32_t position_on(Axis axis) const { return axis == Axis::Horizontal ? m_position.x : m_position.y; }
    int32_t size_on(Axis axis) const { return axis == Axis::Horizontal ? m_size.x : m_size.y; }
    void set_on(Axis axis, int32_t position, int32_t size)
    {
        if (axis == Axis::Horizontal)
            set_horizontal(position, size);
        else
            set_vertical(position, size);
    }

protected:
    // The children in skin order, with a child's space rule along an axis.
    int32_t child_space(Element& child, Axis);
    void place_child_plainly(Element& child, Axis);
    void draw_children(DrawTarget const& target, Point offset);

private:
    friend class ElementTree;
    void forget_measures();
    void update_visibility(bool parent_effective);
    void update_enabled(bool parent_effective);

    std::unique_ptr<VisibilityAnimation> m_animation;
    std::u16string m_id;
    Element* m_parent { nullptr };
    Anchor m_anchor_x { Anchor::BothSide };
    Anchor m_anchor_y { Anchor::BothSide };
    Point m_border_min;
    Point m_design_size;
    Point m_border_max;
    Measure m_measure_x;
    Measure m_measure_y;
    bool m_layout_pending { true };
    bool m_visible { true };
    bool m_effectively_visible { true };
    bool m_enabled { true };
    bool m_effectively_enabled { true };
    bool m_needs_redraw { true };
    RenderSurface m_surface;
    bool m_cache { false };
    std::unique_ptr<ElementCache> m_cache_object;
    std::vector<std::unique_ptr<Element>> m_children;
    int32_t m_table_ratio { 0 };
    Point m_position;
    Point m_size;
    LayoutListener* m_layout_listener { nullptr };
    Element* m_capture { nullptr };
};

}
