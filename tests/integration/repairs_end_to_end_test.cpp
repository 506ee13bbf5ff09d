#include "audio/audio_repair_error.h"
#include "audio/quick_fix_planner.h"
#include "audio/repair_coordinator.h"
#include "audio/run_task.h"
#include "diagnostics/diagnostics.h"
#include "model/model_json.h"
#include "pulse/pulse_audio_system.h"
#include "support/audio_rig.h"
#include "support/scripted_audio_system.h"

#include <QCoro/QCoroTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

namespace sonorel {
namespace {

using testing::AudioRig;
using testing::processEventsUntil;
using namespace testing::rigDevices;


// Each repair runs on the real server, is verified there, and is then undone.
class repairs_end_to_end : public ::testing::Test {
protected:
    AudioRig rig;
    PulseAudioSystem audio{PulseAudioOptions{rig.address()}};
    testing::ScriptedRestarter restarter;
    RepairCoordinator coordinator{audio, restarter, [] { return QCoro::sleepFor(std::chrono::milliseconds(50)); }};

    void pactl(const QStringList& arguments) { rig.run("pactl", arguments); }

    // Another app changes something; on PipeWire it shows a moment later.
    void change(const QStringList& arguments, const AudioSetting& visible)
    {
        pactl(arguments);
        ASSERT_TRUE(processEventsUntil([&] { return audio.snapshot().confirms(visible); }));
    }

    // The starting default, chosen through the backend itself: pipewire-pulse
    // can show a connection another client's new default seconds late, and
    // the backend's own writes wait until its view has caught up.
    // On the PipeWire rig under load, WirePlumber now and then does not apply a
    // default made of the emulated headset within the write's wait (seen twice in
    // CI, never locally); the starting point is asked for again, up to three times.
    void chooseDefault(bool output, const std::string& uid)
    {
        const AudioDevice* current = nullptr;
        AudioSnapshot s;
        for (int attempt = 0; attempt < 3 && !(current && current->uid == uid); ++attempt) {
            output ? audio.setDefaultOutput(uid) : audio.setDefaultInput(uid);
            s = audio.snapshot();
            current = output ? s.outputDevice() : s.inputDevice();
        }
        ASSERT_TRUE(current && current->uid == uid);
    }

    std::string repair(RepairAction action, std::optional<PreferredOutput> preferred = std::nullopt)
    {
        return runTask(coordinator.perform(action, std::move(preferred), std::nullopt));
    }

