#include "support/repair_harness.h"

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::testing;

namespace {

using S = AudioSetting;
using Change = AudioConfigurationChange;
constexpr auto outputSide = AudioDirection::output;
constexpr auto inputSide = AudioDirection::input;

const std::string unmuted = "Output is unmuted. Existing volume was preserved; a zero volume was raised to 25%.";
const std::string stereoRestored = "Supported stereo controls restored. Play the left/right test to check both sides.";
const std::string recovered = "The audio service restarted and Headphones recovered.";
const std::string listenForCrackles = " Play your audio again to check whether the crackling stopped.";

}  // namespace

class repair_actions : public RepairHarness {};

TEST_F(repair_actions, a_change_that_does_not_read_back_is_not_reported_as_done)
{
    struct Row {
        RepairAction action;
        std::function<void(ScriptedAudioSystem&)> script;
        std::vector<S> writes;
    };
    const auto keepsOldDefaults = [](ScriptedAudioSystem& server) {
        server.slowWrites(settingsOf<S::Output>(), 1000);
        server.slowWrites(settingsOf<S::Input>(), 1000);
    };
    const std::vector<Row> rows{
        {RepairAction::restoreOutput, keepsOldDefaults, {S::Output{speakers}}},
        {RepairAction::useBuiltInMic,
         [&](ScriptedAudioSystem& server) {
             server.state.inputID = headsetID;
             keepsOldDefaults(server);
         },
         {S::Input{microphone}}},
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
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(caseName(row.action)));
        ScriptedAudioSystem server(initialState());
        RepairCoordinator repair(server, restarter, std::ref(pause));
        row.script(server);

        EXPECT_EQ(errorOf([&] { runNow(repair.perform(row.action, std::nullopt, std::nullopt)); }),
                  sentence::recoveryFailed);
        EXPECT_EQ(server.writes, row.writes);
    }
}

TEST_F(repair_actions, input_sensitive_repairs_refuse_while_input_runs_or_is_unknown)
{
    struct Condition {
        const char* why;
        std::function<void(AudioSnapshot&)> server;
        std::string error;
    };
    const std::vector<Condition> conditions{
        {"a call records on the headset", [](AudioSnapshot& s) { s.devices[3].isRunningInput = true; },
         sentence::recordingActive},
        {"the input hardware is busy", [](AudioSnapshot& s) { s.inputIOActive = true; }, sentence::recordingActive},
        {"activity could not be read", [](AudioSnapshot& s) { s.inputActivityKnown = false; },
         sentence::inputActivityUnknown},
    };
    for (auto action : {RepairAction::useBuiltInMic, RepairAction::restoreLastOutput, RepairAction::normalizeRate,
                        RepairAction::restoreInput, RepairAction::restartAudio}) {
        for (const auto& condition : conditions) {
            SCOPED_TRACE(std::string(caseName(action)) + ": " + condition.why);
            resetServer();
            // Without the guard, each of these repairs would write or restart.
            audio.state.outputID = speakersID;
            audio.state.inputID = headsetID;
            device(speakersID).sampleRate = 44100;
            device(headsetID).inputControls[0].volume = 0.0f;
            condition.server(audio.state);

            EXPECT_EQ(outcome(action, std::nullopt, PreferredOutput{headphones, "Headphones"}), condition.error);
            EXPECT_TRUE(audio.writes.empty());
        }
    }
    EXPECT_EQ(restarter.restarts, 0);
}

