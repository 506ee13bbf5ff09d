#include "model/activity_log.h"
#include "support/snapshot_fixtures.h"

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::fixtures;

TEST(activity_log, the_201st_entry_drops_the_oldest)
{
    ActivityLog log;
    for (int n = 1; n <= 201; ++n)
        log.add(activityEntry(n));
    ASSERT_EQ(log.entries.size(), 200u);
    EXPECT_EQ(log.entries.front(), activityEntry(201));
    EXPECT_EQ(log.entries.back(), activityEntry(2));
}

TEST(activity_log, entries_stay_newest_written_first_whatever_their_dates)
{
    auto first = activityEntry(1);
    first.date = at(500);
    auto second = activityEntry(2);
    second.date = at(100);
    ActivityLog log;
    log.add(first);
    log.add(second);
    EXPECT_EQ(log.entries, (std::vector{second, first}));
}
