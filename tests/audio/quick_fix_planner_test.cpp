#include "audio/quick_fix_planner.h"
#include "diagnostics/diagnostics.h"
#include "support/snapshot_fixtures.h"

#include <gtest/gtest.h>

namespace {

using namespace sonorel;
using enum RepairAction;
using enum CheckKind;
using enum CheckState;
using Plan = std::vector<RepairAction>;

// Built-in speakers only: reselection cannot run.
AudioSnapshot speakersOnly()
{
    return fixtures::snapshot({fixtures::output(1, "Built-in Audio")}, 1, 0, 1);
}

// Bluetooth headphones as the output beside mutable speakers: reselection can run.
AudioSnapshot headphonesAndSpeakers()
{
    return fixtures::snapshot({fixtures::output(1, "Built-in Audio"),
                               fixtures::output(2, "Headphones", AudioTransport::bluetooth)},
                              2, 0, 2);
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

TEST(quick_fix_plan, no_sound_restores_the_output_then_the_volume_else_restarts)
{
    expectPlans(RepairIntent::noSound, {
        // A healthy system leaves only the restart.
        {{row(output, passed), row(volume, passed)}, {restartAudio}},
        // Output first, then sound, whatever the row order.
        {{row(volume, note, unmute), row(output, issue, restoreOutput)}, {restoreOutput, unmute}},
        // A preferred output elsewhere is a choice, not missing sound.
        {{row(output, note, restoreOutput)}, {restartAudio}},
        // The mute row counts as a note; no restart once something fits.
        {{row(output, passed), row(volume, note, unmute)}, {unmute}},
        // A card turned off or an unplugged connector is what the output row offers.
        {{row(output, issue, turnOnOutput), row(volume, note, unmute)}, {turnOnOutput, unmute}},
        {{row(output, issue, switchOutputPort)}, {switchOutputPort}},
    });
}

TEST(quick_fix_plan, playback_runs_what_non_note_rows_offer_in_a_fixed_order)
{
    expectPlans(RepairIntent::playback, {
        {{row(playback, issue, restartAudio), row(sampleRate, warning, normalizeRate),
          row(output, issue, restoreOutput)},
         {restoreOutput, normalizeRate, restartAudio}},
        // Settings first: nothing else runs while Bluetooth needs the user.
        {{row(output, issue, restoreOutput), row(bluetooth, issue, openBluetooth), row(playback, issue, restartAudio)},
         {openBluetooth}},
        // Microphone, stereo and alert rows do not explain crackles.
        {{row(microphone, issue, restoreInput), row(stereo, warning, restoreStereo), row(alerts, warning, alignAlerts)},
         {restartAudio}},
        // A preferred output elsewhere is a note, not a fault.
        {{row(output, note, restoreOutput)}, {restartAudio}},
        // A muted note is the fix only when nothing else is offered.
        {{row(volume, note, unmute)}, {unmute}},
        {{row(volume, note, unmute), row(sampleRate, warning, normalizeRate)}, {normalizeRate}},
    });
}

TEST(quick_fix_plan, playback_on_reselectable_headphones_reselects_instead_of_restarting)
{
    expectPlans(RepairIntent::playback, {
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

TEST(quick_fix_plan, symptom_intents_run_only_their_own_row_and_one_app_only_its_own_streams)
{
    expectPlans(RepairIntent::bluetooth, {
        {{row(bluetooth, issue, useBuiltInMic)}, {useBuiltInMic}, true},
        {{row(bluetooth, passed), row(playback, issue, restartAudio)}, {reselectOutput}, true},
        {{row(bluetooth, passed)}, {}},
    });
    expectPlans(RepairIntent::microphone, {{{row(microphone, issue, restoreInput)}, {restoreInput}},
                                           {{row(microphone, issue, switchInputPort)}, {switchInputPort}},
                                           {{row(microphone, issue), row(playback, issue, restartAudio)}, {}}});
    // Rows that look intentional still count when the user names the symptom.
    expectPlans(RepairIntent::stereo, {{{row(stereo, note, restoreStereo)}, {restoreStereo}}});
    expectPlans(RepairIntent::alerts, {{{row(alerts, note, alignAlerts)}, {alignAlerts}},
                                       {{row(alerts, note), row(output, issue, restoreOutput)}, {}}});
    expectPlans(RepairIntent::appOnly, {{{row(output, issue, restoreOutput), row(playback, issue, restartAudio)}, {},
                                         true}});
    // An app's own mute, zero level and other output; a stream on the default plays.
    auto apps = speakersOnly();
    apps.devices.push_back(fixtures::output(2, "HDMI", AudioTransport::display));
    apps.appStreams = {{7, "Firefox", std::nullopt, 70, 1, 0.8f, true, true, false},
                       {8, "VLC", std::nullopt, 80, 2, 0.0f, false, true, true}};
    EXPECT_EQ(quickFixPlan({}, RepairIntent::appOnly, apps, std::nullopt),
              (Plan{unmuteApp, raiseAppVolume, moveAppToOutput}));
    // With no real output to move to, apps stay where they are.
    apps.devices[0].isPlaceholder = true;
    EXPECT_EQ(quickFixPlan({}, RepairIntent::appOnly, apps, std::nullopt), (Plan{unmuteApp, raiseAppVolume}));
}

TEST(quick_fix_plan, after_wake_restores_the_last_working_output_only_when_it_is_connected)
{
    auto snapshot = headphonesAndSpeakers();
    const auto plan = [&](std::optional<PreferredOutput> last) {
        return quickFixPlan(Diagnostics::checks(snapshot, std::nullopt), RepairIntent::afterWake, snapshot, last);
    };
    const PreferredOutput headphones{"uid-Headphones", "Headphones", true};
    EXPECT_EQ(plan(headphones), Plan{restoreLastOutput});
    EXPECT_EQ(plan(PreferredOutput{"uid-Desk Speakers", "Desk Speakers", false}), Plan{});
    EXPECT_EQ(plan(std::nullopt), Plan{});
    // A device the system still lists but that is not alive is not connected.
    snapshot.devices[1].isAlive = false;
    EXPECT_EQ(plan(headphones), Plan{});
}

TEST(quick_fix_plan, diagnosed_crackles_on_headphones_reselect_and_diagnosed_mute_only_unmutes)
{
    auto crackles = headphonesAndSpeakers();
    crackles.overloadDates = {fixtures::at(970)};
    const auto crackleChecks = Diagnostics::checks(crackles, std::nullopt);
    EXPECT_EQ(quickFixPlan(crackleChecks, RepairIntent::playback, crackles, std::nullopt), Plan{reselectOutput});

    auto muted = speakersOnly();
    muted.devices[0].isMuted = true;
    const auto mutedChecks = Diagnostics::checks(muted, std::nullopt);
    EXPECT_EQ(quickFixPlan(mutedChecks, RepairIntent::noSound, muted, std::nullopt), Plan{unmute});
    EXPECT_EQ(quickFixPlan(mutedChecks, RepairIntent::playback, muted, std::nullopt), Plan{unmute});
}

}  // namespace
