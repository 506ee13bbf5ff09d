#include "support/repair_harness.h"

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::testing;

namespace {

const std::string unmutedAndRaised = "Output is unmuted. A zero volume was raised to 25%.";
const std::string stereoRestored = "Supported stereo controls restored. Play the left/right test to check both sides.";
const std::string recovered = "The audio service restarted and Headphones recovered.";
const std::string listenForCrackles = " Play your audio again to check whether the crackling stopped.";

}  // namespace

class repair_actions : public RepairHarness {};

TEST_F(repair_actions, a_change_that_does_not_read_back_is_not_reported_as_done)
{
    const auto keepsOldDefaults = [](ScriptedAudioSystem& server) {
        server.slowWrites(settingsOf<S::Output>(), 1000);
        server.slowWrites(settingsOf<S::Input>(), 1000);
    };
    const std::vector<std::tuple<RepairAction, std::function<void(ScriptedAudioSystem&)>, std::vector<S>>> rows{
        {RepairAction::restoreOutput, keepsOldDefaults, {S::Output{speakers}}},
        {RepairAction::useBuiltInMic,
         [&](ScriptedAudioSystem& server) {
             server.state.inputID = headsetID;
             keepsOldDefaults(server);
         },
         {S::Input{microphone}}},
        {RepairAction::unmute,
         [](ScriptedAudioSystem& server) {
             server.state.devices[1].isMuted = true;
             server.slowWrites(settingsOf<S::Mute>(), 1000);
         },
         {S::Mute{headphones, outputSide, 0, false}}},
        // Another app takes the output right after the unmute was verified.
        {RepairAction::unmute,
         [](ScriptedAudioSystem& server) {
             server.state.devices[1].isMuted = true;
             server.beforeRead(3, [](AudioSnapshot& s) { s.outputID = speakersID; });
         },
         {S::Mute{headphones, outputSide, 0, false}}},
        // The service comes back on the speakers and keeps them at every reselection.
        {RepairAction::restartAudio,
         [&](ScriptedAudioSystem& server) {
             server.beforeRead(2, [](AudioSnapshot& s) { s.outputID = speakersID; });
             keepsOldDefaults(server);
         },
         std::vector<S>(20, S::Output{headphones})},
    };
    for (const auto& [action, script, writes] : rows) {
        // Each row scripts a server of its own.
        ScriptedAudioSystem server(initialState());
        RepairCoordinator repair(server, restarter, std::ref(pause));
        script(server);
        EXPECT_EQ(sentenceOf([&] { return runNow(repair.perform(action, std::nullopt, std::nullopt)); }),
                  sentence::recoveryFailed)
            << caseName(action);
        EXPECT_EQ(server.writes, writes) << caseName(action);
    }
}

TEST_F(repair_actions, input_sensitive_repairs_refuse_while_input_runs_or_is_unknown)
{
    for (auto action : {RepairAction::useBuiltInMic, RepairAction::restoreLastOutput, RepairAction::normalizeRate,
                        RepairAction::restoreInput, RepairAction::restartAudio}) {
        for (bool known : {true, false}) {
            resetServer();
            // Without the guard, each of these repairs would write or restart.
            audio.state.outputID = speakersID;
            audio.state.inputID = headsetID;
            device(speakersID).sampleRate = 44100;
            device(headsetID).inputControls[0].volume = 0.0f;
            device(headsetID).isRunningInput = known;
            audio.state.inputActivityKnown = known;

            EXPECT_EQ(outcome(action, std::nullopt, PreferredOutput{headphones, "Headphones"}),
                      known ? sentence::recordingActive : sentence::inputActivityUnknown)
                << caseName(action);
            EXPECT_TRUE(audio.writes.empty());
        }
    }
    EXPECT_EQ(restarter.restarts, 0);
}

TEST_F(repair_actions, restore_output_without_a_preference_selects_the_built_in_output_undoably)
{
    audio.state.devices.push_back(fixtures::output(5, "Null Output", AudioTransport::virtual_));
    audio.state.outputID = 5;
    EXPECT_EQ(outcome(RepairAction::restoreOutput), "Sound is routed to Speakers.");
    // A device selected outside the verified writes is still undoable.
    EXPECT_EQ(coordinator.lastChanges(), (std::vector<Change>{{S::Output{"uid-Null Output"}, S::Output{speakers}}}));
}

