#include "support/repair_harness.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace sonorel;
using namespace sonorel::testing;

namespace {

const std::string unreadable = "The audio service is unavailable. Try checking again or restart the audio service.";
const std::string rejected =
    "The audio service rejected the change (-50). The device may have disconnected or be controlled by another app.";

}  // namespace

class repair_coordinator : public RepairHarness {};

TEST_F(repair_coordinator, a_failed_reading_stops_every_repair_but_the_restart_with_its_own_text)
{
    // Unmute, for one, would write something on a readable server.
    device(headphonesID).isMuted = true;
    audio.state.readError = unreadable;
    for (int a = 0; a <= int(RepairAction::restoreLastOutput); ++a) {
        const auto action = RepairAction(a);
        if (action == RepairAction::restartAudio)
            continue;
        EXPECT_EQ(outcome(action, PreferredOutput{speakers, "Speakers"}, PreferredOutput{speakers, "Speakers"}),
                  unreadable)
            << caseName(action);
        EXPECT_TRUE(coordinator.lastChanges().empty());
    }
    EXPECT_TRUE(audio.writes.empty());
    EXPECT_EQ(restarter.restarts, 0);
}

TEST_F(repair_coordinator, restart_on_a_failed_reading_refuses_only_while_input_runs)
{
    audio.state.readError = unreadable;
    device(headsetID).isRunningInput = true;
    EXPECT_EQ(outcome(RepairAction::restartAudio), sentence::recordingActive);
    EXPECT_EQ(restarter.restarts, 0);

    // A failed reading cannot know its input activity; that test is skipped.
    resetServer();
    audio.failRead(audio.reads + 1, unreadable);
    // Nothing was known about the old output, so the built-in fallback is chosen.
    EXPECT_EQ(outcome(RepairAction::restartAudio),
              "The audio service restarted and Speakers is selected. Play your audio again to check the result.");
    EXPECT_EQ(restarter.restarts, 1);
    EXPECT_EQ(pause.count, 1);
    EXPECT_EQ(audio.writes, std::vector<S>{S::Output{speakers}});
}

TEST_F(repair_coordinator, input_that_starts_during_a_repair_is_refused_before_any_write)
{
    device(microphoneID).inputControls = {fixtures::control(0, 0.0f, false)};
    // Reading 1 is the repair's own; reading 2 is the guard just before the write.
    audio.beforeRead(2, [](AudioSnapshot& s) { s.devices[2].isRunningInput = true; });

    EXPECT_EQ(outcome(RepairAction::restoreInput), sentence::recordingActive);
    EXPECT_TRUE(audio.writes.empty());
    EXPECT_TRUE(coordinator.lastChanges().empty());
}

TEST_F(repair_coordinator, output_levels_are_still_written_while_a_call_records)
{
    // Only input-side changes can interrupt a recording.
    device(headsetID).isRunningInput = true;
    device(headphonesID).isMuted = true;

    EXPECT_TRUE(outcome(RepairAction::unmute).starts_with("Output is unmuted."));
    EXPECT_EQ(audio.writes, std::vector<S>{(S::Mute{headphones, outputSide, 0, false})});
}

TEST_F(repair_coordinator, a_write_refused_midway_stops_the_rest_and_the_first_stays_undoable)
{
    auto& phones = device(headphonesID);
    phones.outputControls = {fixtures::control(1, 0.0f, false), fixtures::control(2, 0.7f, false)};
    phones.stereoChannels = {1, 2};
    phones.balance = 0.6f;
    phones.canSetBalance = true;
    audio.refuseWrites(settingsOf<S::Balance>(), AudioRepairError::system(rejected));

    EXPECT_EQ(outcome(RepairAction::restoreStereo), rejected);
    const S silent = S::Volume{headphones, outputSide, 1, 0.0f}, left = S::Volume{headphones, outputSide, 1, 0.7f};
    EXPECT_EQ(audio.writes, std::vector<S>{left});
    ASSERT_EQ(coordinator.lastChanges(), (std::vector<Change>{{silent, left}}));

    EXPECT_EQ(undo(coordinator.lastChanges()), "undone");
    EXPECT_EQ(audio.writes.back(), silent);
    EXPECT_EQ(device(headphonesID).outputControls[0].volume, 0.0f);
}

TEST_F(repair_coordinator, another_apps_edit_is_neither_recorded_nor_undone)
{
    device(headphonesID).isMuted = true;
    // Between the repair's first reading and its last, another app raises the volume.
    audio.beforeRead(2, [](AudioSnapshot& s) { s.devices[1].volume = 0.8f; });
    const S muted = S::Mute{headphones, outputSide, 0, true}, unmuted = S::Mute{headphones, outputSide, 0, false};

    outcome(RepairAction::unmute);
    EXPECT_EQ(coordinator.lastChanges(), (std::vector<Change>{{muted, unmuted}}));
    EXPECT_EQ(undo(coordinator.lastChanges()), "undone");
    EXPECT_EQ(audio.writes, (std::vector<S>{unmuted, muted}));
    EXPECT_EQ(device(headphonesID).volume, 0.8f);
}

