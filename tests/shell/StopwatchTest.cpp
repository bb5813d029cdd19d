#include "shell/Stopwatch.h"

#include <gtest/gtest.h>

using namespace velloq;

namespace {

uint32_t g_now = 0;
uint32_t fake_ticks() { return g_now; }

}

TEST(Stopwatch, LapsMeasureFromTheLastReading)
{
    g_now = 1000;
    Stopwatch watch(fake_ticks);
    g_now = 1250;
    EXPECT_EQ(watch.lap(), 250u);
    g_now = 1300;
    EXPECT_EQ(watch.lap(), 50u);
    watch.start();
    EXPECT_EQ(watch.lap(), 0u);
}

TEST(Stopwatch, LapAcrossTheCounterWrapIsTheSmallTrueDifference)
{
    g_now = 0xFFFFFFF0u;
    Stopwatch watch(fake_ticks);
    g_now = 0x10u;
    EXPECT_EQ(watch.lap(), 0x20u);
}

TEST(Stopwatch, RealClockMovesForward)
{
    Stopwatch watch;
    EXPECT_LT(watch.lap(), 1000u);
}