TEST_F(repair_actions, unmute_touches_only_a_muted_or_silent_main_control)
{
    struct Row {
        bool muted;
        float volume;
        std::vector<S> writes;
        std::string message;  // says only what was done
    };
    const S unmute = S::Mute{headphones, outputSide, 0, false};
    const S raise = S::Volume{headphones, outputSide, 0, 0.25f};
    const std::vector<Row> rows{
        {true, 0.6f, {unmute}, "Output is unmuted. Existing volume was preserved."},
        {false, 0.001f, {raise}, "A zero output volume was raised to 25%."},
        {true, 0.0f, {unmute, raise}, unmutedAndRaised},
    };
    for (const auto& row : rows) {
        resetServer();
        auto& phones = device(headphonesID);
        phones.isMuted = row.muted;
        phones.volume = row.volume;

        EXPECT_EQ(outcome(RepairAction::unmute), row.message) << row.volume;
        EXPECT_EQ(audio.writes, row.writes);
    }

    // With a main element, the channel levels are left alone.
    resetServer();
    device(headphonesID).isMuted = true;
    device(headphonesID).volume = 0.0f;
    device(headphonesID).outputControls = {fixtures::control(0, 0.0f, true), fixtures::control(1, 0.0f, std::nullopt)};
    EXPECT_EQ(outcome(RepairAction::unmute), unmutedAndRaised);
    EXPECT_EQ(audio.writes, (std::vector<S>{unmute, raise}));
}

class repair_actions_rate : public RepairHarness {
protected:
    // The headphones run at 44.1 kHz and accept 48 kHz.
    void SetUp() override { device(headphonesID).sampleRate = 44100; }
};

TEST_F(repair_actions_rate, waits_one_pause_per_look_until_the_new_rate_shows)
{
    // Hidden from three readings, so it shows in the fourth look, after three pauses.
    audio.slowWrites(settingsOf<S::Rate>(headphones), 3);
    // A failed look is one more look, not a switched output.
    audio.failRead(3);

    EXPECT_EQ(outcome(RepairAction::normalizeRate), "Output format is now 48 kHz.");
    EXPECT_EQ(pause.count, 3);
    EXPECT_EQ(coordinator.lastChanges(),
              (std::vector<Change>{{S::Rate{headphones, 44100}, S::Rate{headphones, 48000}}}));
}

TEST_F(repair_actions_rate, gives_up_after_the_tenth_look_or_when_the_output_is_switched)
{
    audio.slowWrites(settingsOf<S::Rate>(headphones), 1000);
    EXPECT_EQ(outcome(RepairAction::normalizeRate), sentence::recoveryFailed);
    EXPECT_EQ(pause.count, 9);
    EXPECT_EQ(audio.writes, std::vector<S>{(S::Rate{headphones, 48000})});

    pause.during(10, [this] { audio.state.outputID = speakersID; });
    EXPECT_EQ(outcome(RepairAction::normalizeRate), sentence::settingsChanged);
    EXPECT_EQ(pause.count, 10);
}

TEST_F(repair_actions, restart_recovery_gives_up_after_twenty_checks_without_the_old_output)
{
    restarter.onRestart = [this] {
        device(headphonesID).isAlive = false;
        audio.state.outputID = speakersID;
    };

    EXPECT_EQ(outcome(RepairAction::restartAudio), sentence::recoveryFailed);
    EXPECT_EQ(restarter.restarts, 1);
    EXPECT_EQ(pause.count, 20);
    // The speakers the service fell back to are not a substitute for the headphones.
    EXPECT_TRUE(audio.writes.empty());
}

TEST_F(repair_actions, restart_recovery_waits_for_a_readable_server_then_restores_output_and_microphone)
{
    restarter.onRestart = [this] {
        audio.state.outputID = speakersID;
        audio.state.inputID = headsetID;
        audio.state.inputActivityKnown = false;
    };
    // First look: the service is still down. Second: it cannot tell whether input runs.
    audio.failRead(2);
    pause.during(3, [this] { audio.state.inputActivityKnown = true; });

    EXPECT_EQ(outcome(RepairAction::restartAudio), recovered + listenForCrackles);
    EXPECT_EQ(pause.count, 3);
    EXPECT_EQ(audio.writes, (std::vector<S>{S::Output{headphones}, S::Input{microphone}}));
}

TEST_F(repair_actions, restart_recovery_leaves_a_busy_microphone_alone_and_says_so)
{
    restarter.onRestart = [this] {
        audio.state.outputID = speakersID;
        audio.state.inputID = headsetID;
        device(headsetID).isRunningInput = true;
    };

    EXPECT_EQ(outcome(RepairAction::restartAudio),
              recovered + " Your microphone was not switched back to Built-in Microphone because an input is in use."
                  + listenForCrackles);
    EXPECT_EQ(audio.writes, std::vector<S>{S::Output{headphones}});
}

TEST_F(repair_actions, a_cancelled_restart_changes_nothing)
{
    restarter.error = AudioRepairError::cancelled();

    EXPECT_EQ(outcome(RepairAction::restartAudio), sentence::cancelled);
    EXPECT_EQ(pause.count, 0);
    EXPECT_TRUE(audio.writes.empty());
}

