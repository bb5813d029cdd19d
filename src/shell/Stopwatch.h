#pragma once

#include <cstdint>

namespace velloq {

// Measures milliseconds on the 32-bit tick counter. Differences are taken as unsigned numbers,
// so a lap across the counter's wrap still gives the small true difference.
class Stopwatch {
public:
    using TickSource = uint32_t (*)();

    Stopwatch();
    explicit Stopwatch(TickSource);

    void start();
    // The milliseconds since the last start or lap; the watch then counts from now.
    uint32_t lap();

private:
    TickSource m_ticks;
    uint32_t m_started { 0 };
};

}
