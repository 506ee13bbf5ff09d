// One live reading of a busy setup (12 devices, 20 playing streams), the
// nine checks of it, and a store launched over it.

#include "diagnostics/diagnostics.h"
#include "pulse/pulse_audio_system.h"
#include "store/doctor_store.h"
#include "support/audio_rig.h"
#include "support/scripted_audio_system.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

namespace {

using namespace sonorel;

std::unique_ptr<testing::AudioRig> rig;

void startBusyRig()
{
    rig = std::make_unique<testing::AudioRig>();
    // The rig brings 7 devices; 5 more make 12.
    for (int i = 0; i < 5; ++i)
        rig->run("pactl", {"load-module", "module-null-sink", QString("sink_name=extra_%1").arg(i)});
    for (int i = 0; i < 20; ++i)
        rig->startPlaying();
    // The players connect on their own time; measure once all of them play.
    for (int wait = 0; wait < 200; ++wait) {
        const std::string streams = rig->run("pactl", {"list", "short", "sink-inputs"});
        if (std::count(streams.begin(), streams.end(), '\n') >= 20)
            return;
        QThread::msleep(20);
    }
}

void snapshot(benchmark::State& state)
{
    PulseAudioSystem audio{PulseAudioOptions{rig->address()}};
    AudioSnapshot reading = audio.snapshot();
    if (reading.readError || reading.devices.size() != 12 || reading.clients.size() != 20) {
        state.SkipWithError("the rig is not the busy setup this measures");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(audio.snapshot());
}
BENCHMARK(snapshot)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void checks(benchmark::State& state)
{
    PulseAudioSystem audio{PulseAudioOptions{rig->address()}};
    const AudioSnapshot reading = audio.snapshot();
    for (auto _ : state)
        benchmark::DoNotOptimize(Diagnostics::checks(reading, std::nullopt));
}
BENCHMARK(checks)->Unit(benchmark::kMicrosecond);

// Launching the store: loading a full activity log and its first reading,
// taken on the audio thread.
void storeLaunch(benchmark::State& state)
{
    const QTemporaryDir dir;
    QSettings settings(dir.filePath("sonorel-doctor.conf"), QSettings::IniFormat);
    ActivityLog log;
    for (int n = 0; n < int(ActivityLog::capacity); ++n)
        log.add(ActivityEntry{randomUuid(), systemNow(), "Audio device connected", "Speakers " + std::to_string(n),
                              ActivityEntry::Kind::signal});
    Preferences(settings).setActivity(log);
    for (auto _ : state) {
        // A fresh connection each time: the first reading lists everything.
        AudioThread audio([address = rig->address()] {
            return AudioThread::Parts{std::make_unique<PulseAudioSystem>(PulseAudioOptions{address}),
                                      std::make_unique<testing::ScriptedRestarter>(),
                                      []() -> QCoro::Task<> { co_return; }};
        });
        DoctorStore store(audio, settings, StoreServices{}, false);
        while (!store.hasRefreshed())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (store.history().entries.size() != ActivityLog::capacity || store.snapshot().devices.size() != 12) {
            state.SkipWithError("the store did not load the log and the busy setup");
            return;
        }
    }
}
BENCHMARK(storeLaunch)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    startBusyRig();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    rig.reset();
    return 0;
}
