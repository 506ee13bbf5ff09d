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

TEST(activity_log, entries_it_cannot_read_keep_their_place_and_count_toward_the_200)
{
    ActivityLog log;
    for (int n = 1; n <= 198; ++n)
        log.entries.push_back(activityEntry(n));
    log.unread = {{1, R"({"kind":"newer"})"}, {199, R"({"kind":"oldest"})"}};

    log.add(activityEntry(0));
    EXPECT_EQ(log.entries.size(), 199u) << "the oldest, unread, made room";
    EXPECT_EQ(log.unread, (std::vector<UnreadActivityEntry>{{2, R"({"kind":"newer"})"}}));
    log.add(activityEntry(-1));
    EXPECT_EQ(log.entries.size(), 199u);
    EXPECT_EQ(log.entries.back(), activityEntry(197)) << "then the oldest read one";
    EXPECT_EQ(log.unread.front().position, 3u);
}

std::string repeated(std::string_view text, int times)
{
    std::string result;
    for (int i = 0; i < times; ++i)
        result += text;
    return result;
}

TEST(activity_log, long_texts_are_cut_to_their_length_in_whole_characters)
{
    const struct {
        std::string text;
        std::string expected;
    } rows[] = {
        // Up to the length nothing changes.
        {std::string(200, 'a'), std::string(200, 'a')},
        // Beyond it, 199 characters and an ellipsis.
        {std::string(201, 'a'), std::string(199, 'a') + "…"},
        {repeated("é", 200), repeated("é", 200)},
        // Never inside a character of two or four bytes.
        {repeated("é", 300), repeated("é", 199) + "…"},
        {repeated("𝄞", 201), repeated("𝄞", 199) + "…"},
    };
    for (const auto& row : rows) {
        ActivityLog log;
        ActivityEntry entry = activityEntry(1);
        entry.title = row.text;
        entry.detail = std::string(60'000, 'd');
        log.add(entry);
        EXPECT_EQ(log.entries[0].title, row.expected);
        EXPECT_EQ(log.entries[0].detail, std::string(1999, 'd') + "…");
    }
}
