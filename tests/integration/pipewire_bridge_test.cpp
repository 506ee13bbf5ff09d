#include "audio/audio_repair_error.h"
#include "audio/repair_coordinator.h"
#include "audio/run_task.h"
#include "pulse/pulse_audio_system.h"
#include "support/audio_rig.h"
#include "support/scripted_audio_system.h"

#include <QCoreApplication>
#include <QCoro/QCoroTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

namespace sonorel {
namespace {

using testing::AudioRig;
using testing::processEventsUntil;
using namespace testing::rigDevices;


class pipewire_bridge : public ::testing::Test {
protected:
    AudioRig rig;
    PulseAudioSystem audio{PulseAudioOptions{rig.address()}};
    testing::ScriptedRestarter restarter;
    RepairCoordinator coordinator{audio, restarter, [] { return QCoro::sleepFor(std::chrono::milliseconds(50)); }};
    int frozenClient = 0;

    void TearDown() override
    {
        if (frozenClient > 0) {
            ::kill(frozenClient, SIGCONT);
            ::kill(frozenClient, SIGTERM);
        }
        // The graph's clock is global: leave it unforced.
        if (rig.isPipeWire())
            setting("clock.force-rate", "0");
    }

    void setting(const std::string& key, const std::string& value)
    {
        rig.run("pw-metadata", {"-n", "settings", "0", QString::fromStdString(key), QString::fromStdString(value)});
    }

    std::string settings() const { return rig.run("pw-metadata", {"-n", "settings"}); }

    AudioDevice device(const std::string& uid)
    {
        const AudioSnapshot s = audio.snapshot();
        const AudioDevice* found = s.deviceWithUID(uid);
        if (!found)
            throw std::runtime_error("no device " + uid + " in the reading");
        return *found;
    }