TEST_F(repair_actions, restore_output_routes_to_the_preferred_output_and_never_substitutes_another)
{
    struct Row {
        const char* why;
        std::optional<PreferredOutput> preferred;
        std::vector<S> writes;
        std::string outcome;
    };
    const std::vector<Row> rows{
        {"the preferred output", PreferredOutput{headphones, "Headphones"}, {S::Output{headphones}},
         "Sound is routed to Headphones."},
        {"no preference: the built-in fallback", std::nullopt, {S::Output{speakers}}, "Sound is routed to Speakers."},
        {"a preferred dock that is not connected, though speakers are", PreferredOutput{"uid-Dock", "Dock"}, {},
         sentence::deviceGone},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        resetServer();
        audio.state.devices.push_back(fixtures::output(5, "Null Output", AudioTransport::virtual_));
        audio.state.outputID = 5;

        EXPECT_EQ(outcome(RepairAction::restoreOutput, row.preferred), row.outcome);
        EXPECT_EQ(audio.writes, row.writes);
        // A device selected outside the verified writes is still undoable.
        if (!row.writes.empty()) {
            EXPECT_EQ(coordinator.lastChanges(), (std::vector<Change>{{S::Output{"uid-Null Output"}, row.writes[0]}}));
        }
    }
}

TEST_F(repair_actions, unmute_touches_only_a_muted_or_silent_main_control)
{
    struct Row {
        const char* why;
        bool muted;
        float volume;
        bool canSetMute;
        std::vector<S> writes;
        std::string outcome;
    };
    const S unmute = S::Mute{headphones, outputSide, 0, false};
    const S raise = S::Volume{headphones, outputSide, 0, 0.25f};
    const std::vector<Row> rows{
        {"muted at 60%: the volume is kept", true, 0.6f, true, {unmute}, unmuted},
        {"0.0005 counts as silence", false, 0.0005f, true, {raise}, unmuted},
        {"so does 0.001 itself", false, 0.001f, true, {raise}, unmuted},
        {"muted and silent", true, 0.0f, true, {unmute, raise}, unmuted},
        {"0.002 is quiet, not silent: nothing to do", false, 0.002f, true, {}, sentence::unsupported},
        {"a read-only mute", true, 0.6f, false, {}, sentence::unsupported},
        {"a read-only mute stops the volume write too", true, 0.0f, false, {}, sentence::unsupported},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        resetServer();
        auto& phones = device(headphonesID);
        phones.isMuted = row.muted;
        phones.volume = row.volume;
        phones.canSetMute = row.canSetMute;

        EXPECT_EQ(outcome(RepairAction::unmute), row.outcome);
        EXPECT_EQ(audio.writes, row.writes);
    }
}

TEST_F(repair_actions, unmute_leaves_channel_levels_alone_when_the_main_element_exists)
{
    auto& phones = device(headphonesID);
    phones.isMuted = true;
    phones.volume = 0.0f;
    phones.outputControls = {fixtures::control(0, 0.0f, true), fixtures::control(1, 0.0f, std::nullopt),
                             fixtures::control(2, 0.0f, std::nullopt)};

    EXPECT_EQ(perform(RepairAction::unmute), unmuted);
    EXPECT_EQ(audio.writes,
              (std::vector<S>{S::Mute{headphones, outputSide, 0, false}, S::Volume{headphones, outputSide, 0, 0.25f}}));
}

TEST_F(repair_actions, built_in_microphone_replaces_the_headset_microphone)
{
    audio.state.inputID = headsetID;
    EXPECT_EQ(perform(RepairAction::useBuiltInMic),
              "Built-in Microphone is selected. Bluetooth listening quality may take a moment to recover.");
    EXPECT_EQ(audio.writes, std::vector<S>{S::Input{microphone}});
    EXPECT_EQ(coordinator.lastChanges(), (std::vector<Change>{{S::Input{headset}, S::Input{microphone}}}));

    resetServer();
    audio.state.inputID = headsetID;
    std::erase_if(audio.state.devices, [](const AudioDevice& d) { return d.id == microphoneID; });
    EXPECT_EQ(outcome(RepairAction::useBuiltInMic), sentence::unsupported);
    EXPECT_TRUE(audio.writes.empty());
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

    EXPECT_EQ(perform(RepairAction::normalizeRate), "Output format is now 48 kHz.");
    EXPECT_EQ(pause.count, 3);
    EXPECT_EQ(audio.writes, std::vector<S>{(S::Rate{headphones, 48000})});
    EXPECT_EQ(coordinator.lastChanges(),
              (std::vector<Change>{{S::Rate{headphones, 44100}, S::Rate{headphones, 48000}}}));
}

