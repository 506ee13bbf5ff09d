#include "diagnostics/health_summary.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using namespace sonorel;
using namespace sonorel::HealthSummary;
using enum CheckState;

const std::optional<std::string> noError;
const std::optional<std::string> readError = "The audio service is not running.";

// Nine rows in display order, all good unless overridden.
std::vector<DiagnosticCheck> rows(const std::vector<std::pair<CheckKind, CheckState>>& overrides = {})
{
    std::vector<DiagnosticCheck> checks;
    for (CheckKind kind : allCheckKinds)
        checks.push_back({kind, passed, "", std::nullopt});
    for (const auto& [kind, state] : overrides)
        checks[size_t(kind)].state = state;
    return checks;
}

TEST(health_summary, a_repair_in_progress_wins_over_read_errors_which_win_over_faults)
{
    const auto faulty = rows({{CheckKind::output, issue}});
    EXPECT_EQ(headline(faulty, true, readError), "Giving your audio a fresh start.");
    EXPECT_EQ(statusLine(faulty, true, readError), "Fixing audio");
    EXPECT_EQ(headline(faulty, false, readError), "Let\u2019s reconnect to your audio.");
    EXPECT_EQ(statusItemLabel(faulty, false, readError), "Sonorel Doctor, Audio unavailable");
}

TEST(health_summary, a_muted_output_is_reported_only_while_nothing_needs_care)
{
    const auto muted = rows({{CheckKind::volume, note}, {CheckKind::deviceAccess, note}, {CheckKind::stereo, unknown}});
    EXPECT_EQ(headline(muted, false, noError), "Your computer is muted. Everything else looks good.");
    EXPECT_EQ(statusLine(muted, false, noError), "No faults detected. Sound is muted.");
    EXPECT_EQ(statusSymbolName(muted, false), "waveform.path.ecg");

    const auto faulty = rows({{CheckKind::volume, note}, {CheckKind::sampleRate, warning}});
    EXPECT_EQ(headline(faulty, false, noError), "Your audio could use a little care.");
    EXPECT_EQ(statusLine(faulty, false, noError), "1 thing to check");
    EXPECT_EQ(statusSymbolName(faulty, false), "waveform.badge.exclamationmark");
    EXPECT_EQ(consoleHeader(faulty, false).dotColor, HealthColor::attention);
}

TEST(health_summary, only_warnings_and_issues_are_things_to_check)
{
    const auto calm = rows({{CheckKind::output, note}, {CheckKind::bluetooth, note}, {CheckKind::sampleRate, unknown},
                            {CheckKind::playback, unknown}, {CheckKind::alerts, note}});
    EXPECT_EQ(headline(calm, false, noError), "Your audio is looking good.");
    EXPECT_EQ(statusLine(calm, false, noError), "No faults detected");
    EXPECT_EQ(healthDialValue(calm), "4 of 9 checks good");

    const auto faulty = rows({{CheckKind::volume, issue}, {CheckKind::playback, warning}, {CheckKind::stereo, issue},
                              {CheckKind::alerts, note}});
    EXPECT_EQ(statusLine(faulty, false, noError), "3 things to check");
    EXPECT_EQ(consoleHeader(faulty, false).counter, "5 / 9 GOOD");
    // Without a working output, that is what the headline and the tray say.
    const auto silent = rows({{CheckKind::output, issue}, {CheckKind::stereo, issue}});
    EXPECT_EQ(headline(silent, false, noError), "Your sound has no working output.");
    EXPECT_EQ(statusItemLabel(silent, false, noError), "Sonorel Doctor, No working output");
}

TEST(health_dial, nine_arcs_each_cover_a_ninth_less_the_gap_in_list_order)
{
    const auto arcs = healthDialArcs(rows({{CheckKind::volume, note}, {CheckKind::bluetooth, warning},
                                           {CheckKind::sampleRate, issue}, {CheckKind::playback, unknown}}));
    ASSERT_EQ(arcs.size(), 9u);
    for (size_t i = 0; i < arcs.size(); ++i) {
        EXPECT_NEAR(arcs[i].start, double(i) / 9 + 0.015, 1e-12) << "arc " << i;
        EXPECT_NEAR(arcs[i].end, double(i + 1) / 9 - 0.015, 1e-12) << "arc " << i;
    }
    const std::vector<HealthColor> colors{HealthColor::healthy, HealthColor::note, HealthColor::attention,
                                          HealthColor::attention, HealthColor::unknown, HealthColor::healthy};
    for (size_t i = 0; i < colors.size(); ++i)
        EXPECT_EQ(arcs[i].color, colors[i]) << "arc " << i;
}

}  // namespace
