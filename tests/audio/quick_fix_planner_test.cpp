#include "audio/quick_fix_planner.h"
#include "diagnostics/diagnostics.h"
#include "support/snapshot_fixtures.h"

#include <gtest/gtest.h>

#include <ostream>

namespace sonorel {

// Failures list plans by action name.
static void PrintTo(RepairAction action, std::ostream* os)
{
    *os << caseName(action);
}

}  // namespace sonorel

namespace {

using namespace sonorel;
using enum RepairAction;
using enum CheckKind;
using enum CheckState;
using Plan = std::vector<RepairAction>;

constexpr AudioObjectID speakersID = 1;
constexpr AudioObjectID headphonesID = 2;

// Built-in speakers only: reselection cannot run.
AudioSnapshot speakersOnly()
{
    return fixtures::snapshot({fixtures::output(speakersID, "Built-in Audio")}, speakersID, 0, speakersID);
}

// Bluetooth headphones as the output beside mutable speakers: reselection can run.
AudioSnapshot headphonesAndSpeakers()
{
    return fixtures::snapshot({fixtures::output(speakersID, "Built-in Audio"),
                               fixtures::output(headphonesID, "Headphones", AudioTransport::bluetooth)},
                              headphonesID, 0, headphonesID);
}

DiagnosticCheck row(CheckKind kind, CheckState state, std::optional<RepairAction> action = std::nullopt)
{
    return DiagnosticCheck{kind, state, "detail", action};
}

struct Case {
    std::vector<DiagnosticCheck> checks;
    Plan plan;
    bool reselectable = false;
};

void expectPlans(RepairIntent intent, const std::vector<Case>& cases)
{
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto snapshot = cases[i].reselectable ? headphonesAndSpeakers() : speakersOnly();
        EXPECT_EQ(quickFixPlan(cases[i].checks, intent, snapshot, std::nullopt), cases[i].plan)
            << caseName(intent) << " case " << i;
    }
}

TEST(quick_fix_plan_test, no_sound_restores_the_output_then_the_volume_else_restarts)
{
    expectPlans(RepairIntent::noSound,
                {
                    // A healthy system leaves only the restart.
                    {{row(output, passed), row(volume, passed)}, {restartAudio}},
                    // Output first, then sound, whatever the row order.
                    {{row(volume, note, unmute), row(output, issue, restoreOutput)}, {restoreOutput, unmute}},
                    // A preferred output elsewhere is a choice, not missing sound.
                    {{row(output, note, restoreOutput)}, {restartAudio}},
                    // The mute row counts as a note; no restart once something fits.
                    {{row(output, passed), row(volume, note, unmute)}, {unmute}},
                });
}

TEST(quick_fix_plan_test, playback_runs_what_non_note_rows_offer_in_a_fixed_order)
{
    expectPlans(RepairIntent::playback,
                {
                    {{row(playback, issue, restartAudio), row(sampleRate, warning, normalizeRate),
                      row(output, issue, restoreOutput)},
                     {restoreOutput, normalizeRate, restartAudio}},
                    // Settings first: nothing else runs while Bluetooth needs the user.
                    {{row(output, issue, restoreOutput), row(bluetooth, issue, openBluetooth),
                      row(playback, issue, restartAudio)},
                     {openBluetooth}},
                    // Microphone, stereo and alert rows do not explain crackles.
                    {{row(microphone, issue, restoreInput), row(stereo, warning, restoreStereo),
                      row(alerts, warning, alignAlerts)},
                     {restartAudio}},
                    // A preferred output elsewhere is a note, not a fault.
                    {{row(output, note, restoreOutput)}, {restartAudio}},
                    // A muted note is the fix only when nothing else is offered.
                    {{row(volume, note, unmute)}, {unmute}},
                    {{row(volume, note, unmute), row(sampleRate, warning, normalizeRate)}, {normalizeRate}},
                });
}

TEST(quick_fix_plan_test, playback_on_reselectable_headphones_reselects_instead_of_restarting)
{
    expectPlans(RepairIntent::playback,
                {
                    {{row(playback, issue, restartAudio)}, {reselectOutput}, true},
                    {{row(playback, issue, restartAudio), row(output, issue, restoreOutput)},
                     {restoreOutput, reselectOutput},
                     true},
                    // Nothing offered: the gentle reselection, not the restart.
                    {{row(playback, passed)}, {reselectOutput}, true},
                    // Call mode is fixed by the microphone; the restart stays the last resort.
                    {{row(bluetooth, issue, useBuiltInMic), row(playback, issue, restartAudio)},
                     {useBuiltInMic, restartAudio},
                     true},
                    // The muted note alone stays alone.
                    {{row(volume, note, unmute)}, {unmute}, true},
                });
}

