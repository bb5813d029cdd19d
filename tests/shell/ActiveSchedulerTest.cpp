#include "shell/ActiveScheduler.h"

#include "platform/Utf.h"
#include "shell/Fatal.h"
#include "shell/Registry.h"
#include "shell/Timer.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

#include <limits>

#include <functional>
#include <thread>
#include <vector>

using namespace velloq;

namespace {

// Runs the scheduler's private messages as the main loop does, until the condition holds.
class SchedulerLoop {
public:
    bool pump_until(std::function<bool()> const& done, int limit_ms = 3000)
    {
        platform::Event event;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            if (!queue.wait(event, 20) || event.kind != platform::EventKind::Private)
                continue;
            if (event.code == CActiveScheduler::process_message)
                scheduler.process_actives();
            else if (event.code == CActiveScheduler::timer_message)
                scheduler.check_timers();
        }
        return true;
    }
    void drain() { pump_until([] { return false; }, 100); }

    platform::EventQueue queue;
    CActiveScheduler scheduler;
};

// What a timer does when due: notes its name.
std::function<void()> recorder(std::vector<int>& order, int name)
{
    return [&order, name] { order.push_back(name); };
}

class Completion final : public CActive {
public:
    void run() override { ++runs; }
    void do_cancel() override { CActiveScheduler::current()->notify(*this); }
    int runs { 0 };
};

}

TEST(ActiveScheduler, ZeroSecondTimerRunsAtTheNextMessage)
{
    SchedulerLoop loop;
    std::vector<int> order;
    Timer timer(recorder(order, 1));
    timer.start(0);
    EXPECT_TRUE(order.empty());
    EXPECT_TRUE(timer.is_running());
    ASSERT_TRUE(loop.pump_until([&] { return !order.empty(); }));
    EXPECT_EQ(order, std::vector<int> { 1 });
    EXPECT_FALSE(timer.is_running());
    EXPECT_EQ(loop.scheduler.active_count(), 0);
}

TEST(ActiveScheduler, RestartConsumesThePendingCompletion)
{
    SchedulerLoop loop;
    std::vector<int> order;
    Timer timer(recorder(order, 1));
    timer.start(0);
    timer.start(0.05);
    loop.drain();
    ASSERT_TRUE(loop.pump_until([&] { return !order.empty(); }));
    loop.drain();
    EXPECT_EQ(order, std::vector<int> { 1 });
}

TEST(ActiveScheduler, EqualDueTimesRunInStartOrder)
{
    SchedulerLoop loop;
    std::vector<int> order;
    Timer a(recorder(order, 1)), b(recorder(order, 2)), c(recorder(order, 3));
    c.start(0.08);
    a.start(0.03);
    b.start(0.03);
    ASSERT_TRUE(loop.pump_until([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int> { 1, 2, 3 }));
}

TEST(ActiveScheduler, CancelStopsATimerAndCancellingAnIdleObjectDoesNothing)
{
    SchedulerLoop loop;
    std::vector<int> order;
    Timer timer(recorder(order, 1));
    timer.cancel();
    timer.start(0.02);
    timer.cancel();
    EXPECT_FALSE(timer.is_running());
    loop.drain();
    EXPECT_TRUE(order.empty());
    Completion idle;
    loop.scheduler.cancel(idle);
    EXPECT_EQ(idle.runs, 0);
}

TEST(ActiveScheduler, CompletionSignalledFromAnotherThreadRunsOnTheLoop)
{
    SchedulerLoop loop;
    Completion completion;
    loop.scheduler.set_active(completion);
    std::thread other([&] { loop.scheduler.notify(completion); });
    other.join();
    EXPECT_EQ(completion.runs, 0);
    ASSERT_TRUE(loop.pump_until([&] { return completion.runs == 1; }));
    EXPECT_FALSE(completion.is_active());
}

TEST(ActiveScheduler, CancelWaitsForACompletionFromAnotherThread)
{
    SchedulerLoop loop;
    class Slow final : public CActive {
    public:
        void run() override { ++runs; }
        void do_cancel() override
        {
            worker = std::thread([this] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                CActiveScheduler::current()->notify(*this);
            });
        }
        std::thread worker;
        int runs { 0 };
    } slow;
    loop.scheduler.set_active(slow);
    loop.scheduler.cancel(slow);
    slow.worker.join();
    EXPECT_FALSE(slow.is_active());
    loop.drain();
    EXPECT_EQ(slow.runs, 0);
}

TEST(ActiveSchedulerDeathTest, MisuseIsFatal)
{
    test::TempDevice device;
    EXPECT_EXIT(
        {
            SchedulerLoop loop;
            Completion completion;
            loop.scheduler.set_active(completion);
            loop.scheduler.set_active(completion);
        },
        testing::ExitedWithCode(fatal_exit_code), "");
    EXPECT_EXIT(
        {
            SchedulerLoop loop;
            Completion completion;
            loop.scheduler.notify(completion);
        },
        testing::ExitedWithCode(fatal_exit_code), "");
    EXPECT_EXIT(
        {
            SchedulerLoop loop;
            Completion completion;
            loop.scheduler.set_active(completion);
            loop.scheduler.notify(completion);
            loop.scheduler.notify(completion);
            loop.scheduler.process_actives();
        },
        testing::ExitedWithCode(fatal_exit_code), "");
    EXPECT_EXIT(
        {
            SchedulerLoop loop;
            auto completion = std::make_unique<Completion>();
            loop.scheduler.set_active(*completion);
            completion.reset();
        },
        testing::ExitedWithCode(fatal_exit_code), "");
    EXPECT_EXIT(
        {
            auto loop = std::make_unique<SchedulerLoop>();
            Completion completion;
            loop->scheduler.set_active(completion);
            loop.reset();
        },
        testing::ExitedWithCode(fatal_exit_code), "");
}

TEST(ActiveSchedulerDeathTest, FatalReportsNameTheObject)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    Completion completion;
    std::u16string id = to_u16_decimal(completion.id());
    EXPECT_EXIT(
        {
            SchedulerLoop loop;
            loop.scheduler.set_active(completion);
            loop.scheduler.set_active(completion);
        },
        testing::ExitedWithCode(fatal_exit_code), "");
    EXPECT_EQ(test::read_utf16_file(device.log_file()), u"Gluck: Object " + id + u" is already active @ CActiveScheduler::set_active()\n");
}

TEST(ActiveScheduler, TimerDelaysOutsideTheClocksRangeAreClamped)
{
    EXPECT_EQ(Timer::delay_milliseconds(1.0), 1000u);
    EXPECT_EQ(Timer::delay_milliseconds(-5), 0u);
    EXPECT_EQ(Timer::delay_milliseconds(std::numeric_limits<double>::quiet_NaN()), 0u);
    EXPECT_EQ(Timer::delay_milliseconds(1e12), 2147483647u);
    EXPECT_EQ(Timer::delay_milliseconds(std::numeric_limits<double>::infinity()), 2147483647u);
}
