#include "pulse/overload_history.h"

#include <gtest/gtest.h>

namespace {

using namespace sonorel;
using namespace sonorel::pulse;
using Dates = std::vector<Date>;

Date at(double seconds)
{
    return dateFromSecondsSinceReferenceDate(800'000'000 + seconds);
}

// A reading whose default output is `uid` (none when empty).
AudioSnapshot readingWithOutput(const std::string& uid)
{
    AudioSnapshot s;
    for (const auto& [id, name] : {std::pair<AudioObjectID, std::string>{1, "A"}, {2, "B"}}) {
        AudioDevice d;
        d.id = id;
        d.uid = name;
        d.outputChannels = 2;
        d.isAlive = true;
        s.devices.push_back(d);
        if (name == uid)
            s.outputID = id;
    }
    return s;
}

TEST(overload_history_test, overloads_older_than_two_minutes_drop_out)
{
    OverloadHistory history;
    history.record(at(0), "A");
    history.record(at(60), "A");
    history.record(at(130), "A");
    EXPECT_EQ(history.dates, (Dates{at(60), at(130)}));
    EXPECT_EQ(history.lastOverload, at(130));
    EXPECT_EQ(history.uid, "A");
}

TEST(overload_history_test, the_window_keeps_119_9_seconds_and_drops_exactly_120)
{
    OverloadHistory history;
    history.record(at(0), "A");
    history.record(at(0.1), "A");
    history.record(at(120), "A");
    EXPECT_EQ(history.dates, (Dates{at(0.1), at(120)}));
}

TEST(overload_history_test, a_new_output_starts_the_history_afresh)
{
    OverloadHistory history;
    history.record(at(0), "A");
    history.record(at(5), "A");
    history.record(at(10), "B");
    EXPECT_EQ(history.dates, (Dates{at(10)}));
    EXPECT_EQ(history.uid, "B");
    // No output at all is an output of its own.
    history.record(at(11), std::nullopt);
    EXPECT_EQ(history.dates, (Dates{at(11)}));
}

TEST(overload_history_test, a_reading_shows_the_overloads_only_while_their_output_is_the_default)
{
    OverloadHistory history;
    history.record(at(0), "A");
    history.record(at(3), "A");

    AudioSnapshot onA = readingWithOutput("A");
    history.showIn(onA);
    EXPECT_EQ(onA.overloadDates, (Dates{at(0), at(3)}));
    EXPECT_EQ(onA.lastOverload, at(3));

    AudioSnapshot onB = readingWithOutput("B");
    onB.lastOverload = at(1);
    onB.overloadDates = {at(1)};
    history.showIn(onB);
    EXPECT_TRUE(onB.overloadDates.empty());
    EXPECT_FALSE(onB.lastOverload);

    AudioSnapshot noOutput = readingWithOutput("");
    history.showIn(noOutput);
    EXPECT_TRUE(noOutput.overloadDates.empty());
    // No output on either side counts as the same output.
    history.record(at(7), std::nullopt);
    history.showIn(noOutput);
    EXPECT_EQ(noOutput.overloadDates, (Dates{at(7)}));
    EXPECT_EQ(noOutput.lastOverload, at(7));
}

}  // namespace
