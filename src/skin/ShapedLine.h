#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velloq {

// One glyph placed on a line: which face of the font draws it, its index there, where its pen
// stands and how far it moves, its offset from the pen (all in 1/64 pixel, from the line's left
// end and from the baseline, y up) and the code unit its cluster starts at.
struct PlacedGlyph {
    uint16_t face { 0 };
    uint32_t index { 0 };
    int32_t pen { 0 };
    int32_t advance { 0 };
    int32_t x_offset { 0 };
    int32_t y_offset { 0 };
    uint32_t cluster { 0 };
};

// A character as the reader sees it (a grapheme, a ligature) on a shaped line: the code units
// it takes and the pixels it covers.
struct PlacedCluster {
    size_t start { 0 };
    size_t end { 0 };
    int32_t left { 0 };
    int32_t right { 0 };
    bool right_to_left { false };
};

// A line of text shaped and put in reading order: glyphs left to right as drawn, clusters in
// the text's (logical) order. Carets are logical positions in the text shown where the reader
// sees them: before a left-to-right character on its left, before a right-to-left one on its right.
struct ShapedLine {
    std::vector<PlacedGlyph> glyphs;
    std::vector<PlacedCluster> clusters;
    size_t length { 0 };
    int32_t width { 0 };
    bool right_to_left { false };

    // Where the caret before code unit `at` stands, in pixels from the line's left end.
    int32_t caret_x(size_t at) const;
    // The caret position nearest to `x`.
    size_t caret_at(int32_t x) const;
    // The width of the clusters that start in [from, to).
    int32_t width_of(size_t from, size_t to) const;
    // Sets `clusters` from the placed glyphs.
    void gather_clusters(std::vector<bool> const& right_to_left_units);
};

}
