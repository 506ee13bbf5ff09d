#include "pulse/overload_detector.h"

#include <gtest/gtest.h>

namespace {

using namespace sonorel::pulse;

const std::string speakers = "alsa_output.speakers";
const std::string usb = "alsa_output.usb";
const std::string filter = "effect_input.eq";

constexpr int32_t triggered = 1;
constexpr int32_t awake = 2;
constexpr int32_t finished = 3;

// A node that ran in order within the cycle.
ProfiledNode ran(int32_t id, std::string name)
{
    return ProfiledNode{id, std::move(name), finished, 1000, 1200, 1500};
}

ProfiledNode withStatus(ProfiledNode node, int32_t status)
{
    node.status = status;
    return node;
}

ProfiledCycle cycle(ProfiledNode driver, int32_t xruns, std::vector<ProfiledNode> followers = {})
{
    return ProfiledCycle{std::move(driver), xruns, std::move(followers)};
}

TEST(overload_detector_test, a_node_is_unfinished_when_not_done_or_its_times_run_backwards)
{
    EXPECT_FALSE(isUnfinished(ran(40, "player")));
    EXPECT_TRUE(isUnfinished(withStatus(ran(40, "player"), triggered)));
    EXPECT_TRUE(isUnfinished(withStatus(ran(40, "player"), awake)));
    // A stopped client keeps the times of the last cycle it finished.
    EXPECT_TRUE(isUnfinished(ProfiledNode{40, "player", finished, 2000, 1200, 1500}));
    EXPECT_TRUE(isUnfinished(ProfiledNode{40, "player", finished, 1000, 1600, 1500}));
}

TEST(overload_detector_test, a_healthy_graph_has_no_overload)
{
    OverloadDetector detector;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(detector.inspect({cycle(ran(50, speakers), 0, {ran(70, "player")}),
                                    cycle(ran(51, usb), 0, {ran(71, "other")})},
                                   speakers),
                  std::nullopt);
}

TEST(overload_detector_test, an_unfinished_follower_is_an_overload_of_the_sinks_driver_only)
{
    OverloadDetector detector;
    const ProfiledCycle stalled = cycle(ran(50, speakers), 0, {ran(70, "player"), withStatus(ran(71, "frozen"), triggered)});
    EXPECT_EQ(detector.inspect({stalled}, speakers), speakers);
    // The same stall behind another output is not ours.
    EXPECT_EQ(detector.inspect({stalled}, usb), std::nullopt);
    // A sink that follows another driver (a filter) is served by that driver.
    const ProfiledCycle behindFilter =
        cycle(ran(50, speakers), 0, {ran(60, filter), withStatus(ran(71, "frozen"), awake)});
    EXPECT_EQ(detector.inspect({behindFilter}, filter), speakers);
    // No sink named yet: nothing to report against.
    EXPECT_EQ(detector.inspect({stalled}, ""), std::nullopt);
}

TEST(overload_detector_test, a_driver_listed_among_its_own_followers_does_not_count_as_late)
{
    OverloadDetector detector;
    EXPECT_EQ(detector.inspect({cycle(ran(50, speakers), 0, {withStatus(ran(50, speakers), awake)})}, speakers),
              std::nullopt);
}

TEST(overload_detector_test, a_rise_of_the_xrun_counter_is_an_overload_and_the_first_count_only_a_baseline)
{
    OverloadDetector detector;
    EXPECT_EQ(detector.inspect({cycle(ran(50, speakers), 5)}, speakers), std::nullopt);
    EXPECT_EQ(detector.inspect({cycle(ran(50, speakers), 6)}, speakers), speakers);
    EXPECT_EQ(detector.inspect({cycle(ran(50, speakers), 6)}, speakers), std::nullopt);
    // A rise within one report counts too.
    EXPECT_EQ(detector.inspect({cycle(ran(50, speakers), 6), cycle(ran(50, speakers), 7)}, speakers), speakers);
}

TEST(overload_detector_test, counters_of_other_drivers_are_followed_so_a_new_default_starts_from_its_count)
{
    OverloadDetector detector;
    EXPECT_EQ(detector.inspect({cycle(ran(50, speakers), 0), cycle(ran(51, usb), 3)}, speakers), std::nullopt);
    EXPECT_EQ(detector.inspect({cycle(ran(51, usb), 9)}, speakers), std::nullopt);
    // The default moves to the USB interface: 9 is where it was, not a rise.
    EXPECT_EQ(detector.inspect({cycle(ran(51, usb), 9)}, usb), std::nullopt);
    EXPECT_EQ(detector.inspect({cycle(ran(51, usb), 10)}, usb), usb);
}

TEST(overload_detector_test, after_a_reset_the_first_count_is_a_baseline_again)
{
    OverloadDetector detector;
    EXPECT_EQ(detector.inspect({cycle(ran(50, speakers), 4)}, speakers), std::nullopt);
    detector.reset();
    // A restarted PipeWire counts afresh: 5 is not compared with the old 4.
    EXPECT_EQ(detector.inspect({cycle(ran(50, speakers), 5)}, speakers), std::nullopt);
    EXPECT_EQ(detector.inspect({cycle(ran(50, speakers), 6)}, speakers), speakers);
}

}  // namespace
