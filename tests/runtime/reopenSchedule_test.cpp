// vReopenSchedule: one report per outage, and attempts a period apart across
// the wrap of the tick count.
#include "runtime/vReopenSchedule.h"

#include <gtest/gtest.h>

TEST(ReopenSchedule, TellsOncePerOutageAndWaitsAPeriodAcrossTheWrap) {
    vReopenSchedule schedule;
    EXPECT_TRUE(schedule.failed());
    EXPECT_FALSE(schedule.failed()) << "a failed reopen within the outage";
    EXPECT_TRUE(schedule.inOutage());
    schedule.worked();
    EXPECT_FALSE(schedule.inOutage());
    EXPECT_TRUE(schedule.failed()) << "the next failure begins a new outage";

    const uint32_t start = 0xFFFFFC00u; // 1 s before the tick count wraps
    schedule.wait(start);
    EXPECT_FALSE(schedule.due(start + 1999));
    EXPECT_TRUE(schedule.due(start + 2000));
    EXPECT_EQ(vReopenSchedule::kPeriodMs, 2000u);
}
