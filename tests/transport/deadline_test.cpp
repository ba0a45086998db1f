#include "flashmate/deadline.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(Deadline, ZeroBudgetIsExpiredAtOnce)
{
    const Deadline deadline = Deadline::AfterMs(0);
    EXPECT_TRUE(deadline.Expired());
    EXPECT_EQ(deadline.Remaining().count(), 0);
}

TEST(Deadline, ExpiresAfterItsBudgetAndNeverGoesNegative)
{
    const Deadline deadline = Deadline::AfterMs(20);
    EXPECT_FALSE(deadline.Expired());
    EXPECT_GT(deadline.Remaining().count(), 0);
    EXPECT_LE(deadline.Remaining(), std::chrono::milliseconds(20));
    std::this_thread::sleep_until(deadline.When());
    EXPECT_TRUE(deadline.Expired());
    EXPECT_EQ(deadline.Remaining().count(), 0);
}

}  // namespace
