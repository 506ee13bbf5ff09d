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

TEST(health_summary, a_repair_in_progress_is_shown_over_faults_and_read_errors)
{
    const auto checks = rows({{CheckKind::output, issue}});
    EXPECT_EQ(headline(checks, true, readError), "Giving your audio a fresh start.");
    EXPECT_EQ(statusLine(checks, true, readError), "Fixing audio");
    EXPECT_EQ(statusSymbolName(checks, true), "arrow.triangle.2.circlepath");
    EXPECT_EQ(consoleHeader(checks, true).label, "REPAIR IN PROGRESS");
    EXPECT_EQ(healthDialCentre(true), (HealthDialCentre{"arrow.trianglehead.2.clockwise.rotate.90", "REPAIRING"}));
}

TEST(health_summary, an_unreadable_configuration_asks_to_reconnect_with_nine_faint_arcs)
{
    auto checks = rows();
    for (auto& check : checks)
        check.state = unknown;
    EXPECT_EQ(headline(checks, false, readError), "Let\u2019s reconnect to your audio.");
    EXPECT_EQ(statusItemLabel(checks, false, readError), "Sonorel Doctor, Audio unavailable");
    EXPECT_EQ(consoleHeader(checks, false),
              (ConsoleHeader{HealthColor::healthy, "AUDIO SERVICE \u00B7 SYSTEM CHECK", "0 / 9 GOOD"}));
    const auto arcs = healthDialArcs(checks);
    EXPECT_EQ(arcs.size(), 9u);
    for (const auto& arc : arcs)
        EXPECT_EQ(arc.color, HealthColor::unknown);
}

TEST(health_summary, a_muted_output_with_nothing_else_wrong_is_reported_as_muted)
{
    const auto checks =
        rows({{CheckKind::volume, note}, {CheckKind::deviceAccess, note}, {CheckKind::stereo, unknown}});
    EXPECT_EQ(headline(checks, false, noError), "Your computer is muted. Everything else looks good.");
    EXPECT_EQ(statusLine(checks, false, noError), "No faults detected. Sound is muted.");
    EXPECT_EQ(statusSymbolName(checks, false), "waveform.path.ecg");
}

TEST(health_summary, a_fault_hides_the_muted_output)
{
    const auto checks = rows({{CheckKind::volume, note}, {CheckKind::sampleRate, warning}});
    EXPECT_EQ(headline(checks, false, noError), "Your audio could use a little care.");
    EXPECT_EQ(statusLine(checks, false, noError), "1 thing to check");
    EXPECT_EQ(statusSymbolName(checks, false), "waveform.badge.exclamationmark");
    EXPECT_EQ(consoleHeader(checks, false).dotColor, HealthColor::attention);
}

TEST(health_summary, notes_and_unavailable_rows_outside_volume_never_ask_for_care)
{
    const auto checks = rows({{CheckKind::output, note}, {CheckKind::bluetooth, note}, {CheckKind::sampleRate, unknown},
                              {CheckKind::playback, unknown}, {CheckKind::alerts, note}});
    EXPECT_EQ(headline(checks, false, noError), "Your audio is looking good.");
    EXPECT_EQ(statusLine(checks, false, noError), "No faults detected");
    EXPECT_EQ(healthDialValue(checks), "4 of 9 checks good");
}

TEST(health_summary, warnings_and_issues_both_count_as_things_to_check)
{
    const auto checks = rows({{CheckKind::output, issue}, {CheckKind::playback, warning}, {CheckKind::stereo, issue},
                              {CheckKind::alerts, note}});
    EXPECT_EQ(statusLine(checks, false, noError), "3 things to check");
    EXPECT_EQ(consoleHeader(checks, false).counter, "5 / 9 GOOD");
}

TEST(health_dial, nine_arcs_each_cover_a_ninth_less_the_gap_in_list_order)
{
    const auto arcs = healthDialArcs(rows({{CheckKind::volume, note}, {CheckKind::bluetooth, warning},
                                           {CheckKind::sampleRate, issue}, {CheckKind::playback, unknown}}));
    ASSERT_EQ(arcs.size(), 9u);
    EXPECT_DOUBLE_EQ(arcs.front().start, 0.015);
    EXPECT_DOUBLE_EQ(arcs.back().end, 1 - 0.015);
    for (const auto& arc : arcs)
        EXPECT_NEAR(arc.end - arc.start, 1.0 / 9 - 0.03, 1e-12);
    for (size_t i = 1; i < arcs.size(); ++i)
        EXPECT_NEAR(arcs[i].start - arcs[i - 1].end, 0.03, 1e-12);
    const std::vector<HealthColor> colors{HealthColor::healthy, HealthColor::note, HealthColor::attention,
                                          HealthColor::attention, HealthColor::unknown, HealthColor::healthy};
    for (size_t i = 0; i < colors.size(); ++i)
        EXPECT_EQ(arcs[i].color, colors[i]) << "arc " << i;
}

}  // namespace