    AudioRepairError errorOf(const AudioSetting& setting) { return testing::refusalOf(audio, setting); }
};

TEST_F(pipewire_bridge, the_graph_clock_gives_the_rates_and_buffer_on_pipewire_only)
{
    if (!rig.isPipeWire()) {
        for (const auto& d : audio.snapshot().devices) {
            SCOPED_TRACE(d.uid);
            EXPECT_FALSE(d.canSetRate);
            EXPECT_EQ(d.availableRates, (std::vector<ClosedRange<double>>{{*d.sampleRate, *d.sampleRate}}));
        }
        EXPECT_EQ(errorOf(AudioSetting::Rate{usbInterface, 44100}), AudioRepairError::unsupported());
        EXPECT_EQ(errorOf(AudioSetting::Rate{usbInterface, 22050}), AudioRepairError::unsupported());
        return;
    }
    setting("clock.allowed-rates", "[ 44100 48000 ]");
    setting("clock.force-quantum", "256");
    for (const auto& uid : {speakers, usbInterface}) {
        SCOPED_TRACE(uid);
        const AudioDevice d = device(uid);
        EXPECT_TRUE(d.canSetRate);
        EXPECT_EQ(d.availableRates, (std::vector<ClosedRange<double>>{{44100, 44100}, {48000, 48000}}));
        EXPECT_EQ(d.bufferFrames, 256u);
        ASSERT_TRUE(d.bufferRange);
        EXPECT_LE(d.bufferRange->lowerBound, 256u);
        EXPECT_GE(d.bufferRange->upperBound, 1024u);
    }
    // Unforced, each device keeps the rate the pulse server reports.
    EXPECT_EQ(device(usbInterface).sampleRate, 22050);
    setting("clock.force-quantum", "0");
    EXPECT_EQ(device(usbInterface).bufferFrames, 1024u);
}

TEST_F(pipewire_bridge, a_rate_write_forces_the_graph_reads_back_and_is_lifted_by_the_own_rate)
{
    if (!rig.isPipeWire()) {
        EXPECT_THROW(audio.setNominalRate(usbInterface, 48000), AudioRepairError);
        return;
    }
    setting("clock.allowed-rates", "[ 44100 48000 ]");
    audio.apply(AudioSetting::Rate{usbInterface, 44100});
    EXPECT_EQ(device(usbInterface).sampleRate, 44100);
    EXPECT_NE(settings().find("key:'clock.force-rate' value:'44100'"), std::string::npos);
    // The force holds for the whole graph.
    EXPECT_EQ(device(speakers).sampleRate, 44100);

    EXPECT_EQ(errorOf(AudioSetting::Rate{usbInterface, 32000}), AudioRepairError::unsupported());
    EXPECT_EQ(errorOf(AudioSetting::Rate{usbInterface, 44100.5}), AudioRepairError::unsupported());
    EXPECT_EQ(errorOf(AudioSetting::Rate{"gone", 44100}), AudioRepairError::deviceGone());

    audio.setNominalRate(usbInterface, 22050);
    EXPECT_EQ(device(usbInterface).sampleRate, 22050);
    EXPECT_NE(settings().find("key:'clock.force-rate' value:'0'"), std::string::npos);
}

TEST_F(pipewire_bridge, normalize_rate_repairs_the_usb_interface_end_to_end_and_undo_lifts_the_force)
{
    // Through the backend, whose writes wait until its own view shows the new default.
    audio.setDefaultOutput(usbInterface);
    ASSERT_EQ(audio.snapshot().outputDevice()->uid, usbInterface);
    if (!rig.isPipeWire()) {
        EXPECT_THROW(runTask(coordinator.perform(RepairAction::normalizeRate, std::nullopt, std::nullopt)),
                     AudioRepairError);
        EXPECT_EQ(device(usbInterface).sampleRate, 22050);
        return;
    }
    EXPECT_EQ(runTask(coordinator.perform(RepairAction::normalizeRate, std::nullopt, std::nullopt)),
              "Output format is now 48 kHz. PipeWire runs the whole audio graph at this rate, so every device uses it.");
    EXPECT_EQ(device(usbInterface).sampleRate, 48000);
    ASSERT_EQ(coordinator.lastChanges().size(), 1u);
    coordinator.undo(coordinator.lastChanges());
    EXPECT_EQ(device(usbInterface).sampleRate, 22050);
    EXPECT_NE(settings().find("key:'clock.force-rate' value:'0'"), std::string::npos);
}

TEST_F(pipewire_bridge, a_stalled_client_is_an_overload_shown_only_while_its_output_is_the_default)
{
    std::vector<Date> overloads;
    audio.startMonitoring([] {}, [&](Date at) { overloads.push_back(at); });
    ASSERT_FALSE(audio.snapshot().readError);
    if (!rig.isPipeWire()) {
        // PulseAudio has no overload report: a playing client changes nothing.
        rig.startPlaying(speakers);
        processEventsUntil([] { return false; }, std::chrono::milliseconds(500));
        EXPECT_TRUE(overloads.empty());
        EXPECT_TRUE(audio.snapshot().overloadDates.empty());
        return;
    }
    frozenClient = rig.startStalledPlayer(speakers);
    ASSERT_TRUE(processEventsUntil([&] { return !overloads.empty(); }));

    AudioSnapshot s = audio.snapshot();
    EXPECT_EQ(s.outputDevice()->uid, speakers);
    ASSERT_FALSE(s.overloadDates.empty());
    EXPECT_EQ(s.lastOverload, s.overloadDates.back());
    EXPECT_GE(s.recentOverloadCount(), 1);
    EXPECT_EQ(s.overloadDates.front(), overloads.front());

    audio.stopMonitoring();
    audio.setDefaultOutput(headphones);
    s = audio.snapshot();
    EXPECT_TRUE(s.overloadDates.empty());
    EXPECT_FALSE(s.lastOverload);
    // Back on the output that reported them, they show again.
    audio.setDefaultOutput(speakers);
    EXPECT_FALSE(audio.snapshot().overloadDates.empty());
}

TEST_F(pipewire_bridge, a_frozen_or_restarted_pipewire_never_holds_the_caller_and_is_found_again)
{
    if (!rig.isPipeWire()) {
        EXPECT_FALSE(device(speakers).canSetRate);
        return;
    }
    ASSERT_TRUE(device(speakers).canSetRate);
    const std::string dir = rig.run("sh", {"-c", "echo -n $SONOREL_RIG_DIR"});
    std::ifstream pids(dir + "/pids");
    int daemon = 0;
    for (int pid = 0; pids >> pid;) {
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        if (std::getline(comm, name) && name == "pipewire")
            daemon = pid;
    }
    ASSERT_GT(daemon, 0);

    ::kill(daemon, SIGSTOP);
    QElapsedTimer timer;
    timer.start();
    const AudioSnapshot frozen = audio.snapshot();
    EXPECT_LT(timer.elapsed(), 1500);
    for (const auto& d : frozen.devices)
        EXPECT_FALSE(d.canSetRate) << d.uid;
    timer.restart();
    EXPECT_EQ(errorOf(AudioSetting::Rate{speakers, 44100}),
              AudioRepairError::system(
                  "The audio service is unavailable. Try checking again or reset the audio service."));
    EXPECT_LT(timer.elapsed(), 1500);
    ::kill(daemon, SIGCONT);
    EXPECT_TRUE(processEventsUntil([&] { return device(speakers).canSetRate; }));

    rig.restart();
    EXPECT_TRUE(processEventsUntil([&] {
        const AudioSnapshot s = audio.snapshot();
        return !s.readError && s.deviceWithUID(speakers) && s.deviceWithUID(speakers)->canSetRate;
    }));
}

}  // namespace
}  // namespace sonorel