TEST_F(repair_actions, restore_input_raises_only_silent_levels_and_unmutes)
{
    device(microphoneID).inputControls = {fixtures::control(0, 0.0f, false), fixtures::control(1, 0.3f, true)};

    EXPECT_EQ(outcome(RepairAction::restoreInput),
              "Microphone controls restored. Nonzero input levels were preserved; zero levels were raised to 50%. "
              "Test your voice and the affected app's permission.");
    EXPECT_EQ(audio.writes,
              (std::vector<S>{S::Volume{microphone, inputSide, 0, 0.5f}, S::Mute{microphone, inputSide, 1, false}}));
}

TEST_F(repair_actions, restore_stereo_raises_a_silent_side_to_the_other_and_centres_a_clear_imbalance)
{
    struct Row {
        float left, right, balance;
        std::vector<S> writes;
    };
    const auto left = [this](float v) { return S(S::Volume{headphones, outputSide, 1, v}); };
    const auto right = [this](float v) { return S(S::Volume{headphones, outputSide, 2, v}); };
    const std::vector<Row> rows{
        {0.0f, 0.7f, 0.5f, {left(0.7f)}},
        {0.0f, 0.0f, 0.5f, {left(0.25f), right(0.25f)}},
        // 0.505 is within a hundredth of centre; 0.52 is not.
        {0.0f, 0.7f, 0.505f, {left(0.7f)}},
        {0.6f, 0.6f, 0.52f, {S::Balance{headphones, 0.5f}}},
    };
    for (const auto& row : rows) {
        resetServer();
        auto& phones = device(headphonesID);
        // The silent rear channel is not part of the stereo pair.
        phones.outputControls = {fixtures::control(1, row.left, false), fixtures::control(2, row.right, false),
                                 fixtures::control(3, 0.0f, false)};
        phones.stereoChannels = {1, 2};
        phones.balance = row.balance;
        phones.canSetBalance = true;

        EXPECT_EQ(outcome(RepairAction::restoreStereo), stereoRestored);
        EXPECT_EQ(audio.writes, row.writes);
    }
}

TEST_F(repair_actions, aligned_alerts_stay_undoable_when_the_output_moves_meanwhile)
{
    audio.state.outputID = speakersID;
    // The third reading is the read-back after the alert write was verified.
    audio.beforeRead(3, [](AudioSnapshot& s) { s.outputID = headphonesID; });
    EXPECT_EQ(outcome(RepairAction::alignAlerts), sentence::settingsChanged);
    // The other app's output switch is not ours to undo.
    EXPECT_EQ(coordinator.lastChanges(), (std::vector<Change>{{S::Alerts{headphones}, S::Alerts{speakers}}}));
}

TEST_F(repair_actions, working_output_is_restored_by_its_saved_identity)
{
    audio.state.outputID = speakersID;
    EXPECT_EQ(outcome(RepairAction::restoreLastOutput, std::nullopt, PreferredOutput{headphones, "Studio Headphones"}),
              "Studio Headphones is selected using its saved device identity. Listen again to confirm recovery "
              "after sleep.");
    EXPECT_EQ(audio.writes, std::vector<S>{S::Output{headphones}});
}

