#include "skin/ShapedLine.h"

#include <algorithm>
#include <cstdlib>
#include <map>

namespace velloq {

namespace {

int32_t pixels(int32_t sixty_fourths)
{
    return (sixty_fourths + 32) >> 6;
}

}

void ShapedLine::gather_clusters(std::vector<bool> const& right_to_left_units)
{
    // Each cluster's extent is the union of its glyphs' advances.
    std::map<size_t, std::pair<int32_t, int32_t>> extents;
    for (auto const& glyph : glyphs) {
        int32_t left = glyph.pen;
        int32_t right = glyph.pen + glyph.advance;
        auto [found, added] = extents.try_emplace(glyph.cluster, left, right);
        if (!added) {
            found->second.first = std::min(found->second.first, left);
            found->second.second = std::max(found->second.second, right);
        }
    }
    clusters.clear();
    clusters.reserve(extents.size());
    for (auto at = extents.begin(); at != extents.end(); ++at) {
        size_t end = std::next(at) == extents.end() ? length : std::next(at)->first;
        bool backwards = at->first < right_to_left_units.size() && right_to_left_units[at->first];
        clusters.push_back({ at->first, end, pixels(at->second.first), pixels(at->second.second), backwards });
    }
}

int32_t ShapedLine::caret_x(size_t at) const
{
    if (clusters.empty())
        return 0;
    if (at >= length) {
        auto const& last = clusters.back();
        return last.right_to_left ? last.left : last.right;
    }
    auto after = std::upper_bound(clusters.begin(), clusters.end(), at, [](size_t value, PlacedCluster const& cluster) { return value < cluster.start; });
    auto const& cluster = after == clusters.begin() ? clusters.front() : *std::prev(after);
    return cluster.right_to_left ? cluster.right : cluster.left;
}

size_t ShapedLine::caret_at(int32_t x) const
{
    size_t best = 0;
    int32_t best_distance = std::abs(x - caret_x(0));
    for (auto const& cluster : clusters) {
        int32_t distance = std::abs(x - caret_x(cluster.end));
        if (distance < best_distance) {
            best = cluster.end;
            best_distance = distance;
        }
    }
    return best;
}

int32_t ShapedLine::width_of(size_t from, size_t to) const
{
    int32_t sum = 0;
    auto first = std::lower_bound(clusters.begin(), clusters.end(), from, [](PlacedCluster const& cluster, size_t value) { return cluster.start < value; });
    for (auto cluster = first; cluster != clusters.end() && cluster->start < to; ++cluster)
        sum += cluster->right - cluster->left;
    return sum;
}

}
