#include "audio/audio_repair_error.h"
#include "audio/run_task.h"
#include "support/live_audio_thread.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

namespace sonorel {
namespace {

using testing::AudioRig;

// While the audio side waits on a frozen server, the caller's thread (the
// window's) keeps running its timers on time.
TEST(audio_thread_on_a_frozen_server, the_callers_timers_keep_firing_on_time)
{
    AudioRig rig;
    const auto audio = testing::liveAudioThread(rig);
    AudioThread& thread = *audio;
    ASSERT_FALSE(runTask(thread.snapshot()).readError);

    constexpr int interval = 20;
    QElapsedTimer clock;
    qint64 last = 0, worstLateness = 0;
    int ticks = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worstLateness = std::max(worstLateness, now - last - interval);
        last = now;
        ++ticks;
    });

    ::kill(rig.serverPid(), SIGSTOP);
    clock.start();
    ticker.start(interval);
    EXPECT_TRUE(runTask(thread.snapshot()).readError);
    const RepairOutcome outcome = runTask(thread.perform(RepairAction::unmute, std::nullopt, std::nullopt));
    EXPECT_FALSE(outcome.message);
    EXPECT_THROW(runTask(thread.setDefaultOutput(testing::rigDevices::hdmi)), AudioRepairError);
    ticker.stop();
    ::kill(rig.serverPid(), SIGCONT);

    // Each call above waits most of a second on the frozen server.
    EXPECT_GT(clock.elapsed(), 1500);
    EXPECT_GT(ticks, 50);
    EXPECT_LT(worstLateness, 100);
}

}  // namespace
}  // namespace sonorel
