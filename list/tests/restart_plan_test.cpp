// When a detail program that ended on its own starts again, and when its printer is given up.

#include "restart_plan.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using watchlist::RestartPlan;

namespace {

const RestartPlan::Time t0{};

}  // namespace

TEST(RestartPlan, StartsAgainAfterOneFiveAndThirtySecondsWhileEndsComeWithinTenMinutesOfEachOther)
{
    RestartPlan plan(plat::steadyClock());
    auto first = plan.ended(4, t0);
    EXPECT_FALSE(first.giveUp);
    EXPECT_EQ(first.delay, 1s);
    EXPECT_TRUE(plan.waiting(4));
    EXPECT_TRUE(plan.due(t0 + 999ms).empty()) << "not before its time";
    EXPECT_EQ(plan.due(t0 + 1s), std::vector<int>{4});
    EXPECT_TRUE(plan.due(t0 + 2s).empty()) << "each start is due once";
    EXPECT_FALSE(plan.waiting(4));

    EXPECT_EQ(plan.ended(4, t0 + 8min).delay, 5s);
    // The first end is out of the window now, so only two count, but the chain goes on.
    const auto third = plan.ended(4, t0 + 12min);
    EXPECT_FALSE(third.giveUp);
    EXPECT_EQ(third.recentEnds, 2);
    EXPECT_EQ(third.delay, 30s);

    const auto fourth = plan.ended(4, t0 + 13min);
    EXPECT_TRUE(fourth.giveUp) << "three ends within 10 minutes";
    EXPECT_EQ(fourth.recentEnds, 3);
    EXPECT_FALSE(plan.waiting(4));
    EXPECT_TRUE(plan.due(t0 + 1h).empty());
}

TEST(RestartPlan, ThreeQuickEndsGiveUpAndEndsFarApartNeverDo)
{
    RestartPlan plan(plat::steadyClock());
    EXPECT_FALSE(plan.ended(0, t0).giveUp);
    EXPECT_FALSE(plan.ended(0, t0 + 2s).giveUp);
    EXPECT_TRUE(plan.ended(0, t0 + 10s).giveUp);
    EXPECT_FALSE(plan.ended(1, t0).giveUp) << "each slot counts for itself";

    RestartPlan steady(plat::steadyClock());
    for (int i = 0; i < 10; ++i) {
        const auto decision = steady.ended(2, t0 + i * 11min);
        EXPECT_FALSE(decision.giveUp);
        EXPECT_EQ(decision.delay, 1s) << "a program that ran 10 minutes starts again at once";
    }

    plan.clear();
    EXPECT_FALSE(plan.ended(0, t0 + 11s).giveUp) << "a rebuild forgets every end";
}

TEST(RestartPlan, TheWaitsAndTheWindowFollowTheClock)
{
    const plat::ScaledClock fast(0.01);
    RestartPlan plan(fast);
    EXPECT_EQ(plan.ended(3, t0).delay, 10ms);
    EXPECT_EQ(plan.ended(3, t0 + 1s).delay, 50ms);
    EXPECT_FALSE(plan.ended(3, t0 + 7s).giveUp) << "10 minutes are 6 s here: the first end is out";
    EXPECT_FALSE(plan.ended(3, t0 + 8s).giveUp);
    EXPECT_TRUE(plan.ended(3, t0 + 9s).giveUp);
}