TEST_F(repair_actions_rate, gives_up_after_the_tenth_look)
{
    audio.slowWrites(settingsOf<S::Rate>(headphones), 1000);

    EXPECT_EQ(outcome(RepairAction::normalizeRate), sentence::recoveryFailed);
    EXPECT_EQ(pause.count, 9);
    EXPECT_EQ(audio.writes, std::vector<S>{(S::Rate{headphones, 48000})});
}

TEST_F(repair_actions_rate, stops_when_the_output_is_switched_while_waiting)
{
    audio.slowWrites(settingsOf<S::Rate>(headphones), 1000);
    pause.during(1, [this] { audio.state.outputID = speakersID; });

    EXPECT_EQ(outcome(RepairAction::normalizeRate), sentence::settingsChanged);
    EXPECT_EQ(pause.count, 1);
    EXPECT_EQ(audio.writes, std::vector<S>{(S::Rate{headphones, 48000})});
}

TEST_F(repair_actions_rate, reports_44_1_khz_as_44_khz)
{
    auto& phones = device(headphonesID);
    phones.sampleRate = 96000;
    phones.availableRates = {{44100, 44100}, {96000, 96000}};

    EXPECT_EQ(perform(RepairAction::normalizeRate), "Output format is now 44 kHz.");
    EXPECT_EQ(audio.writes, std::vector<S>{(S::Rate{headphones, 44100})});
}

TEST_F(repair_actions_rate, refuses_outputs_without_a_settable_standard_rate)
{
    const std::vector<std::pair<const char*, std::function<void(AudioDevice&)>>> cases{
        {"Bluetooth", [](AudioDevice& d) { d.transport = AudioTransport::bluetooth; }},
        {"virtual", [](AudioDevice& d) { d.transport = AudioTransport::virtual_; }},
        {"neither 48 nor 44.1 kHz", [](AudioDevice& d) { d.availableRates = {{88200, 96000}}; }},
        {"fixed rate", [](AudioDevice& d) { d.canSetRate = false; }},
    };
    for (const auto& [why, change] : cases) {
        SCOPED_TRACE(why);
        resetServer();
        SetUp();
        change(device(headphonesID));
        EXPECT_EQ(outcome(RepairAction::normalizeRate), sentence::unsupported);
        EXPECT_TRUE(audio.writes.empty());
    }
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

    EXPECT_EQ(perform(RepairAction::restartAudio), recovered + listenForCrackles);
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

    EXPECT_EQ(perform(RepairAction::restartAudio),
              recovered + " Your microphone was not switched back to Built-in Microphone because an input is in use."
                  + listenForCrackles);
    EXPECT_EQ(pause.count, 1);
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

    EXPECT_EQ(perform(RepairAction::restoreInput),
              "Microphone controls restored. Nonzero input levels were preserved; zero levels were raised to 50%. "
              "Test your voice and the affected app's permission.");
    EXPECT_EQ(audio.writes,
              (std::vector<S>{S::Volume{microphone, inputSide, 0, 0.5f}, S::Mute{microphone, inputSide, 1, false}}));
}

