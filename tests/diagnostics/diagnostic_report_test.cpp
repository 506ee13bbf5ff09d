#include "diagnostics/diagnostic_report.h"
#include "diagnostics/diagnostics.h"
#include "support/snapshot_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

using namespace sonorel;
using namespace sonorel::fixtures;

namespace {

const ReportDateTexts dates{
    [](Date d) { return "long " + isoDateText(d); },
    [](Date d) { return "short " + isoDateText(d); },
};

std::vector<std::string> linesOf(const std::string& report)
{
    std::vector<std::string> lines;
    std::istringstream stream(report);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

bool has(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(diagnostic_report, an_empty_setup_still_has_every_heading_and_the_closing_paragraph)
{
    DiagnosticReportState state;
    state.generatedAt = at(0);
    state.system = "Debian GNU/Linux 12 (bookworm) (kernel 6.1.0)";
    state.snapshot.inputActivityKnown = true;
    const std::string report = diagnosticReport(state, dates);
    EXPECT_FALSE(report.ends_with("\n"));
    const auto lines = linesOf(report);
    const std::vector<std::string> header{
        "Sonorel Doctor diagnostic report",
        "Generated: long 2001-01-01T00:00:00Z",
        "System: Debian GNU/Linux 12 (bookworm) (kernel 6.1.0)",
        "App: 1.0",
        "Monitoring: On",
        "Output: None",
        "Input: None",
        "Input activity: No active input reported",
        "Preferred output: Follow system default",
        "",
        "CHECKS",
        "",
        "RECOVERY",
        "Symptom: Crackles or glitches",
        "Alerts output: Unavailable",
        "Confirmed working output: Not confirmed",
        "Last wake: Not observed",
        "Overloads in last 120 seconds on this output: 0",
        "Undo-eligible settings: 0",
        "",
        "AUDIO USERS (activity does not prove causation)",
        "Process activity complete: false",
        "",
        "DEVICES",
        "",
        "SOUND CARDS",
        "The system lists no sound card.",
        "",
        "APP COMPARISON",
        "App: Not specified",
        "Doctor tone: Not tested on Not tested",
        "Affected app: Not tested",
        "Other output: Not tested",
        AppIsolation{}.guidance(),
        "",
        "RECENT ACTIVITY",
        "",
        "This report describes settings and reported overloads. Doctor does not save audio or confirm audible "
        "crackling automatically. The optional microphone test measures levels only when requested.",
    };
    EXPECT_EQ(lines, header);
}

TEST(diagnostic_report, devices_clients_checks_and_the_newest_fifty_entries)
{
    auto speakers = output(1, "Speakers");
    speakers.outputControls = {control(0, 0.79998f, false), control(1, 0.5f, std::nullopt, true, false)};
    speakers.balance = 0.25f;
    speakers.bufferFrames = 1024;
    speakers.exclusiveOwnerPID = 4242;
    speakers.formats = {AudioStreamFormat{AudioDirection::output, 48000, 32, 2, true}};
    speakers.ports = {{"analog-output-speaker", "Speakers", PortAvailability::unknown, "speaker", 100},
                      {"analog-output-headphones", "Headphones", PortAvailability::unavailable, "headphones", 200}};
    speakers.activePort = "analog-output-speaker";
    auto mic = input(2, "Mic");
    mic.cardName = "bluez_card.00_11";
    auto unnamed = device(3, "", AudioTransport::virtual_);  // no controls, no volume, no mute
    unnamed.sampleRate.reset();
    DiagnosticReportState state;
    state.snapshot = snapshot({speakers, mic, unnamed}, 1, 2, 1);
    state.snapshot.inputIOActive = true;
    state.snapshot.cards = {{"bluez_card.00_11", "Headset", "bluetooth", "headset_head_unit",
                             {{"a2dp_sink", "A2DP", false, 40, 1, 0}}}};
    state.snapshot.hardwareCards = {{0, "HDA Intel PCH", 4242, "jackd", std::nullopt, ""}};
    // A device that went away meanwhile is left out, never shown as a number.
    state.snapshot.clients = {
        AudioClient{9, 77, "Recorder", std::nullopt, {2, 99}, {}, true, false, {1}},
        AudioClient{10, 78, "Player", std::nullopt, {}, {}, false, true, {}},
    };
    state.snapshot.appStreams = {{12, "Player", std::nullopt, 78, 1, 0.7f, true, true, true}};
    state.checks = Diagnostics::checks(state.snapshot, std::nullopt);
    state.preferredOutput = PreferredOutput{"uid-Speakers", "Speakers", false};
    state.lastWake = at(30);
    state.undoChangeCount = 2;
    for (int n = 1; n <= 200; ++n)
        state.history.add(activityEntry(n));

    const auto lines = linesOf(diagnosticReport(state, dates));
    for (const std::string& line : {
             std::string("Output: Speakers"),
             std::string("Input activity: In use"),
             std::string("Preferred output: Speakers"),
             std::string("[Good] Output connection: Speakers is connected and selected."),
             std::string("Alerts output: Speakers"),
             std::string("Last wake: short 2001-01-01T00:00:30Z"),
             std::string("Undo-eligible settings: 2"),
             std::string("Recorder (PID 77) | input: Mic | output: None reported | records what plays on: Speakers"),
             std::string("Player (PID 78) | input: None reported | output: Active, route unknown"),
             std::string("  Player stream 12: plays on Speakers, volume 70%, muted true, paused"),
             std::string("  Ports: Speakers (unknown, active), Headphones (unavailable)"),
             std::string("System card 0: HDA Intel PCH | playback held by jackd (PID 4242)"),
             std::string("Headset (bluez_card.00_11) | bus bluetooth | profile: headset_head_unit (call)"),
             std::string("  profiles: a2dp_sink (unavailable, 1 out, 0 in)"),
             std::string("Speakers | Built-in | in 0, out 2 | 48 kHz | alive true | volume 50% | mute false"),
             std::string(" | Virtual | in 0, out 0 | Unavailable | alive true | volume external | mute unknown"),
             std::string("  Speakers — Buffer: 1024 frames | device-reported budget: Unavailable (not measured "
                         "end-to-end) | exclusive owner PID: 4242"),
             // Mixer-true percentages: PulseAudio's 80 % step reads 80 %, not 79 %.
             std::string("  output Master: volume 80%, mute false, writable volume true, mute true"),
             std::string("  output Channel 1: volume 50%, mute Unavailable, writable volume true, mute false"),
             std::string("  output format: 2 ch · 48 kHz · 32-bit float"),
             std::string("  Stereo balance: 0.25 (0 left, 0.5 center, 1 right)"),
             std::string("  input Master: volume 50%, mute false, writable volume true, mute true"),
             std::string("  Card bluez_card.00_11 profile: headset_head_unit (call)"),
             std::string("   — Buffer: Unavailable | device-reported budget: Unavailable (not measured end-to-end) "
                         "| exclusive owner PID: Unknown"),
         })
        EXPECT_TRUE(has(lines, line)) << line;
    // The device without controls, volume or mute prints no control line.
    const auto unnamedBlock = std::find(lines.begin(), lines.end(), "   — Buffer: Unavailable | device-reported budget: "
                                                                      "Unavailable (not measured end-to-end) | "
                                                                      "exclusive owner PID: Unknown");
    ASSERT_NE(unnamedBlock, lines.end());
    EXPECT_EQ(*(unnamedBlock + 1), "  Stereo balance: Unavailable (0 left, 0.5 center, 1 right)");

    const auto activity = std::find(lines.begin(), lines.end(), "RECENT ACTIVITY");
    ASSERT_NE(activity, lines.end());
    EXPECT_EQ(*(activity + 1), "short 2001-01-01T00:03:20Z — Entry 200: Detail 200");
    EXPECT_EQ(*(activity + 50), "short 2001-01-01T00:02:31Z — Entry 151: Detail 151");
    EXPECT_EQ(*(activity + 51), "");
}

}  // namespace
