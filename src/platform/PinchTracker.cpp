#include "platform/PinchTracker.h"

#include <cmath>

namespace velloq::platform {

namespace {

// Fingers closer than this (in their units) give no factor: a tiny distance would make one huge.
constexpr double least_distance = 8.0;

double distance(std::pair<double, double> a, std::pair<double, double> b)
{
    return std::hypot(a.first - b.first, a.second - b.second);
}

}

bool PinchTracker::down(int64_t id, double x, double y)
{
    m_fingers[id] = { x, y };
    return m_fingers.size() == 2;
}

void PinchTracker::up(int64_t id)
{
    m_fingers.erase(id);
}

std::optional<Event> PinchTracker::moved(int64_t id, double x, double y, uint32_t time)
{
    auto finger = m_fingers.find(id);
    if (finger == m_fingers.end())
        return std::nullopt;
    if (m_fingers.size() != 2) {
        finger->second = { x, y };
        return std::nullopt;
    }
    auto other = m_fingers.begin()->first == id ? std::next(m_fingers.begin()) : m_fingers.begin();
    double before = distance(finger->second, other->second);
    finger->second = { x, y };
    double after = distance(finger->second, other->second);
    if (before < least_distance || after < least_distance || before == after)
        return std::nullopt;
    Event pinch { EventKind::Pinch };
    pinch.value = std::llround(after / before * 1e6);
    pinch.x = static_cast<int32_t>(std::lround((x + other->second.first) / 2));
    pinch.y = static_cast<int32_t>(std::lround((y + other->second.second) / 2));
    pinch.time = time;
    return pinch;
}

}
