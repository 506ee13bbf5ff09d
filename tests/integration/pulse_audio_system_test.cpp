#include "audio/audio_repair_error.h"
#include "diagnostics/diagnostics.h"
#include "pulse/pulse_audio_system.h"
#include "support/audio_rig.h"
#include "support/recording_client.h"
#include "support/scripted_audio_system.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

namespace sonorel {
namespace {

using testing::AudioRig;
using testing::processEventsUntil;
using namespace testing::rigDevices;


const AudioDevice& deviceNamed(const AudioSnapshot& snapshot, const std::string& uid)
{
    const AudioDevice* device = snapshot.deviceWithUID(uid);
    if (!device)
        throw std::runtime_error("no device " + uid + " in the reading");
    return *device;
}

class pulse_audio_system : public ::testing::Test {
protected:
    AudioRig rig;
    PulseAudioSystem audio{PulseAudioOptions{rig.address()}};

    AudioRepairError errorOf(const AudioSetting& setting) { return testing::refusalOf(audio, setting); }
};

TEST_F(pulse_audio_system, reads_every_rig_device_with_its_transport_channels_and_rate)
{
    const AudioSnapshot s = audio.snapshot();
    ASSERT_FALSE(s.readError) << *s.readError;
    EXPECT_EQ(s.devices.size(), 7u);
    struct Expected {
        std::string uid;
        AudioTransport transport;
        int outputs;
        int inputs;
        double rate;
    };
    for (const Expected& e : std::vector<Expected>{
             {speakers, AudioTransport::builtIn, 2, 0, 48000},
             {headphones, AudioTransport::bluetooth, 2, 0, 48000},
             {usbInterface, AudioTransport::usb, 2, 0, 22050},
             {hdmi, AudioTransport::display, 2, 0, 48000},
             {virtualSink, AudioTransport::virtual_, 2, 0, 48000},
             {microphone, AudioTransport::builtIn, 0, 2, 48000},
             {headsetMicrophone, AudioTransport::bluetooth, 0, 1, 16000},
         }) {
        SCOPED_TRACE(e.uid);
        const AudioDevice& d = deviceNamed(s, e.uid);
        EXPECT_EQ(d.transport, e.transport);
        EXPECT_EQ(d.outputChannels, e.outputs);
        EXPECT_EQ(d.inputChannels, e.inputs);
        EXPECT_EQ(d.sampleRate, e.rate);
        EXPECT_TRUE(d.isAlive);
    }
    EXPECT_EQ(s.outputDevice()->uid, speakers);
    EXPECT_EQ(s.inputDevice()->uid, microphone);
    EXPECT_EQ(s.systemOutputDevice()->uid, speakers);
    EXPECT_TRUE(s.inputActivityKnown);
    EXPECT_FALSE(s.isInputActive());
    EXPECT_EQ(s.canSetSystemOutput, !rig.isPipeWire());

    const AudioDevice& out = deviceNamed(s, speakers);
    EXPECT_EQ(out.volume, 1.0f);
    EXPECT_EQ(out.isMuted, false);
    EXPECT_EQ(out.balance, 0.5f);
    EXPECT_EQ(out.stereoChannels, (std::vector<uint32_t>{1, 2}));
    ASSERT_EQ(out.outputControls.size(), 3u);
    EXPECT_FALSE(out.outputControls[1].canSetMute);
    EXPECT_EQ(deviceNamed(s, headsetMicrophone).inputControls.size(), 2u);
    // Emulated devices belong to no card: the headset keeps its sink name and is judged by its rate.
    EXPECT_FALSE(deviceNamed(s, headphones).cardName);
    EXPECT_TRUE(s.isInCallMode(deviceNamed(s, headsetMicrophone)));
}

TEST_F(pulse_audio_system, writes_levels_mutes_balance_and_defaults_that_read_back)
{
    audio.apply(AudioSetting::Volume{speakers, AudioDirection::output, 0, 0.25f});
    audio.apply(AudioSetting::Volume{speakers, AudioDirection::output, 2, 0.1f});
    audio.apply(AudioSetting::Mute{speakers, AudioDirection::output, 0, true});
    audio.apply(AudioSetting::Volume{microphone, AudioDirection::input, 0, 0.5f});
    audio.apply(AudioSetting::Mute{microphone, AudioDirection::input, 0, true});
    audio.setDefaultOutput(usbInterface);
    audio.setDefaultInput(headsetMicrophone);

    AudioSnapshot s = audio.snapshot();
    const AudioDevice& out = deviceNamed(s, speakers);
    EXPECT_NEAR(out.outputControls[1].volume.value(), 0.25, 0.001);
    EXPECT_NEAR(out.outputControls[2].volume.value(), 0.1, 0.001);
    EXPECT_EQ(out.isMuted, true);
    EXPECT_TRUE(s.confirms(AudioSetting::Volume{microphone, AudioDirection::input, 0, 0.5f}));
    EXPECT_TRUE(s.confirms(AudioSetting::Mute{microphone, AudioDirection::input, 0, true}));
    EXPECT_EQ(s.outputDevice()->uid, usbInterface);
    EXPECT_EQ(s.inputDevice()->uid, headsetMicrophone);

    // Balance moves the sides apart and back; the main level follows the louder side.
    audio.apply(AudioSetting::Balance{headphones, 0.75f});
    s = audio.snapshot();
    EXPECT_NEAR(deviceNamed(s, headphones).balance.value(), 0.75, 0.01);
    audio.apply(AudioSetting::Balance{headphones, 0.5f});
    EXPECT_NEAR(deviceNamed(audio.snapshot(), headphones).balance.value(), 0.5, 0.005);
}

TEST_F(pulse_audio_system, the_alert_output_follows_stream_restore_while_its_sink_exists)
{
    if (rig.isPipeWire()) {
        EXPECT_EQ(errorOf(AudioSetting::Alerts{hdmi}), AudioRepairError::unsupported());
        EXPECT_EQ(audio.snapshot().systemOutputDevice()->uid, speakers);
        return;
    }
    audio.apply(AudioSetting::Alerts{hdmi});
    AudioSnapshot s = audio.snapshot();
    EXPECT_EQ(s.systemOutputDevice()->uid, hdmi);
    EXPECT_EQ(s.outputDevice()->uid, speakers);
    // The entry still names the removed sink; the server plays alerts on the default.
    rig.removeDevice(hdmi);
    s = audio.snapshot();
    ASSERT_FALSE(s.deviceWithUID(hdmi));
    ASSERT_TRUE(s.systemOutputDevice());
    EXPECT_EQ(s.systemOutputDevice()->uid, speakers);
}

// A long-lived connection sees another app's new default in the reading
// that follows the change's report; pipewire-pulse alone can show it seconds late.
TEST_F(pulse_audio_system, a_default_changed_by_another_app_shows_in_the_reading_after_its_report)
{
    int changes = 0;
    audio.startMonitoring([&] { ++changes; }, [](Date) {});
    ASSERT_EQ(audio.snapshot().outputDevice()->uid, speakers);
    for (int round = 0; round < 20; ++round) {
        const std::string& expected = round % 2 ? speakers : hdmi;
        const int seen = changes;
        rig.run("pactl", {"set-default-sink", QString::fromStdString(expected)});
        ASSERT_TRUE(processEventsUntil([&] { return changes > seen; })) << "round " << round;
        const AudioSnapshot s = audio.snapshot();
        ASSERT_TRUE(s.outputDevice());
        EXPECT_EQ(s.outputDevice()->uid, expected) << "round " << round;
    }
}

TEST_F(pulse_audio_system, refuses_what_the_device_cannot_do)
{
    EXPECT_EQ(errorOf(AudioSetting::Volume{"gone", AudioDirection::output, 0, 0.5f}), AudioRepairError::deviceGone());
    EXPECT_EQ(errorOf(AudioSetting::Output{microphone}), AudioRepairError::unsupported());
    EXPECT_EQ(errorOf(AudioSetting::Input{speakers}), AudioRepairError::unsupported());
    EXPECT_EQ(errorOf(AudioSetting::Alerts{microphone}), AudioRepairError::unsupported());
    EXPECT_EQ(errorOf(AudioSetting::Mute{speakers, AudioDirection::output, 1, true}), AudioRepairError::unsupported());
    EXPECT_EQ(errorOf(AudioSetting::Volume{speakers, AudioDirection::input, 0, 0.5f}), AudioRepairError::unsupported());
    // 32 kHz is outside PipeWire's allowed rates too; PulseAudio takes no rate at all.
    EXPECT_EQ(errorOf(AudioSetting::Rate{usbInterface, 32000}), AudioRepairError::unsupported());
    // No card of that name, no port of that name.
    EXPECT_EQ(errorOf(AudioSetting::Profile{"bluez_card.gone", "a2dp_sink"}), AudioRepairError::deviceGone());
    EXPECT_EQ(errorOf(AudioSetting::Port{speakers, AudioDirection::output, "analog-output-speaker"}),
              AudioRepairError::unsupported());
    // Nothing above changed anything.
    EXPECT_EQ(deviceNamed(audio.snapshot(), speakers).volume, 1.0f);
}

// A paused stream is not running input; a running one is, with its device and client.
TEST_F(pulse_audio_system, a_recording_client_shows_as_running_input_with_its_device_only_while_it_runs)
{
    testing::RecordingClient paused(rig.address(), headsetMicrophone);
    EXPECT_FALSE(audio.snapshot().isInputActive());
    paused.setCorked(false);
    ASSERT_TRUE(processEventsUntil([&] { return audio.snapshot().isInputActive(); }));
    const AudioSnapshot s = audio.snapshot();
    EXPECT_TRUE(s.inputIOActive);
    EXPECT_TRUE(deviceNamed(s, headsetMicrophone).isRunningInput);
    EXPECT_FALSE(deviceNamed(s, microphone).isRunningInput);
    const auto recorder = std::find_if(s.clients.begin(), s.clients.end(),
                                       [](const AudioClient& c) { return c.isRunningInput; });
    ASSERT_NE(recorder, s.clients.end());
    EXPECT_GT(recorder->pid, 0);
    EXPECT_EQ(recorder->inputDeviceIDs, std::vector<AudioObjectID>{deviceNamed(s, headsetMicrophone).id});
    paused.setCorked(true);
    EXPECT_TRUE(processEventsUntil([&] { return !audio.snapshot().isInputActive(); }));
}

// Volume controls open a 25 Hz peak stream per device: no recording, nobody
// using audio. Recording what an output plays is not microphone input, but
// it is named as what a restart would cut.
TEST_F(pulse_audio_system, level_meters_are_no_recordings_and_a_capture_of_an_output_is_named_apart)
{
    testing::RecordingClient monitorMeter(rig.address(), speakers + ".monitor", testing::RecordingClient::Kind::levelMeter);
    testing::RecordingClient microphoneMeter(rig.address(), microphone, testing::RecordingClient::Kind::levelMeter);
    rig.startMeter(headsetMicrophone);
    const auto recordings = [&] {
        const std::string list = rig.run("pactl", {"list", "short", "source-outputs"});
        return std::count(list.begin(), list.end(), '\n');
    };
    // Once the server lists the meters, the reading still sees no recording and nobody using audio.
    ASSERT_TRUE(processEventsUntil([&] { return recordings() >= 3; }));
    const AudioSnapshot metered = audio.snapshot();
    EXPECT_FALSE(metered.isInputActive());
    EXPECT_TRUE(metered.clients.empty());

    rig.startCapture(speakers);
    ASSERT_TRUE(processEventsUntil([&] { return !audio.snapshot().outputCaptureClients().empty(); }));
    const AudioSnapshot s = audio.snapshot();
    EXPECT_FALSE(s.isInputActive());
    EXPECT_EQ(s.outputCaptureClients().front()->capturedOutputIDs,
              std::vector<AudioObjectID>{deviceNamed(s, speakers).id});
}

// With every output gone, both servers play to their stand-in, which the
// output check names as no output at all.
TEST_F(pulse_audio_system, with_no_output_left_the_placeholder_is_named_and_plays_to_nothing)
{
    for (const auto& sink : {speakers, headphones, usbInterface, hdmi, virtualSink})
        rig.removeDevice(sink);
    ASSERT_TRUE(processEventsUntil([&] {
        const AudioSnapshot now = audio.snapshot();
        return now.outputDevice() && now.outputDevice()->isPlaceholder;
    }));
    const AudioSnapshot s = audio.snapshot();
    EXPECT_EQ(s.outputDevice()->name, "Dummy Output");
    const auto output = Diagnostics::outputCheck(s, std::nullopt);
    EXPECT_EQ(output.state, CheckState::issue);
    // These machines have no sound card at all.
    EXPECT_EQ(output.detail, "No working sound device is available, so sound plays to Dummy Output, which plays to "
                             "nothing. The system sees no sound card, so its driver or firmware may be missing. The "
                             "diagnostic report lists what the system found.");
}

TEST_F(pulse_audio_system, a_stopped_server_reads_as_unavailable_at_once_and_is_found_again_when_back)
{
    ASSERT_FALSE(audio.snapshot().readError);
    rig.stop();
    QElapsedTimer timer;
    timer.start();
    const AudioSnapshot gone = audio.snapshot();
    EXPECT_LT(timer.elapsed(), 1500);
    ASSERT_TRUE(gone.readError);
    EXPECT_EQ(*gone.readError, "The audio service is unavailable. Try checking again or reset the audio service.");
    EXPECT_TRUE(gone.devices.empty());
    EXPECT_FALSE(gone.inputActivityKnown);
    EXPECT_THROW(audio.apply(AudioSetting::Output{speakers}), AudioRepairError);

    rig.restart();
    EXPECT_TRUE(processEventsUntil([&] { return !audio.snapshot().readError; }));
}

TEST_F(pulse_audio_system, a_frozen_server_never_holds_a_caller_longer_than_about_a_second)
{
    ASSERT_FALSE(audio.snapshot().readError);
    const int server = rig.serverPid();
    ASSERT_GT(server, 0);
    ::kill(server, SIGSTOP);
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(audio.snapshot().readError);
    EXPECT_LT(timer.elapsed(), 1500);
    timer.restart();
    EXPECT_THROW(audio.apply(AudioSetting::Mute{speakers, AudioDirection::output, 0, true}), AudioRepairError);
    EXPECT_LT(timer.elapsed(), 2500);
    ::kill(server, SIGCONT);
    EXPECT_TRUE(processEventsUntil([&] { return !audio.snapshot().readError; }));
}

// A connection a caller gave up on while the server hung is the one used
// once it thaws: its events must be asked for, or live updates end for good.
TEST_F(pulse_audio_system, after_a_hang_past_the_timeout_new_devices_are_reported_live_again)
{
    int changes = 0;
    audio.startMonitoring([&] { ++changes; }, [](Date) {});
    ASSERT_FALSE(audio.snapshot().readError);
    const int server = rig.serverPid();
    ::kill(server, SIGSTOP);
    // The reading gives up; so does the next connection, which is kept.
    EXPECT_TRUE(audio.snapshot().readError);
    EXPECT_TRUE(audio.snapshot().readError);
    ::kill(server, SIGCONT);
    // The kept connection becomes ready on its own, and the next reading uses it.
    processEventsUntil([] { return false; }, std::chrono::milliseconds(500));
    ASSERT_FALSE(audio.snapshot().readError);
    processEventsUntil([] { return false; }, std::chrono::milliseconds(300));
    changes = 0;
    rig.run("pactl", {"load-module", "module-null-sink", "sink_name=after_thaw"});
    EXPECT_TRUE(processEventsUntil([&] { return changes > 0; }, std::chrono::seconds(1)));
    EXPECT_TRUE(audio.snapshot().deviceWithUID("after_thaw"));
    audio.stopMonitoring();
}

// Events closer together than the coalescing time (a volume slider dragged)
// are still read while they go on, not only once they stop.
TEST_F(pulse_audio_system, a_continuous_stream_of_events_is_read_while_it_lasts)
{
    int changes = 0;
    audio.startMonitoring([&] { ++changes; }, [](Date) {});
    ASSERT_FALSE(audio.snapshot().readError);
    processEventsUntil([] { return false; }, std::chrono::milliseconds(300));
    QProcess slider;
    slider.setProcessEnvironment(rig.environment());
    slider.start("sh", {"-c", QStringLiteral("for i in $(seq 80); do pactl set-sink-volume %1 $((40 + i % 20))%; "
                                             "sleep 0.02; done")
                              .arg(QString::fromStdString(speakers))});
    ASSERT_TRUE(slider.waitForStarted());
    changes = 0;
    processEventsUntil([&] { return slider.state() == QProcess::NotRunning; }, std::chrono::seconds(1));
    EXPECT_EQ(slider.state(), QProcess::Running) << "the events ended too soon to tell";
    EXPECT_GE(changes, 3) << "a second of events was read only " << changes << " times";
    slider.waitForFinished();
    audio.stopMonitoring();
}

// A write to a device removed since the reading is refused as gone.
TEST_F(pulse_audio_system, monitoring_reports_a_device_added_and_removed_and_the_removed_one_is_gone_for_writes)
{
    int changes = 0;
    audio.startMonitoring([&] { ++changes; }, [](Date) {});
    rig.run("pactl", {"load-module", "module-null-sink", "sink_name=late_sink"});
    EXPECT_TRUE(processEventsUntil([&] { return changes > 0; }));
    EXPECT_TRUE(audio.snapshot().deviceWithUID("late_sink"));

    changes = 0;
    rig.removeDevice("late_sink");
    EXPECT_TRUE(processEventsUntil([&] { return changes > 0; }));
    // pipewire-pulse shows the removal a moment after the unload returns; a
    // write that races it is refused as gone too, which pulse_mapping covers.
    EXPECT_TRUE(processEventsUntil([&] { return !audio.snapshot().deviceWithUID("late_sink"); }));
    EXPECT_EQ(errorOf(AudioSetting::Output{"late_sink"}), AudioRepairError::deviceGone());

    audio.stopMonitoring();
    audio.stopMonitoring();
}

}  // namespace
}  // namespace sonorel
