#include "platform/ReadableWatch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unistd.h>

using namespace velloq;
using namespace std::chrono_literals;

namespace {

// A pipe whose read end is watched, and the calls of the watch, counted.
class ReadableWatchTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::pipe(ends), 0); }
    void TearDown() override
    {
        ::close(ends[0]);
        ::close(ends[1]);
    }
    void called()
    {
        std::lock_guard lock(mutex);
        ++calls;
        changed.notify_all();
    }
    bool wait_for_calls(int count)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 30s, [&] { return calls >= count; });
    }
    void drain()
    {
        char bytes[16];
        ASSERT_GT(::read(ends[0], bytes, sizeof bytes), 0);
    }

    int ends[2] { -1, -1 };
    std::mutex mutex;
    std::condition_variable changed;
    int calls { 0 };
};

}

// Something to read calls once; nothing more until it was read and the watch renewed, however
// much more arrives; a watch ended while waiting ends at once.
TEST_F(ReadableWatchTest, CallsOnceWhenReadableAndAgainOnlyWhenWatchedAgain)
{
    platform::ReadableWatch watch([this] { called(); });
    watch.watch({ ends[0] });
    ASSERT_EQ(::write(ends[1], "a", 1), 1);
    ASSERT_TRUE(wait_for_calls(1));
    ASSERT_EQ(::write(ends[1], "b", 1), 1);
    // Watched again while still readable: it calls at once, so nothing written meanwhile waits.
    watch.watch({ ends[0] });
    ASSERT_TRUE(wait_for_calls(2));
    drain();
    watch.watch({ ends[0] });
    ASSERT_EQ(::write(ends[1], "c", 1), 1);
    ASSERT_TRUE(wait_for_calls(3));
    std::lock_guard lock(mutex);
    EXPECT_EQ(calls, 3);
}

TEST_F(ReadableWatchTest, EndsWhileWaiting)
{
    auto watch = std::make_unique<platform::ReadableWatch>([this] { called(); });
    watch->watch({ ends[0] });
    watch.reset();
    std::lock_guard lock(mutex);
    EXPECT_EQ(calls, 0);
}
