#include "support/snapshot_fixtures.h"

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::fixtures;

namespace {

std::string nameOf(const AudioDevice* device)
{
    return device ? device->name : "none";
}

int recentCountOf(Date overload)
{
    auto s = snapshot({});
    s.overloadDates = {overload};
    return s.recentOverloadCount();
}

}  // namespace

TEST(audio_snapshot, an_id_that_names_no_device_has_no_device)
{
    const auto s = snapshot({output(1, "Speakers")}, 7, 0, 1);
    EXPECT_EQ(s.outputDevice(), nullptr);
    EXPECT_EQ(s.inputDevice(), nullptr);
    EXPECT_EQ(nameOf(s.systemOutputDevice()), "Speakers");
}

TEST(audio_snapshot, recent_overloads_are_at_least_0_and_under_120_seconds_before_capture)
{
    // Captured at t = 1000 s.
    EXPECT_EQ(recentCountOf(at(1000)), 1);
    EXPECT_EQ(recentCountOf(at(880.1)), 1);
    EXPECT_EQ(recentCountOf(at(880)), 0);
    EXPECT_EQ(recentCountOf(at(1000.001)), 0);
}

TEST(audio_snapshot, fallback_output_prefers_built_in_then_any_physical_output)
{
    const auto loopback = output(1, "Loopback", AudioTransport::virtual_);
    const auto combined = output(2, "Combined", AudioTransport::aggregate);
    const auto dac = output(3, "DAC", AudioTransport::usb);
    auto speakers = output(4, "Speakers");
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
    d.availableRates = {{44100, 44100}, {48000, 48000}};
    EXPECT_EQ(d.standardRate(), 48000.0);
    d.availableRates = {{88200, 192000}};
    EXPECT_EQ(d.standardRate(), std::nullopt);
}

TEST(audio_device, input_level_and_mute_fall_back_to_the_channels_without_element_0)
{
    auto d = input(1, "Mic");
    d.inputControls = {control(0, std::nullopt, std::nullopt), control(1, 0.2f, true), control(2, 0.7f, false)};
    EXPECT_EQ(d.inputVolume(), 0.7f);
    EXPECT_EQ(d.inputMuted(), false);
    d.inputControls[2].isMuted = true;
    EXPECT_EQ(d.inputMuted(), true);
    d.inputControls = {};
    EXPECT_EQ(d.inputVolume(), std::nullopt);
    EXPECT_EQ(d.inputMuted(), std::nullopt);
}

TEST(audio_device, input_level_and_mute_of_element_0_win_wherever_it_is_listed)
{
    auto d = input(1, "Mic");
    d.inputControls = {control(1, 0.9f, false), control(0, 0.3f, true)};
    EXPECT_EQ(d.inputVolume(), 0.3f);
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

TEST(audio_device, symbol_name_follows_the_transport_and_a_built_in_without_outputs_is_a_mic)
{
    struct Row {
        AudioTransport transport;
        int outputChannels;
        std::string symbol;
    };
    const Row rows[] = {
        {AudioTransport::builtIn, 2, "laptopcomputer"},
        {AudioTransport::builtIn, 0, "mic"},
        // Only built-in devices turn into a microphone symbol.
        {AudioTransport::bluetooth, 0, "headphones"},
        {AudioTransport::usb, 2, "cable.connector"},
        {AudioTransport::display, 2, "display"},
        {AudioTransport::virtual_, 2, "waveform.path"},
        {AudioTransport::aggregate, 2, "waveform.path"},
        {AudioTransport::other, 2, "speaker.wave.2"},
    };
    for (const auto& row : rows) {
        AudioDevice d;
        d.transport = row.transport;
        d.outputChannels = row.outputChannels;
        EXPECT_EQ(d.symbolName(), row.symbol) << label(row.transport) << " with " << row.outputChannels << " ch";
    }
}

TEST(audio_stream_format, label_shows_channels_kilohertz_and_bit_depth_or_encoded)
{
    EXPECT_EQ((AudioStreamFormat{AudioDirection::output, 48000, 32, 2, true}.label()), "2 ch · 48 kHz · 32-bit float");
    EXPECT_EQ((AudioStreamFormat{AudioDirection::input, 44100, 24, 1, false}.label()), "1 ch · 44.1 kHz · 24-bit");
    EXPECT_EQ((AudioStreamFormat{AudioDirection::output, 48000, 0, 2, false}.label()), "2 ch · 48 kHz · encoded");
}
