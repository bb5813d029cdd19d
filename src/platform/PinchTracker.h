#pragma once

#include "platform/Events.h"

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

namespace velloq::platform {

// The fingers on a touch screen, two of them followed as one pinch: each change of their
// distance is a zoom factor around their midpoint (an event of kind Pinch, `value` the factor in
// millionths, `x` and `y` the midpoint in the units the fingers came in).
class PinchTracker {
public:
    // A finger touched; true when it is the second, which begins a pinch.
    bool down(int64_t id, double x, double y);
    void up(int64_t id);
    std::optional<Event> moved(int64_t id, double x, double y, uint32_t time);
    void cancel() { m_fingers.clear(); }

private:
    std::map<int64_t, std::pair<double, double>> m_fingers;
};

}
