#include "skin/ShapedLine.h"

#include <algorithm>
#include <cstdlib>

namespace velloq {

namespace {

int32_t pixels(int32_t sixty_fourths)
{
    return (sixty_fourths + 32) >> 6;
}

}

void ShapedLine::gather_clusters(std::vector<bool> const& right_to_left_units)
{
    // Each cluster's extent is the union of its glyphs' advances; right-to-left runs list their
    // clusters backwards, so the glyphs are put in the text's order first.
    struct Extent {
        size_t cluster;
        int32_t left;
        int32_t right;
    };
    std::vector<Extent> extents;
    extents.reserve(glyphs.size());
    for (auto const& glyph : glyphs)
        extents.push_back({ glyph.cluster, glyph.pen, glyph.pen + glyph.advance });
    auto by_cluster = [](Extent const& a, Extent const& b) { return a.cluster < b.cluster; };
    if (!std::is_sorted(extents.begin(), extents.end(), by_cluster))
        std::stable_sort(extents.begin(), extents.end(), by_cluster);
    clusters.clear();
    for (auto const& extent : extents) {
        if (!clusters.empty() && clusters.back().start == extent.cluster) {
            clusters.back().left = std::min(clusters.back().left, extent.left);
            clusters.back().right = std::max(clusters.back().right, extent.right);
            continue;
        }
        if (!clusters.empty())
            clusters.back().end = extent.cluster;
        bool backwards = extent.cluster < right_to_left_units.size() && right_to_left_units[extent.cluster];
        clusters.push_back({ extent.cluster, length, extent.left, extent.right, backwards });
    }
    for (auto& cluster : clusters) {
        cluster.left = pixels(cluster.left);
        cluster.right = pixels(cluster.right);
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