TEST_F(repair_coordinator, a_cancelled_pause_ends_the_repair_and_still_records_the_write)
{
    device(headphonesID).sampleRate = 44100;
    // The rate shows from the third reading after the write, just after the cancel.
    audio.slowWrites(settingsOf<S::Rate>(), 2);
    pause.throwDuring(2, std::make_exception_ptr(std::runtime_error("task cancelled")));

    EXPECT_THROW(outcome(RepairAction::normalizeRate), std::runtime_error);
    EXPECT_EQ(audio.writes, std::vector<S>{(S::Rate{headphones, 48000})});
    EXPECT_EQ(coordinator.lastChanges(),
              (std::vector<Change>{{S::Rate{headphones, 44100}, S::Rate{headphones, 48000}}}));
}

class repair_coordinator_undo : public RepairHarness {
protected:
    // A repair moved the output from the speakers to the headphones, then
    // unmuted the headphones and raised them from silence.
    void SetUp() override
    {
        audio.state.outputID = headphonesID;
        device(headphonesID).volume = 0.25f;
    }
    const std::vector<Change> repaired{
        {S::Mute{headphones, outputSide, 0, true}, S::Mute{headphones, outputSide, 0, false}},
        {S::Output{speakers}, S::Output{headphones}},
        {S::Volume{headphones, outputSide, 0, 0.0f}, S::Volume{headphones, outputSide, 0, 0.25f}},
    };
};

TEST_F(repair_coordinator_undo, restores_the_default_output_first_then_the_rest_last_change_first)
{
    EXPECT_EQ(undo(repaired), "undone");
    EXPECT_EQ(audio.writes, (std::vector<S>{S::Output{speakers}, S::Volume{headphones, outputSide, 0, 0.0f},
                                            S::Mute{headphones, outputSide, 0, true}}));
    EXPECT_EQ(audio.state.outputID, speakersID);
}

TEST_F(repair_coordinator_undo, stops_at_a_change_made_between_two_of_its_writes)
{
    const Change inputLevel{S::Volume{microphone, inputSide, 0, 0.0f}, S::Volume{microphone, inputSide, 0, 0.5f}};
    // Reading 1 is the still-current test, 2 and 3 surround the output write,
    // 4 is taken just before the second write.
    audio.beforeRead(4, [](AudioSnapshot& s) { s.devices[1].volume = 0.6f; });
    EXPECT_EQ(undo({repaired[1], repaired[2]}), sentence::settingsChanged);
    EXPECT_EQ(audio.writes, std::vector<S>{S::Output{speakers}});

    resetServer();
    SetUp();
    // A recording starts before an input level is written.
    audio.beforeRead(audio.reads + 4, [](AudioSnapshot& s) { s.devices[2].isRunningInput = true; });
    EXPECT_EQ(undo({repaired[1], inputLevel}), sentence::recordingActive);
    EXPECT_EQ(audio.writes, std::vector<S>{S::Output{speakers}});
}

TEST_F(repair_coordinator_undo, refuses_before_any_write_when_it_cannot_be_done_safely)
{
    struct Case {
        const char* why;
        std::function<void(AudioSnapshot&)> server;
        std::vector<Change> changes;
        std::string error;
    };
    const std::vector<Case> cases{
        {"nothing to undo", [](AudioSnapshot&) {}, {}, sentence::unsupported},
        {"the reading fails: its own words, not an edit to look for", [](AudioSnapshot& s) { s.readError = unreadable; },
         repaired, unreadable},
        {"the user moved a volume the repair raised", [](AudioSnapshot& s) { s.devices[1].volume = 0.4f; },
         repaired, sentence::settingsChanged},
        {"the output to restore is unplugged", [](AudioSnapshot& s) { s.devices[0].isAlive = false; }, repaired,
         sentence::deviceGone},
        {"the alert output to restore is still listed but dead", [](AudioSnapshot& s) { s.devices[3].isAlive = false; },
         {repaired[1], {S::Alerts{headset}, S::Alerts{headphones}}}, sentence::deviceGone},
        {"switching the output would interrupt a call", [](AudioSnapshot& s) { s.inputIOActive = true; }, repaired,
         sentence::recordingActive},
        {"input activity is unknown", [](AudioSnapshot& s) { s.inputActivityKnown = false; }, repaired,
         sentence::inputActivityUnknown},
    };
    for (const auto& c : cases) {
        resetServer();
        SetUp();
        c.server(audio.state);
        EXPECT_EQ(undo(c.changes), c.error) << c.why;
        EXPECT_TRUE(audio.writes.empty()) << c.why;
    }
}