TEST_F(repair_actions, restore_stereo_raises_a_silent_side_to_the_other_and_centres_a_clear_imbalance)
{
    struct Row {
        const char* why;
        float left, right, balance;
        int channels;
        std::vector<S> writes;
        std::string outcome;
    };
    const auto left = [this](float v) { return S(S::Volume{headphones, outputSide, 1, v}); };
    const auto right = [this](float v) { return S(S::Volume{headphones, outputSide, 2, v}); };
    const std::vector<Row> rows{
        {"silent left rises to the right's level", 0.0f, 0.7f, 0.5f, 2, {left(0.7f)}, stereoRestored},
        {"both silent rise to 25%", 0.0f, 0.0f, 0.5f, 2, {left(0.25f), right(0.25f)}, stereoRestored},
        {"0.505 is within a hundredth of centre", 0.0f, 0.7f, 0.505f, 2, {left(0.7f)}, stereoRestored},
        {"0.52 is centred", 0.6f, 0.6f, 0.52f, 2, {S::Balance{headphones, 0.5f}}, stereoRestored},
        {"nothing to restore", 0.6f, 0.6f, 0.5f, 2, {}, sentence::unsupported},
        {"a mono output", 0.0f, 0.7f, 0.5f, 1, {}, sentence::unsupported},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        resetServer();
        auto& phones = device(headphonesID);
        phones.outputChannels = row.channels;
        // The silent rear channel is not part of the stereo pair.
        phones.outputControls = {fixtures::control(1, row.left, false), fixtures::control(2, row.right, false),
                                 fixtures::control(3, 0.0f, false)};
        phones.stereoChannels = {1, 2};
        phones.balance = row.balance;
        phones.canSetBalance = true;

        EXPECT_EQ(outcome(RepairAction::restoreStereo), row.outcome);
        EXPECT_EQ(audio.writes, row.writes);
    }
}

TEST_F(repair_actions, alerts_follow_the_listening_output_where_the_server_allows_it)
{
    audio.state.outputID = speakersID;
    EXPECT_EQ(perform(RepairAction::alignAlerts),
              "Alerts now use Speakers. Check alert volume, Do Not Disturb, and the affected app's notification "
              "settings if they are still silent.");
    EXPECT_EQ(audio.writes, std::vector<S>{S::Alerts{speakers}});

    resetServer();
    audio.state.canSetSystemOutput = false;
    EXPECT_EQ(outcome(RepairAction::alignAlerts), sentence::unsupported);
    EXPECT_TRUE(audio.writes.empty());
}

TEST_F(repair_actions, alerts_stop_when_the_output_moves_during_the_repair_yet_stay_undoable)
{
    audio.state.outputID = speakersID;
    // Reading 3 is the read-back after the alert write was verified.
    audio.beforeRead(3, [](AudioSnapshot& s) { s.outputID = headphonesID; });

    EXPECT_EQ(outcome(RepairAction::alignAlerts), sentence::settingsChanged);
    EXPECT_EQ(audio.writes, std::vector<S>{S::Alerts{speakers}});
    // The other app's output switch is not ours to undo.
    EXPECT_EQ(coordinator.lastChanges(), (std::vector<Change>{{S::Alerts{headphones}, S::Alerts{speakers}}}));
}

TEST_F(repair_actions, working_output_is_restored_by_its_saved_identity_only_when_connected)
{
    audio.state.outputID = speakersID;
    const PreferredOutput saved{headphones, "Studio Headphones"};
    EXPECT_EQ(perform(RepairAction::restoreLastOutput, std::nullopt, saved),
              "Studio Headphones is selected using its saved device identity. Listen again to confirm recovery "
              "after sleep.");
    EXPECT_EQ(audio.writes, std::vector<S>{S::Output{headphones}});

    resetServer();
    audio.state.outputID = speakersID;
    EXPECT_EQ(outcome(RepairAction::restoreLastOutput), sentence::deviceGone);
    device(headphonesID).isAlive = false;
    EXPECT_EQ(outcome(RepairAction::restoreLastOutput, std::nullopt, saved), sentence::deviceGone);
    EXPECT_TRUE(audio.writes.empty());
}

TEST_F(repair_actions, opening_bluetooth_settings_is_not_a_repair_to_perform)
{
    EXPECT_EQ(outcome(RepairAction::openBluetooth), sentence::unsupported);
    EXPECT_TRUE(audio.writes.empty());
}
