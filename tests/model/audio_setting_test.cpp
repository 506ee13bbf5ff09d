#include "model/audio_configuration_change.h"
#include "support/snapshot_fixtures.h"

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::fixtures;

namespace {

using S = AudioSetting;
constexpr auto inputSide = AudioDirection::input;
constexpr auto outputSide = AudioDirection::output;

}  // namespace

TEST(audio_setting, levels_match_within_half_a_percent_and_rates_within_one_hertz_on_the_same_target)
{
    const S written = S::Volume{"A", outputSide, 0, 0.25f};
    EXPECT_TRUE(written.matches(S::Volume{"A", outputSide, 0, 0.2549f}));
    // 0.255f lies just below 0.255: exactly half a percent off is still a difference.
    EXPECT_FALSE(written.matches(S::Volume{"A", outputSide, 0, 0.255f}));
    EXPECT_FALSE(written.matches(S::Volume{"A", outputSide, 0, 0.245f}));
    EXPECT_FALSE(written.matches(S::Volume{"A", outputSide, 1, 0.25f}));
    EXPECT_FALSE(written.matches(S::Volume{"A", inputSide, 0, 0.25f}));
    EXPECT_FALSE(written.matches(S::Volume{"B", outputSide, 0, 0.25f}));
    EXPECT_TRUE(S(S::Balance{"A", 0.5f}).matches(S::Balance{"A", 0.5049f}));
    EXPECT_FALSE(S(S::Balance{"A", 0.5f}).matches(S::Balance{"A", 0.505f}));
    EXPECT_TRUE(S(S::Rate{"A", 48000}).matches(S::Rate{"A", 47999.5}));
    EXPECT_FALSE(S(S::Rate{"A", 48000}).matches(S::Rate{"A", 47999.0}));
    EXPECT_FALSE(S(S::Rate{"A", 48000}).matches(S::Rate{"B", 48000}));
}

TEST(audio_setting, mutes_and_default_devices_match_only_the_same_state)
{
    EXPECT_TRUE(S(S::Mute{"A", outputSide, 0, true}).matches(S::Mute{"A", outputSide, 0, true}));
    EXPECT_FALSE(S(S::Mute{"A", outputSide, 0, true}).matches(S::Mute{"A", outputSide, 0, false}));
    // There is one default output: any two are the same target, matched by uid.
    EXPECT_TRUE(S(S::Output{"A"}).isSameTarget(S::Output{"B"}));
    EXPECT_FALSE(S(S::Output{"A"}).matches(S::Output{"B"}));
    EXPECT_FALSE(S(S::Output{"A"}).isSameTarget(S::Input{"A"}));
}

TEST(audio_snapshot_settings, list_the_defaults_then_each_live_device_input_output_balance_and_rate)
{
    auto headset = output(1, "Headset", AudioTransport::bluetooth);
    headset.inputChannels = 1;
    headset.inputControls = {control(0, 0.6f, false)};
    // Per-element controls hide the main volume of 0.5.
    headset.outputControls = {control(1, 0.7f, std::nullopt), control(2, 0.8f, true)};
    headset.balance = 0.5f;
    auto mic = input(2, "Mic");
    mic.sampleRate.reset();
    auto gone = output(3, "Gone");
    gone.isAlive = false;
    const std::vector<S> expected = {
        S::Output{"uid-Headset"},
        S::Input{"uid-Mic"},
        S::Alerts{"uid-Headset"},
        S::Volume{"uid-Headset", inputSide, 0, 0.6f},
        S::Mute{"uid-Headset", inputSide, 0, false},
        S::Volume{"uid-Headset", outputSide, 1, 0.7f},
        S::Volume{"uid-Headset", outputSide, 2, 0.8f},
        S::Mute{"uid-Headset", outputSide, 2, true},
        S::Balance{"uid-Headset", 0.5f},
        S::Rate{"uid-Headset", 48000},
        S::Volume{"uid-Mic", inputSide, 0, 0.5f},
        S::Mute{"uid-Mic", inputSide, 0, false},
    };
    EXPECT_EQ(snapshot({headset, mic, gone}, 1, 2, 1).settings(), expected);
}

TEST(audio_snapshot_settings, confirm_a_setting_only_when_the_reading_matches_it)
{
    auto s = snapshot({output(1, "Speakers")}, 1);
    EXPECT_TRUE(s.confirms(S::Volume{"uid-Speakers", outputSide, 0, 0.503f}));
    EXPECT_FALSE(s.confirms(S::Volume{"uid-Speakers", outputSide, 0, 0.52f}));
    // Nothing in the reading to compare with.
    EXPECT_FALSE(s.confirms(S::Balance{"uid-Speakers", 0.5f}));
    EXPECT_TRUE(s.confirms(S::Output{"uid-Speakers"}));
    s.readError = "The audio service did not answer.";
    EXPECT_FALSE(s.confirms(S::Output{"uid-Speakers"}));
}

TEST(audio_configuration_change, changes_are_mismatched_settings_in_the_order_of_after_and_new_devices_add_none)
{
    const auto before = snapshot({output(1, "Speakers"), output(2, "Headphones", AudioTransport::usb)}, 1);
    auto after = before;
    after.devices[1].volume = 0.9f;
    after.devices[0].volume = 0.503f;  // within tolerance: not a change
    after.outputID = 2;
    // Devices that came or went add nothing.
    after.devices.push_back(output(3, "Dock", AudioTransport::usb));
    const std::vector<AudioConfigurationChange> expected = {
        {S::Output{"uid-Speakers"}, S::Output{"uid-Headphones"}},
        {S::Volume{"uid-Headphones", outputSide, 0, 0.5f}, S::Volume{"uid-Headphones", outputSide, 0, 0.9f}},
    };
    EXPECT_EQ(AudioConfigurationChange::changes(before, after), expected);
}

TEST(audio_configuration_change, a_failed_reading_on_either_side_gives_no_changes)
{
    const auto before = snapshot({output(1, "Speakers")}, 1);
    auto after = before;
    after.devices[0].isMuted = true;
    after.readError = "The audio service did not answer.";
    EXPECT_TRUE(AudioConfigurationChange::changes(before, after).empty());
    EXPECT_TRUE(AudioConfigurationChange::changes(after, before).empty());
}
