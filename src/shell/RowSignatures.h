#pragma once

#include "shell/Bitmap565.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace velloq {

// Finds the rows of a frame that changed since the last one presented, reading the new frame once
// instead of comparing it with a kept copy (which reads twice the bytes). A row's signature is
// made of running sums of its 64-bit words in sixteen lanes, as a Fletcher checksum makes them
// (the words' sum, and the sum of the sums so far, so that where a change lands counts too),
// folded into eight words. Any one changed word changes its lane's sums and so the signature;
// a changed row keeps its signature only by a chance of the order of one in 2^64.
class RowSignatures {
public:
    // The band [first, end) of rows whose signature differs from the last presented frame's, the
    // whole frame when none was presented or its size changed; { 0, 0 } when nothing changed.
    // The frame's signatures wait for `presented`.
    std::pair<int32_t, int32_t> changed_rows(Bitmap565 const& frame);
    // The frame last given to `changed_rows` is now on the screen.
    void presented();
    // The screen lost what it showed: the next frame is whole.
    void forget();
    bool known() const { return !m_presented.empty(); }

    struct Row {
        uint64_t lanes[8];
        bool operator==(Row const&) const = default;
    };

private:
    std::vector<Row> m_presented;
    std::vector<Row> m_pending;
    int32_t m_width { 0 };
    int32_t m_pending_width { 0 };
};

}