TEST_F(repair_actions, refusals_write_nothing)
{
    struct Row {
        RepairAction action;
        std::function<void(AudioDevice& headphones, AudioSnapshot&)> edit;
        std::string error = sentence::unsupported;
        std::optional<PreferredOutput> preferred = std::nullopt, last = std::nullopt;
    };
    using enum RepairAction;
    const std::vector<Row> rows{
        // Quiet is not silent: nothing to unmute.
        {unmute, [](AudioDevice& d, auto&) { d.volume = 0.002f; }},
        // A read-only mute stops the volume write too.
        {unmute, [](AudioDevice& d, auto&) { d.isMuted = true; d.volume = 0.0f; d.canSetMute = false; }},
        // No settable standard rate on a physical, wired output.
        {normalizeRate, [](AudioDevice& d, auto&) { d.sampleRate = 22050; d.transport = AudioTransport::bluetooth; }},
        {normalizeRate, [](AudioDevice& d, auto&) { d.sampleRate = 22050; d.transport = AudioTransport::virtual_; }},
        {normalizeRate, [](AudioDevice& d, auto&) { d.sampleRate = 22050; d.availableRates = {{88200, 96000}}; }},
        {normalizeRate, [](AudioDevice& d, auto&) { d.sampleRate = 22050; d.canSetRate = false; }},
        {restoreStereo,
         [](AudioDevice& d, auto&) { d.outputChannels = 1; d.outputControls = {fixtures::control(1, 0, false)}; }},
        {useBuiltInMic, [](auto&, AudioSnapshot& s) { s.devices[2].isAlive = false; }},
        {alignAlerts, [](auto&, AudioSnapshot& s) { s.canSetSystemOutput = false; }},
        {openBluetooth, [](auto&, auto&) {}},
        // A preferred or saved output that is not connected has no substitute, though speakers are.
        {restoreOutput, [](auto&, auto&) {}, sentence::deviceGone, PreferredOutput{"uid-Dock", "Dock"}},
        {restoreLastOutput, [](auto&, auto&) {}, sentence::deviceGone},
        {restoreLastOutput, [](AudioDevice& d, auto&) { d.isAlive = false; }, sentence::deviceGone, std::nullopt,
         PreferredOutput{headphones, "Headphones"}},
        // Nothing to turn on, switch to or give back to an app.
        {turnOnOutput, [](auto&, auto&) {}},
        {switchOutputPort, [](auto&, auto&) {}},
        {unmuteApp, [](auto&, auto&) {}},
        {moveAppToOutput, [](auto&, auto&) {}},
        // A recording of what the output plays is cut by a restart, and named.
        {restartAudio,
         [](auto&, AudioSnapshot& s) {
             s.clients = {AudioClient{9, 90, "OBS Studio", std::nullopt, {}, {}, false, false, {headphonesID}}};
         },
         "OBS Studio is recording what your computer plays. Restarting the audio service would cut that recording; "
         "stop it first."},
    };
    for (const auto& row : rows) {
        resetServer();
        row.edit(device(headphonesID), audio.state);
        EXPECT_EQ(outcome(row.action, row.preferred, row.last), row.error) << caseName(row.action);
        EXPECT_TRUE(audio.writes.empty()) << caseName(row.action);
    }
}

// One app silent while others play: each repair writes that app's streams only,
// reads back, and undo never touches a stream that another app took over.
TEST_F(repair_actions, an_apps_mute_level_and_output_are_given_back_and_undone_only_for_that_app)
{
    audio.state.appStreams = {{20, "Firefox", std::nullopt, 200, headphonesID, 0.4f, true, true, false},
                              {21, "VLC", std::nullopt, 210, speakersID, 0.0f, false, true, true},
                              {22, "Music", std::nullopt, 220, headphonesID, 0.8f, false, true, false}};
    EXPECT_EQ(outcome(RepairAction::unmuteApp), "Firefox is no longer muted in the mixer.");
    EXPECT_EQ(outcome(RepairAction::raiseAppVolume), "VLC is back at 100% in the mixer; it was at 0%.");
    EXPECT_EQ(coordinator.lastChanges(), (std::vector<Change>{{S::AppVolume{21, "VLC", 0}, S::AppVolume{21, "VLC", 1}}}));
    EXPECT_EQ(outcome(RepairAction::moveAppToOutput), "VLC plays through Headphones again.");
    EXPECT_EQ(audio.writes, (std::vector<S>{S::AppMute{20, "Firefox", false}, S::AppVolume{21, "VLC", 1},
                                            S::AppOutput{21, "VLC", headphones}}));
    const auto moved = coordinator.lastChanges();
    EXPECT_EQ(undo(moved), "undone");
    EXPECT_EQ(audio.state.appStreams[1].outputID, speakersID);

    // VLC restarted and its number went to another app: undo says so and writes nothing.
    const auto raised = std::vector<Change>{{S::AppVolume{21, "VLC", 0}, S::AppVolume{21, "VLC", 1}}};
    audio.state.appStreams[1].appName = "Game";
    audio.writes.clear();
    EXPECT_EQ(undo(raised), "The app’s sound stream has ended: the app was closed or restarted. Play something in the "
                            "app and check again.");
    EXPECT_TRUE(audio.writes.empty());
}

// A card's output turned on must make an output that plays; one that does
// not is put back as it was and reported as not done.
TEST_F(repair_actions, a_card_turned_on_without_an_output_appearing_is_put_back)
{
    audio.state.cards = {{"alsa_card.usb", "USB Audio", "usb", "off",
                          {{"output:analog-stereo", "Analog Stereo Output", true, 6500, 1, 0}, {"off", "Off", true, 0, 0, 0}}}};
    audio.state.outputID.reset();
    audio.beforeRead(3, [](AudioSnapshot& s) { s.devices.pop_back(); });
    EXPECT_EQ(outcome(RepairAction::turnOnOutput), sentence::recoveryFailed);
    EXPECT_EQ(audio.state.cards[0].activeProfile, "off");
    EXPECT_TRUE(coordinator.lastChanges().empty());
}
