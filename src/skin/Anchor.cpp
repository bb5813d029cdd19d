#include "skin/Anchor.h"

#include <algorithm>
#include <array>
#include <utility>

namespace velloq {

std::optional<Anchor> anchor_from_name(std::u16string_view name)
{
    static constexpr std::array<std::pair<std::u16string_view, Anchor>, 7> names { {
        { u"MIN_SIDE", Anchor::MinSide },
        { u"BOTH_SIDE", Anchor::BothSide },
        { u"MAX_SIDE", Anchor::MaxSide },
        { u"RATIO", Anchor::Ratio },
        { u"CENTER", Anchor::Center },
        { u"MIN_SIDE_NO_SIZE", Anchor::MinSideNoSize },
        { u"MAX_SIDE_NO_SIZE", Anchor::MaxSideNoSize },
    } };
    for (auto const& [text, anchor] : names) {
        if (text == name)
            return anchor;
    }
    return std::nullopt;
}

int32_t anchor_size(Anchor anchor, int32_t preferred, int32_t avail, int32_t min, int32_t max)
{
    int32_t size = preferred;
    switch (anchor) {
    case Anchor::MinSide:
        size = std::min(preferred, avail - min);
        break;
    case Anchor::BothSide:
        size = avail - min - max;
        break;
    case Anchor::MaxSide:
        size = std::min(preferred, avail - max);
        break;
    case Anchor::Ratio:
    case Anchor::Center:
        size = std::min(preferred, avail - min - max);
        break;
    case Anchor::MinSideNoSize:
    case Anchor::MaxSideNoSize:
        size = preferred;
        break;
    }
    return std::max(0, size);
}

int32_t anchor_position(Anchor anchor, int32_t size, int32_t avail, int32_t min, int32_t max)
{
    switch (anchor) {
    case Anchor::MaxSide:
    case Anchor::MaxSideNoSize:
        return std::max(0, avail - size - max);
    case Anchor::Center:
        return min + std::max(0, (avail - min - max) / 2 - size / 2);
    default:
        return min;
    }
}

int32_t anchor_space(Anchor anchor, int32_t preferred, int32_t min, int32_t max)
{
    switch (anchor) {
    case Anchor::MinSide:
        return min + preferred;
    case Anchor::MaxSide:
        return preferred + max;
    case Anchor::MinSideNoSize:
    case Anchor::MaxSideNoSize:
        return 0;
    default:
        return min + preferred + max;
    }
}

int32_t anchor_border_share(Anchor anchor, int32_t min, int32_t max)
{
    switch (anchor) {
    case Anchor::MinSide:
    case Anchor::MinSideNoSize:
        return min;
    case Anchor::MaxSide:
    case Anchor::MaxSideNoSize:
        return max;
    default:
        return min + max;
    }
}

}