TEST(quick_fix_plan_test, symptom_intents_run_only_their_own_row)
{
    expectPlans(RepairIntent::bluetooth,
                {
                    {{row(bluetooth, issue, useBuiltInMic)}, {useBuiltInMic}, true},
                    {{row(bluetooth, passed), row(playback, issue, restartAudio)}, {reselectOutput}, true},
                    {{row(bluetooth, passed)}, {}},
                });
    expectPlans(RepairIntent::microphone, {{{row(microphone, issue, restoreInput)}, {restoreInput}},
                                           {{row(microphone, issue), row(playback, issue, restartAudio)}, {}}});
    // Rows that look intentional still count when the user names the symptom.
    expectPlans(RepairIntent::stereo, {{{row(stereo, note, restoreStereo)}, {restoreStereo}},
                                       {{row(stereo, warning)}, {}}});
    expectPlans(RepairIntent::alerts, {{{row(alerts, note, alignAlerts)}, {alignAlerts}},
                                       {{row(alerts, note), row(output, issue, restoreOutput)}, {}}});
}

TEST(quick_fix_plan_test, one_app_only_never_repairs)
{
    const std::vector<DiagnosticCheck> everything = {row(output, issue, restoreOutput), row(volume, note, unmute),
                                                     row(playback, issue, restartAudio)};
    EXPECT_EQ(quickFixPlan(everything, RepairIntent::appOnly, headphonesAndSpeakers(),
                           PreferredOutput{"uid-Headphones", "Headphones", true}),
              Plan{});
}

TEST(quick_fix_plan_test, after_wake_restores_the_last_working_output_only_when_it_is_connected)
{
    const auto snapshot = headphonesAndSpeakers();
    const std::vector<DiagnosticCheck> checks = Diagnostics::checks(snapshot, std::nullopt);
    auto plan = [&](std::optional<PreferredOutput> last, const AudioSnapshot& s) {
        return quickFixPlan(checks, RepairIntent::afterWake, s, last);
    };
    EXPECT_EQ(plan(PreferredOutput{"uid-Headphones", "Headphones", true}, snapshot), Plan{restoreLastOutput});
    EXPECT_EQ(plan(PreferredOutput{"uid-Desk Speakers", "Desk Speakers", false}, snapshot), Plan{});
    EXPECT_EQ(plan(std::nullopt, snapshot), Plan{});
    // A device the system still lists but that is not alive is not connected.
    auto asleep = snapshot;
    asleep.devices[1].isAlive = false;
    EXPECT_EQ(plan(PreferredOutput{"uid-Headphones", "Headphones", true}, asleep), Plan{});
}

TEST(quick_fix_plan_test, diagnosed_crackles_on_headphones_plan_a_reselection)
{
    auto snapshot = headphonesAndSpeakers();
    snapshot.overloadDates = {fixtures::at(970)};
    const auto checks = Diagnostics::checks(snapshot, std::nullopt);
    ASSERT_EQ(checks[4].action, restartAudio);
    EXPECT_EQ(quickFixPlan(checks, RepairIntent::playback, snapshot, std::nullopt), Plan{reselectOutput});
    EXPECT_EQ(quickFixPlan(checks, RepairIntent::bluetooth, snapshot, std::nullopt), Plan{reselectOutput});
}

TEST(quick_fix_plan_test, diagnosed_call_mode_switches_the_microphone_before_anything_else)
{
    auto snapshot = headphonesAndSpeakers();
    snapshot.devices[1].sampleRate = 16000;
    auto headsetInput = fixtures::input(3, "Headphones", AudioTransport::bluetooth);
    headsetInput.uid = "uid-Headphones-input";
    snapshot.devices.push_back(headsetInput);
    snapshot.devices.push_back(fixtures::input(4, "Built-in Microphone"));
    snapshot.inputID = 3;
    snapshot.overloadDates = {fixtures::at(970)};
    const auto checks = Diagnostics::checks(snapshot, std::nullopt);
    EXPECT_EQ(quickFixPlan(checks, RepairIntent::playback, snapshot, std::nullopt),
              (Plan{useBuiltInMic, restartAudio}));
    EXPECT_EQ(quickFixPlan(checks, RepairIntent::bluetooth, snapshot, std::nullopt), Plan{useBuiltInMic});
}

TEST(quick_fix_plan_test, diagnosed_muted_speakers_plan_only_the_unmute)
{
    auto snapshot = speakersOnly();
    snapshot.devices[0].isMuted = true;
    const auto checks = Diagnostics::checks(snapshot, std::nullopt);
    EXPECT_EQ(quickFixPlan(checks, RepairIntent::noSound, snapshot, std::nullopt), Plan{unmute});
    EXPECT_EQ(quickFixPlan(checks, RepairIntent::playback, snapshot, std::nullopt), Plan{unmute});
}

}  // namespace