namespace sonorel {
namespace {

// The pulse side reads the rig through a socket whose path names no runtime
// directory, while libpipewire's own choice is another PipeWire: the bridge
// must find that it is not the pulse side's server and touch nothing there.
TEST(pipewire_bridge_elsewhere, another_pipewire_is_never_read_or_written)
{
    AudioRig rig;
    AudioRig other("pipewire");
    const QTemporaryDir dir;
    const QString socket = dir.filePath("pulse-socket");
    ASSERT_TRUE(QFile::link(QString::fromStdString(rig.address().substr(std::string("unix:").size())), socket));
    const std::string otherRemote = other.run("sh", {"-c", "echo -n $XDG_RUNTIME_DIR/pipewire-0"});
    qputenv("PIPEWIRE_REMOTE", QByteArray::fromStdString(otherRemote));

    {
        PulseAudioSystem audio{PulseAudioOptions{"unix:" + socket.toStdString()}};
        testing::ScriptedRestarter restarter;
        RepairCoordinator coordinator{audio, restarter, [] { return QCoro::sleepFor(std::chrono::milliseconds(50)); }};
        audio.setDefaultOutput(usbInterface);
        const AudioSnapshot s = audio.snapshot();
        ASSERT_FALSE(s.readError);
        for (const auto& d : s.devices)
            EXPECT_FALSE(d.canSetRate) << d.uid;
        EXPECT_THROW(runTask(coordinator.perform(RepairAction::normalizeRate, std::nullopt, std::nullopt)),
                     AudioRepairError);
        EXPECT_EQ(s.deviceWithUID(usbInterface)->sampleRate, 22050);
    }
    qunsetenv("PIPEWIRE_REMOTE");
    EXPECT_EQ(other.run("pw-metadata", {"-n", "settings", "0", "clock.force-rate"}).find("value:'44100'"),
              std::string::npos);
    EXPECT_EQ(other.run("pw-metadata", {"-n", "settings", "0", "clock.force-rate"}).find("value:'48000'"),
              std::string::npos);
}

}  // namespace
}  // namespace sonorel
