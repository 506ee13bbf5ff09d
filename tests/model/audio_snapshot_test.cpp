#include "support/snapshot_fixtures.h"

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::fixtures;

namespace {

std::string nameOf(const AudioDevice* device)
{
    return device ? device->name : "none";
}

}  // namespace

TEST(audio_snapshot, recent_overloads_are_at_least_0_and_under_120_seconds_before_capture)
{
    EXPECT_TRUE(isRecent(at(1000), at(1000)));
    EXPECT_TRUE(isRecent(at(880.1), at(1000)));
    EXPECT_FALSE(isRecent(at(880), at(1000)));
    EXPECT_FALSE(isRecent(at(1000.001), at(1000)));
}

TEST(audio_snapshot, fallback_output_prefers_built_in_then_any_physical_output)
{
    const auto loopback = output(1, "Loopback", AudioTransport::virtual_);
    const auto combined = output(2, "Combined", AudioTransport::aggregate);
    const auto dac = output(3, "DAC", AudioTransport::usb);
    auto speakers = output(4, "Speakers");
    // An id that names no device has no device.
    EXPECT_EQ(snapshot({loopback, dac, speakers}, 7).outputDevice(), nullptr);
    EXPECT_EQ(nameOf(snapshot({loopback, dac, speakers}).fallbackOutput()), "Speakers");
    EXPECT_EQ(nameOf(snapshot({loopback, combined, dac}).fallbackOutput()), "DAC");
    // Even as the only outputs, virtual and aggregate devices are no way back to sound.
    EXPECT_EQ(nameOf(snapshot({loopback, combined}).fallbackOutput()), "none");
    speakers.isAlive = false;
    EXPECT_EQ(nameOf(snapshot({speakers}).fallbackOutput()), "none");
}

TEST(audio_snapshot, input_is_active_when_reported_or_a_device_with_inputs_runs_input)
{
    auto s = snapshot({output(1, "Speakers"), input(2, "Mic")});
    s.devices[0].isRunningInput = true;  // an output-only device cannot be recording
    EXPECT_FALSE(s.isInputActive());
    s.devices[1].isRunningInput = true;
    EXPECT_TRUE(s.isInputActive());
    s.devices[1].isRunningInput = false;
    s.inputIOActive = true;
    EXPECT_TRUE(s.isInputActive());
}

TEST(audio_device, standard_rate_is_48_khz_when_accepted_else_44_1_khz)
{
    AudioDevice d;
    d.availableRates = {{44100, 44100}, {96000, 96000}};
    EXPECT_EQ(d.standardRate(), 44100.0);
    d.availableRates = {{8000, 96000}};
    EXPECT_EQ(d.standardRate(), 48000.0);
    d.availableRates = {{88200, 192000}};
    EXPECT_EQ(d.standardRate(), std::nullopt);
}

TEST(audio_device, input_level_and_mute_come_from_element_0_else_the_loudest_and_all_channels)
{
    auto d = input(1, "Mic");
    d.inputControls = {control(1, 0.9f, false), control(0, 0.3f, true)};
    EXPECT_EQ(d.inputVolume(), 0.3f);
    EXPECT_EQ(d.inputMuted(), true);
    d.inputControls = {control(0, std::nullopt, std::nullopt), control(1, 0.2f, true), control(2, 0.7f, false)};
    EXPECT_EQ(d.inputVolume(), 0.7f);
    EXPECT_EQ(d.inputMuted(), false);
    d.inputControls[2].isMuted = true;
    EXPECT_EQ(d.inputMuted(), true);
}

TEST(audio_device, output_controls_fall_back_to_one_element_0_control_from_the_main_values)
{
    auto d = output(1, "Speakers");
    d.isMuted.reset();
    d.canSetMute = false;
    EXPECT_EQ(d.controls(AudioDirection::output), std::vector{control(0, 0.5f, std::nullopt, true, false)});
    // A mute state alone, even "not muted", is still a control.
    d.volume.reset();
    d.isMuted = false;
    EXPECT_EQ(d.controls(AudioDirection::output), std::vector{control(0, std::nullopt, false, true, false)});
    d.isMuted.reset();
    EXPECT_TRUE(d.controls(AudioDirection::output).empty());
}