    // Undoes the last repair and checks that the starting configuration is back.
    void undoAndExpect(const std::vector<AudioSetting>& restored)
    {
        ASSERT_FALSE(coordinator.lastChanges().empty());
        coordinator.undo(coordinator.lastChanges());
        const AudioSnapshot s = audio.snapshot();
        for (const auto& setting : restored)
            EXPECT_TRUE(s.confirms(setting)) << setting.uid();
    }
};

TEST_F(repairs_end_to_end, unmute_raises_a_silent_output_and_undo_puts_it_back)
{
    change({"set-sink-mute", QString::fromStdString(speakers), "1"},
           AudioSetting::Mute{speakers, AudioDirection::output, 0, true});
    change({"set-sink-volume", QString::fromStdString(speakers), "0"},
           AudioSetting::Volume{speakers, AudioDirection::output, 0, 0.0f});
    EXPECT_EQ(repair(RepairAction::unmute),
              "Output is unmuted. A zero volume was raised to 25%.");
    const AudioSnapshot after = audio.snapshot();
    const AudioDevice* out = after.outputDevice();
    EXPECT_EQ(out->isMuted, false);
    EXPECT_NEAR(out->volume.value(), 0.25, 0.001);
    undoAndExpect({AudioSetting::Mute{speakers, AudioDirection::output, 0, true},
                   AudioSetting::Volume{speakers, AudioDirection::output, 0, 0.0f}});
}

// `repair > /dev/full`: the sink is unmuted, so the record undo needs must still reach the user.
TEST_F(repairs_end_to_end, a_repair_whose_output_is_lost_puts_its_undo_record_on_stderr)
{
    change({"set-sink-mute", QString::fromStdString(speakers), "1"},
           AudioSetting::Mute{speakers, AudioDirection::output, 0, true});
    const QTemporaryDir dir;
    const QString record = dir.filePath("record.txt");
    const std::string status = rig.run(
        "sh", {"-c", "\"$0\" repair unmute 2>\"$1\" >/dev/full; echo $?", SONOREL_DOCTOR_PATH, record});
    EXPECT_EQ(status, "1\n");
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::string stderrText = file.readAll().toStdString();
    EXPECT_EQ(stderrText.rfind("sonorel-doctor: cannot write to standard output: No space left on device\n", 0), 0u)
        << stderrText;
    const auto json = stderrText.find('{');
    ASSERT_NE(json, std::string::npos) << stderrText;
    const auto changes = decodeChanges(stderrText.substr(json));
    ASSERT_FALSE(changes.empty());
    coordinator.undo(changes);
    EXPECT_TRUE(audio.snapshot().confirms(AudioSetting::Mute{speakers, AudioDirection::output, 0, true}));
}

TEST_F(repairs_end_to_end, restore_output_selects_the_preferred_output_and_undo_returns)
{
    EXPECT_EQ(repair(RepairAction::restoreOutput, PreferredOutput{headphones, "WH-1000XM4", true}),
              "Sound is routed to WH-1000XM4.");
    EXPECT_EQ(audio.snapshot().outputDevice()->uid, headphones);
    undoAndExpect({AudioSetting::Output{speakers}});
}

TEST_F(repairs_end_to_end, restore_input_and_the_built_in_microphone_change_only_the_input)
{
    change({"set-source-mute", QString::fromStdString(microphone), "1"},
           AudioSetting::Mute{microphone, AudioDirection::input, 0, true});
    EXPECT_EQ(repair(RepairAction::restoreInput),
              "Microphone controls restored. Nonzero input levels were preserved. "
              "Test your voice and the affected app's permission.");
    EXPECT_EQ(audio.snapshot().inputDevice()->inputMuted(), false);
    undoAndExpect({AudioSetting::Mute{microphone, AudioDirection::input, 0, true}});

    chooseDefault(false, headsetMicrophone);
    EXPECT_EQ(repair(RepairAction::useBuiltInMic),
              "Built-in Audio Analog Stereo is selected. Bluetooth listening quality may take a moment to recover.");
    undoAndExpect({AudioSetting::Input{headsetMicrophone}});
}

TEST_F(repairs_end_to_end, a_recording_blocks_input_repairs)
{
    chooseDefault(false, headsetMicrophone);
    rig.startRecording(headsetMicrophone);
    ASSERT_TRUE(processEventsUntil([&] { return audio.snapshot().isInputActive(); }));
    try {
        repair(RepairAction::useBuiltInMic);
        FAIL() << "the repair ran during a recording";
    } catch (const AudioRepairError& error) {
        EXPECT_EQ(error, AudioRepairError::recordingActive());
    }
    EXPECT_EQ(audio.snapshot().inputDevice()->uid, headsetMicrophone);
}

TEST_F(repairs_end_to_end, restore_stereo_raises_the_silent_side_and_centres_the_balance)
{
    change({"set-sink-volume", QString::fromStdString(speakers), "0", "45875"},
           AudioSetting::Volume{speakers, AudioDirection::output, 1, 0.0f});
    EXPECT_EQ(repair(RepairAction::restoreStereo),
              "Supported stereo controls restored. Play the left/right test to check both sides.");
    const AudioSnapshot after = audio.snapshot();
    const AudioDevice* out = after.outputDevice();
    EXPECT_NEAR(out->outputControls[1].volume.value(), 0.7, 0.001);
    EXPECT_NEAR(out->balance.value(), 0.5, 0.005);
    undoAndExpect({AudioSetting::Volume{speakers, AudioDirection::output, 1, 0.0f}});
}

TEST_F(repairs_end_to_end, alerts_follow_the_listening_output_where_the_server_allows)
{
    if (rig.isPipeWire()) {
        chooseDefault(true, headphones);
        EXPECT_THROW(repair(RepairAction::alignAlerts), AudioRepairError);
        return;
    }
    // Alerts pinned to the speakers while media moves to the headphones.
    audio.apply(AudioSetting::Alerts{speakers});
    chooseDefault(true, headphones);
    EXPECT_EQ(repair(RepairAction::alignAlerts),
              "Alerts now use WH-1000XM4. Check alert volume, Do Not Disturb, and the affected app's notification "
              "settings if they are still silent.");
    EXPECT_EQ(audio.snapshot().systemOutputDevice()->uid, headphones);
    undoAndExpect({AudioSetting::Alerts{speakers}});
}

TEST_F(repairs_end_to_end, bluetooth_headphones_are_reselected_through_the_muted_speakers)
{
    chooseDefault(true, headphones);
    EXPECT_EQ(repair(RepairAction::reselectOutput),
              "WH-1000XM4 was reselected without restarting the audio service. The alternate speakers stayed muted "
              "during the switch. Listen again to check the result.");
    const AudioSnapshot s = audio.snapshot();
    EXPECT_EQ(s.outputDevice()->uid, headphones);
    EXPECT_EQ(s.deviceWithUID(speakers)->isMuted, false);
    EXPECT_TRUE(coordinator.lastChanges().empty());
}

// A sink input as pactl lists it: muted, volume, and the name of its sink.
struct PactlStream {
    bool muted = false;
    std::string volume;
    std::string sink;
};

PactlStream pactlStream(const AudioRig& rig, uint32_t index)
{
    const std::string list = rig.run("pactl", {"list", "sink-inputs"});
    const auto start = list.find("Sink Input #" + std::to_string(index) + "\n");
    const std::string block = list.substr(start, list.find("Sink Input #", start + 1) - start);
    auto field = [&block](const std::string& name) {
        const auto at = block.find("\t" + name + ": ");
        return at == std::string::npos ? std::string{} : block.substr(at + name.size() + 3, block.find('\n', at) - at - name.size() - 3);
    };
    PactlStream stream{field("Mute") == "yes", field("Volume"), {}};
    const std::string sinkIndex = field("Sink");
    std::istringstream sinks(rig.run("pactl", {"list", "short", "sinks"}));
    for (std::string line; std::getline(sinks, line);)
        if (line.starts_with(sinkIndex + "\t"))
            stream.sink = line.substr(sinkIndex.size() + 1, line.find('\t', sinkIndex.size() + 1) - sinkIndex.size() - 1);
    return stream;
}

// One app silent while others play: muted, at zero and moved to another
// output in the mixer. Each repair is verified on the server and undone, and
// pactl agrees each time; after the app restarted, undo touches nothing.
TEST_F(repairs_end_to_end, an_app_muted_at_zero_and_moved_away_plays_again_and_undo_puts_it_back)
{
    const int player = rig.startPlaying(hdmi);
    AppStream app;
    ASSERT_TRUE(processEventsUntil([&] {
        const AudioSnapshot s = audio.snapshot();
        if (s.appStreams.empty())
            return false;
        app = s.appStreams.front();
        return true;
    }));
    const QString index = QString::number(app.index);
    change({"set-sink-input-mute", index, "1"}, AudioSetting::AppMute{app.index, app.appName, true});
    change({"set-sink-input-volume", index, "0"}, AudioSetting::AppVolume{app.index, app.appName, 0});
    const AudioSnapshot before = audio.snapshot();
    EXPECT_EQ(quickFixPlan(Diagnostics::checks(before, std::nullopt), RepairIntent::appOnly, before, std::nullopt),
              (std::vector{RepairAction::unmuteApp, RepairAction::raiseAppVolume, RepairAction::moveAppToOutput}));

    EXPECT_EQ(repair(RepairAction::unmuteApp), app.appName + " is no longer muted in the mixer.");
    EXPECT_FALSE(pactlStream(rig, app.index).muted);
    undoAndExpect({AudioSetting::AppMute{app.index, app.appName, true}});
    EXPECT_TRUE(pactlStream(rig, app.index).muted);

    EXPECT_EQ(repair(RepairAction::raiseAppVolume), app.appName + " is back at 100% in the mixer; it was at 0%.");
    EXPECT_NE(pactlStream(rig, app.index).volume.find("100%"), std::string::npos);
    undoAndExpect({AudioSetting::AppVolume{app.index, app.appName, 0}});
    EXPECT_NE(pactlStream(rig, app.index).volume.find(" 0%"), std::string::npos);

    EXPECT_EQ(repair(RepairAction::moveAppToOutput),
              app.appName + " plays through Built-in Audio Analog Stereo again.");
    EXPECT_EQ(pactlStream(rig, app.index).sink, speakers);
    const auto moved = coordinator.lastChanges();
    undoAndExpect({AudioSetting::AppOutput{app.index, app.appName, hdmi}});
    EXPECT_EQ(pactlStream(rig, app.index).sink, hdmi);

    // The app restarts: its new stream is another, which undo never touches.
    ::kill(player, SIGTERM);
    rig.startPlaying(hdmi);
    ASSERT_TRUE(processEventsUntil([&] {
        const AudioSnapshot s = audio.snapshot();
        return s.appStreams.size() == 1 && s.appStreams.front().index != app.index;
    }));
    try {
        coordinator.undo(moved);
        FAIL() << "undo wrote to another stream";
    } catch (const AudioRepairError& error) {
        EXPECT_EQ(error, AudioRepairError::streamGone());
    }
}

}  // namespace
}  // namespace sonorel
