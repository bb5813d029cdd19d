#include "skin/Table.h"

#include <algorithm>
#include <vector>

namespace velloq {

namespace {

struct Share {
    Element* child;
    int32_t preferred;
    int32_t minimum;
    int32_t border;
    int32_t current;
};

// Gives `amount` to the children still below their preferred size, in rounds: each round shares
// evenly with the rounding spread over the children, and whatever a child cannot take is
// carried into the next round among those that took all of theirs.
void grow_in_rounds(std::vector<Share*> growing, int64_t amount)
{
    while (amount > 0 && !growing.empty()) {
        int64_t count = static_cast<int64_t>(growing.size());
        int64_t carried = 0;
        std::vector<Share*> next;
        for (int64_t k = 1; k <= count; ++k) {
            Share& share = *growing[static_cast<size_t>(k - 1)];
            int64_t part = k * amount / count - (k - 1) * amount / count;
            int64_t missing = share.preferred - share.current;
            if (part < missing) {
                share.current += static_cast<int32_t>(part);
                next.push_back(&share);
            } else {
                share.current = share.preferred;
                carried += part - missing;
            }
        }
        growing = std::move(next);
        amount = carried;
    }
}

}

void Table::measure(Axis axis, Measure& measure)
{
    if (axis != m_axis) {
        Element::measure(axis, measure);
        return;
    }
    int32_t design = axis == Axis::Horizontal ? design_size().x : design_size().y;
    int64_t space = 0;
    int64_t give = 0;
    for (auto const& child : children()) {
        if (!child->is_visible())
            continue;
        Measure const child_measure = child->cached_measure(axis);
        space += child_space(*child, axis);
        give += child_measure.preferred - child_measure.minimum;
    }
    measure.preferred = std::max<int64_t>(design, space);
    measure.minimum = std::max<int64_t>(measure.minimum, space - give);
}

void Table::place_children(Axis axis)
{
    if (axis == m_axis)
        place_along(axis);
    else
        Element::place_children(axis);
}

void Table::place_slot(Element& child, Axis axis, int32_t& running, int32_t content)
{
    int32_t border = anchor_border_share(child.anchor(axis), child.border_low(axis), child.border_high(axis));
    int32_t slot = content + border;
    int32_t size = anchor_size(child.anchor(axis), content, slot, child.border_low(axis), child.border_high(axis));
    int32_t position = running + anchor_position(child.anchor(axis), size, slot, child.border_low(axis), child.border_high(axis));
    child.set_on(axis, position, size);
    running += slot;
}

void Table::place_along(Axis axis)
{
    std::vector<Share> shares;
    int64_t preferred_sum = 0;
    int64_t minimum_sum = 0;
    int64_t borders = 0;
    // The spare space is shared in proportion to the ratios, so it is handed out exactly once.
    int64_t ratio_sum = 0;
    for (auto const& child : children()) {
        if (!child->is_visible())
            continue;
        Measure const measure = child->cached_measure(axis);
        int32_t border = anchor_border_share(child->anchor(axis), child->border_low(axis), child->border_high(axis));
        shares.push_back({ child.get(), measure.preferred, measure.minimum, border, measure.minimum });
        preferred_sum += measure.preferred;
        minimum_sum += measure.minimum;
        borders += border;
        ratio_sum += std::max(0, child->table_ratio());
    }
    int64_t available = size_on(axis) - borders;
    int32_t running = position_on(axis);
    if (available <= 0) {
        for (auto& share : shares)
            share.child->set_on(axis, running, 0);
        return;
    }
    if (minimum_sum < available) {
        bool all_fit = preferred_sum < available;
        std::vector<Share*> growing;
        for (auto& share : shares) {
            if (share.preferred != share.minimum)
                growing.push_back(&share);
        }
        grow_in_rounds(growing, all_fit ? preferred_sum - minimum_sum : available - minimum_sum);
        int64_t spare = all_fit ? available - preferred_sum : 0;
        int64_t ratio_before = 0;
        for (auto& share : shares) {
            int32_t content = share.current;
            if (int32_t ratio = share.child->table_ratio(); ratio > 0 && ratio_sum > 0) {
                content += static_cast<int32_t>(spare * (ratio_before + ratio) / ratio_sum - spare * ratio_before / ratio_sum);
                ratio_before += ratio;
            }
            place_slot(*share.child, axis, running, content);
        }
        return;
    }
    // The minimums do not fit: every child gets its part of the space by its minimum.
    int64_t minimum_before = 0;
    for (auto& share : shares) {
        int32_t base = static_cast<int32_t>(available * (minimum_before + share.minimum) / minimum_sum - available * minimum_before / minimum_sum);
        minimum_before += share.minimum;
        place_slot(*share.child, axis, running, base);
    }
}

}
