// A worker sleeps until it is woken or stopped, loses no wake, and ends with its owner.
#include "platform/Worker.h"

#include "support/Wait.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>

using namespace velloq;

TEST(Worker, AWakeBeforeTheWaitIsNotLostAndTheWorkerEndsWhenItsOwnerDoes)
{
    std::atomic<int> rounds { 0 };
    std::atomic<bool> ended { false };
    {
        platform::Worker worker([&](platform::Worker& self) {
            while (self.wait())
                ++rounds;
            ended = true;
        });
        worker.wake();
        ASSERT_TRUE(test::wait_until([&] { return rounds >= 1; }));
        worker.wake();
        ASSERT_TRUE(test::wait_until([&] { return rounds >= 2; }));
    }
    EXPECT_TRUE(ended);
}

// What it watches wakes it with the descriptor marked ready; a stop ends even a wait without end.
TEST(Worker, AWatchedDescriptorWakesItAndSaysSo)
{
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    std::atomic<int> readable { 0 };
    {
        platform::Worker worker([&](platform::Worker& self) {
            pollfd watched[1] = { { pipe_ends[0], POLLIN, 0 } };
            while (self.wait(-1, watched)) {
                if (watched[0].revents & POLLIN) {
                    char byte = 0;
                    if (::read(pipe_ends[0], &byte, 1) == 1)
                        ++readable;
                }
            }
        });
        ASSERT_EQ(::write(pipe_ends[1], "x", 1), 1);
        ASSERT_TRUE(test::wait_until([&] { return readable == 1; }));
    }
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
}
