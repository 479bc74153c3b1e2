#include "plat/services/heartbeat.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Beats of 10 ms.
const plat::ScaledClock kFast(0.02);

// Waits up to a generous bound for `done`, polling: the heartbeat's thread does the work.
template <class Done>
bool eventually(Done done)
{
    const auto bound = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > bound) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(Heartbeat, RunsEachCheckOnItsOwnMultipleOfTheBeatInTheOrderAdded)
{
    plat::Heartbeat heartbeat(kFast);
    std::mutex mutex;
    std::vector<char> order;
    heartbeat.every(1, [&] {
        std::lock_guard lock(mutex);
        order.push_back('a');
    });
    heartbeat.every(2, [&] {
        std::lock_guard lock(mutex);
        order.push_back('b');
    });
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        return order.size() >= 9;
    }));
    std::lock_guard lock(mutex);
    // Beat 1: a; beat 2: a b; beat 3: a; beat 4: a b ...
    const std::vector<char> expected = {'a', 'a', 'b', 'a', 'a', 'b', 'a', 'a', 'b'};
    EXPECT_EQ(std::vector<char>(order.begin(), order.begin() + 9), expected);
}

TEST(Heartbeat, ACancelledCheckRunsNoMoreAndACheckMayCancelItself)
{
    plat::Heartbeat heartbeat(kFast);
    std::atomic<int> runs{0}, selfRuns{0};
    const auto id = heartbeat.every(1, [&] { ++runs; });
    std::uint64_t self = 0;
    std::atomic<bool> registered{false};
    self = heartbeat.every(1, [&] {
        if (!registered) return;
        ++selfRuns;
        heartbeat.cancel(self);
    });
    registered = true;
    ASSERT_TRUE(eventually([&] { return runs >= 3 && selfRuns >= 1; }));
    heartbeat.cancel(id);
    const int after = runs;
    const int selfAfter = selfRuns;
    // Twenty beats later neither ran again.
    std::atomic<int> witness{0};
    heartbeat.every(1, [&] { ++witness; });
    ASSERT_TRUE(eventually([&] { return witness >= 20; }));
    EXPECT_EQ(runs, after);
    EXPECT_EQ(selfRuns, selfAfter);
    EXPECT_EQ(selfAfter, 1);
}

TEST(Heartbeat, AWaitEndsWhenTheCheckFindsWorkOrWhenItIsStopped)
{
    plat::Heartbeat heartbeat(kFast);
    std::mutex mutex;
    std::condition_variable wake;
    std::atomic<int> asked{0};
    {
        std::unique_lock lock(mutex);
        EXPECT_TRUE(heartbeat.await(
            1, [&] { return ++asked == 3; }, wake, lock, [] { return false; }));
        EXPECT_EQ(asked, 3);
    }

    bool stop = false;
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);  // whenever: the wait must end either way
        {
            std::lock_guard lock(mutex);
            stop = true;
        }
        wake.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        EXPECT_FALSE(heartbeat.await(
            1, [] { return false; }, wake, lock, [&] { return stop; }));
    }
    stopper.join();
}

TEST(Heartbeat, ACallerThatBeatsRunsTheChecksOnItsOwnThread)
{
    plat::Heartbeat heartbeat(kFast);
    heartbeat.driveFromCaller();
    std::atomic<int> runs{0};
    std::thread::id ranOn;
    heartbeat.every(1, [&] {
        ranOn = std::this_thread::get_id();
        ++runs;
    });
    std::this_thread::sleep_for(100ms);  // ten beats of its own thread, had it kept beating
    EXPECT_EQ(runs, 0);
    heartbeat.beat();
    heartbeat.beat();
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

}  // namespace
