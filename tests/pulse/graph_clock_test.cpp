#include "pulse/graph_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace sonorel;
using namespace sonorel::pulse;
using Rates = std::vector<uint32_t>;

GraphClock clock48(std::vector<uint32_t> allowed = {44100, 48000})
{
    GraphClock clock;
    clock.rate = 48000;
    clock.allowedRates = std::move(allowed);
    clock.quantum = 1024;
    clock.minQuantum = 16;
    clock.maxQuantum = 2048;
    return clock;
}

// The USB interface of the rig as the pulse server reports it.
AudioDevice usbAt22050()
{
    AudioDevice d;
    d.uid = "usb";
    d.sampleRate = 22050;
    d.availableRates = {{22050, 22050}};
    d.bufferFrames = 441;
    return d;
}

TEST(graph_clock_test, allowed_rates_read_the_bracketed_list_and_skip_what_is_no_rate)
{
    EXPECT_EQ(allowedRatesOf("[ 44100 48000 ]"), (Rates{44100, 48000}));
    EXPECT_EQ(allowedRatesOf("[44100,48000,96000]"), (Rates{44100, 48000, 96000}));
    EXPECT_EQ(allowedRatesOf("48000"), (Rates{48000}));
    EXPECT_EQ(allowedRatesOf("[ 48000 abc -1 0 4.8e4 96000 ]"), (Rates{48000, 96000}));
    EXPECT_EQ(allowedRatesOf("[ ]"), Rates{});
    EXPECT_EQ(allowedRatesOf(""), Rates{});
    EXPECT_EQ(allowedRatesOf("[ 99999999999 ]"), Rates{});
}

TEST(graph_clock_test, the_settings_metadata_fills_every_field_and_leaves_zero_where_unreadable)
{
    const GraphClock full = graphClockOf({
        {"clock.rate", "48000"},
        {"clock.allowed-rates", "[ 44100 48000 ]"},
        {"clock.quantum", "1024"},
        {"clock.min-quantum", "16"},
        {"clock.max-quantum", "2048"},
        {"clock.force-rate", "44100"},
        {"clock.force-quantum", "256"},
        {"log.level", "2"},
    });
    GraphClock expected = clock48();
    expected.forceRate = 44100;
    expected.forceQuantum = 256;
    EXPECT_EQ(full, expected);

    const GraphClock broken = graphClockOf({{"clock.rate", "fast"}, {"clock.quantum", "-1"}, {"clock.force-rate", "0"}});
    EXPECT_EQ(broken, GraphClock{});
}

TEST(graph_clock_test, a_device_takes_the_allowed_rates_and_the_quantum_and_keeps_its_rate_unforced)
{
    AudioDevice d = usbAt22050();
    applyGraphClock(d, clock48());
    EXPECT_EQ(d.availableRates, (std::vector<ClosedRange<double>>{{44100, 44100}, {48000, 48000}}));
    EXPECT_TRUE(d.canSetRate);
    EXPECT_EQ(d.sampleRate, 22050);
    EXPECT_EQ(d.bufferFrames, 1024u);
    EXPECT_EQ(d.bufferRange, (ClosedRange<uint32_t>{16, 2048}));
    EXPECT_EQ(d.standardRate(), 48000);
}

TEST(graph_clock_test, a_forced_rate_and_quantum_override_what_the_pulse_server_reports)
{
    GraphClock clock = clock48();
    clock.forceRate = 44100;
    clock.forceQuantum = 256;
    AudioDevice d = usbAt22050();
    applyGraphClock(d, clock);
    EXPECT_EQ(d.sampleRate, 44100);
    EXPECT_EQ(d.bufferFrames, 256u);
}

TEST(graph_clock_test, a_buffer_range_that_is_no_range_is_left_out_and_a_missing_quantum_keeps_the_pulse_buffer)
{
    GraphClock clock = clock48();
    clock.minQuantum = 0;
    clock.quantum = 0;
    AudioDevice d = usbAt22050();
    applyGraphClock(d, clock);
    EXPECT_FALSE(d.bufferRange);
    EXPECT_EQ(d.bufferFrames, 441u);

    clock.minQuantum = 4096;
    applyGraphClock(d, clock);
    EXPECT_FALSE(d.bufferRange);
}

TEST(graph_clock_test, the_force_written_for_a_rate)
{
    const GraphClock clock = clock48();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        double rate;
        std::optional<uint32_t> unforced;
        std::optional<uint32_t> force;
    };
    for (const Row& row : std::vector<Row>{
             {44100, 22050, 44100},                 // an allowed rate is forced
             {48000, 22050, 48000},                 // likewise
             {22050, 22050, 0},                     // the device's own rate lifts the force (undo)
             {48000, 48000, 0},                     // even when it is also allowed
             {32000, 22050, std::nullopt},          // the graph may not run at it
             {44100.5, 22050, std::nullopt},        // no fractional rates
             {nan, 22050, std::nullopt},            // nor a non-number
             {-48000, 22050, std::nullopt},         // nor a negative one
             {22050, std::nullopt, std::nullopt},   // no own rate known: only the allowed list counts
         }) {
        SCOPED_TRACE(row.rate);
        EXPECT_EQ(forceRateFor(row.rate, clock, row.unforced), row.force);
    }
}

TEST(graph_clock_test, the_pipewire_socket_sits_beside_a_local_pulse_socket_only)
{
    EXPECT_EQ(pipeWireRemoteFor("unix:/tmp/rig/run/pulse/native"), "/tmp/rig/run/pipewire-0");
    EXPECT_EQ(pipeWireRemoteFor("unix:/run/user/1000/pulse/native"), "/run/user/1000/pipewire-0");
    EXPECT_EQ(pipeWireRemoteFor("/run/user/1000/pulse/native"), "/run/user/1000/pipewire-0");
    EXPECT_EQ(pipeWireRemoteFor(std::nullopt), std::nullopt);
    EXPECT_EQ(pipeWireRemoteFor("tcp:localhost:4713"), std::nullopt);
    EXPECT_EQ(pipeWireRemoteFor("unix:/run/user/1000/pulse/other"), std::nullopt);
    EXPECT_EQ(pipeWireRemoteFor("unix:relative/pulse/native"), std::nullopt);
    EXPECT_EQ(pipeWireRemoteFor("unix:/pulse/native"), std::nullopt);
}

}  // namespace

TEST(graph_clock_test, the_default_node_is_the_configured_one_while_it_exists_else_the_effective_one)
{
    const std::map<std::string, std::string> metadata{
        {"default.audio.sink", R"({"name":"speakers"})"},
        {"default.configured.audio.sink", R"({ "name": "hdmi" })"},
        {"default.audio.source", "not json"},
    };
    const auto exists = [](const std::string& node) { return node == "hdmi" || node == "speakers"; };
    EXPECT_EQ(defaultNodeOf(metadata, "audio.sink", exists), "hdmi");
    EXPECT_EQ(defaultNodeOf(metadata, "audio.sink", [](const std::string& n) { return n == "speakers"; }), "speakers");
    EXPECT_EQ(defaultNodeOf(metadata, "audio.source", exists), "");
    EXPECT_EQ(defaultNodeOf({}, "audio.sink", exists), "");
}
