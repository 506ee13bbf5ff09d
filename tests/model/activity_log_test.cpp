#include "model/activity_log.h"
#include "support/snapshot_fixtures.h"

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::fixtures;

TEST(activity_log, keeps_the_200_last_written_first_whatever_their_dates)
{
    // Written newest date first: an order by date would be the reverse.
    ActivityLog log;
    for (int n = 201; n >= 1; --n)
        log.add(activityEntry(n));
    ASSERT_EQ(log.entries.size(), 200u);
    EXPECT_EQ(log.entries.front(), activityEntry(1));
    EXPECT_EQ(log.entries.back(), activityEntry(200));
}
