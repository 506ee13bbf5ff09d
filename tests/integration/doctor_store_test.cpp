#include "audio/run_task.h"
#include "store/doctor_store.h"
#include "support/live_audio_thread.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace sonorel {
namespace {

using testing::AudioRig;
using testing::processEventsUntil;

// The store over the live server on its audio thread: what monitoring logs
// when another app adds and removes a device.
TEST(doctor_store_on_a_live_server, monitoring_logs_a_device_added_and_removed_and_nothing_when_off)
{
    AudioRig rig;
    const auto audio = testing::liveAudioThread(rig);
    const QTemporaryDir dir;
    QSettings settings(dir.filePath("sonorel-doctor.conf"), QSettings::IniFormat);
    int ids = 0;
    DoctorStore store(*audio, settings,
                      StoreServices{[] { return std::chrono::floor<std::chrono::microseconds>(
                                             std::chrono::system_clock::now()); },
                                    [&ids] {
                                        Uuid id;
                                        id.bytes[15] = uint8_t(++ids);
                                        return id;
                                    }},
                      true);
    ASSERT_TRUE(processEventsUntil([&] { return store.hasRefreshed(); }));
    const auto latest = [&] {
        return store.history().entries.empty() ? std::string()
                                               : store.history().entries[0].title + ": " + store.history().entries[0].detail;
    };

    rig.run("pactl", {"load-module", "module-null-sink", "sink_name=late_sink",
                      "sink_properties=device.description=Late"});
    EXPECT_TRUE(processEventsUntil([&] { return latest() == "Audio device connected: Late"; }, std::chrono::seconds(1)))
        << latest();
    rig.removeDevice("late_sink");
    EXPECT_TRUE(
        processEventsUntil([&] { return latest() == "Audio device disconnected: Late"; }, std::chrono::seconds(1)))
        << latest();

    store.setMonitoringEnabled(false);
    const size_t logged = store.history().entries.size();
    rig.run("pactl", {"load-module", "module-null-sink", "sink_name=quiet_sink"});
    ASSERT_TRUE(processEventsUntil([&] {
        runTask(store.refresh());
        return store.snapshot().deviceWithUID("quiet_sink") != nullptr;
    }));
    EXPECT_EQ(store.history().entries.size(), logged);
}

}  // namespace
}  // namespace sonorel
