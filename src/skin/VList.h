#pragma once

#include "skin/Element.h"

#include <deque>
#include <memory>

namespace velloq {

class VList;

// The owner of a list's data: the form that shows it.
class ItemSource {
public:
    virtual ~ItemSource() = default;
    // Builds the element of item `index` (from the form's item section). It changes neither the
    // list nor its data: an item whose data is gone gives nullptr, and the source removes the
    // item afterwards (outside the list's filling); the list builds no further until then.
    virtual std::unique_ptr<Element> create_item(VList&, int32_t index) = 0;
    // Fills an item's element again from the form's data (refresh).
    virtual void fill_item(VList&, Element&, int32_t) { }
    // A tap on item `index` that was not a scroll.
    virtual void item_activated(VList&, int32_t index) = 0;
};

// "vlist": a list of any length that keeps only the items in view (and a margin) built, scrolls
// under a finger with resistance past its ends, flings after release, and returns to its border
// after an overshoot.
class VList final : public Element {
public:
    // The fastest fling, in pixels per second.
    static constexpr double fastest_fling = 2000;

    void load(Properties const&, Section const&) override;
    void advance(double seconds) override;
    void draw_self(DrawTarget const& target, Point offset) override;
    void place_children(Axis) override;
    void measure(Axis, Measure&) override;
    bool pointer_move(PointerEvent const&) override;
    bool pointer_button(PointerEvent const&) override;
    // The wheel scrolls by about three lines a notch, gliding there over a few frames, and stops
    // at the ends.
    bool wheel(PointerEvent const&, int32_t thousandths) override;

    void set_item_source(ItemSource* source);
    void reset(int32_t count);
    void insert(int32_t index);
    void remove(int32_t index);
    void refresh(int32_t index);
    void scroll_to(int32_t index);
    // Scrolls only when the item is not wholly in view, and then to put it at the top.
    void scroll_into_view(int32_t index);
    void set_selected(int32_t index);
    // The keyboard's way through the list: Up and Down move the selection and keep it in view,
    // Page Up and Page Down move it by a screenful, Home and End to the ends, Enter activates it
    // as a tap does. False for other keys and an empty list.
    bool key(KeyEvent const&) override;
    // A shown list takes the focus, and selects what is in view when it has no selection.
    bool takes_focus() const override { return is_effectively_visible(); }
    void focus_changed(bool focused) override
    {
        if (focused)
            select_first_in_view();
    }
    bool navigation_key(KeyEvent const& event) override { return is_effectively_visible() && key(event); }
    bool visit_held(std::function<bool(Element&)> const& visit) override;
    bool clips_held() const override { return true; }
    // When the list takes the keyboard focus without a selection: selects the first item in view.
    void select_first_in_view();

    int32_t count() const { return m_count; }
    int32_t selected() const { return m_selected; }
    int32_t pressed() const { return m_pressed; }
    // Where the last press landed.
    Point press_point() const { return { m_press_x, m_press_y }; }
    int32_t first_built() const { return m_items.empty() ? -1 : m_first; }
    int32_t built_count() const { return static_cast<int32_t>(m_items.size()); }
    // The element of a built item, or null.
    Element* item(int32_t index) const;
    double scroll_position() const { return m_scroll; }
    double scroll_speed() const { return m_speed; }
    bool is_held() const { return m_holding; }
    // For scroll bars: how far down the content is shown, and which share of it, 0 to 1.
    double scroll_fraction() const;
    double view_fraction() const;
    // A scroll bar beside the list: the indicator is moved and sized inside the track at every
    // frame so that it follows the scroll position. Either may be null (no scroll bar).
    void set_scroll_bar(Element* track, Element* indicator);
    // An element (beside the list, e.g. a text saying what to do) shown while the list is empty.
    void set_empty_view(Element* view);

private:
    void show_empty_view();
    struct Item {
        int32_t index;
        std::unique_ptr<Element> element;
        int32_t height;
    };
    void fill_view();
    bool build_item(int32_t index, bool at_front);
    bool build_view(double margin, bool grow_all);
    void position_items();
    void set_states(Item&);
    // What must be added to the scroll position to bring the content back inside its borders.
    double correction() const;
    double content_height() const;
    Item* item_at(int32_t y);
    void end_press();
    void drop_items();
    void update_scroll_bar();
    void glide_by_wheel(double seconds);

    ItemSource* m_source { nullptr };
    int32_t m_count { 0 };
    std::deque<Item> m_items;
    int32_t m_first { 0 };
    int32_t m_selected { -1 };
    int32_t m_pressed { -1 };
    bool m_item_takes_pointer { false };
    double m_scroll { 0 };
    double m_speed { 0 };
    int32_t m_border_min { 0 };
    int32_t m_border_max { 0 };
    bool m_locked { false };
    bool m_grow { false };
    bool m_holding { false };
    bool m_dragging { false };
    int32_t m_press_y { 0 };
    int32_t m_press_x { 0 };
    int32_t m_last_y { 0 };
    uint32_t m_last_time { 0 };
    double m_drag_speed { 0 };
    // What the wheel asked for and the list has not yet scrolled, and how far a notch goes.
    double m_wheel_left { 0 };
    double m_notch { 60 };
    // Set when items were inserted or removed: the view is filled and placed again at the next frame.
    bool m_needs_fill { false };
    Element* m_track { nullptr };
    Element* m_indicator { nullptr };
    Element* m_empty_view { nullptr };
};

}
