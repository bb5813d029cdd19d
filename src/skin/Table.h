#pragma once

#include "skin/Element.h"

namespace velloq {

// "htable" and "vtable": the children share the table's space along its axis, by their
// measures and table ratios; along the other axis the table is a plain element.
class Table final : public Element {
public:
    explicit Table(Axis axis)
        : m_axis(axis)
    {
    }
    void measure(Axis, Measure&) override;
    void place_children(Axis) override;

private:
    void place_along(Axis);
    void place_slot(Element& child, Axis, int32_t& running, int32_t content);
    Axis m_axis;
};

}
