#include "audio/run_task.h"
#include "store/doctor_store.h"
#include "support/live_audio_thread.h"

#include <QProcess>
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
    DoctorStore store(*audio, settings, StoreServices{}, true);
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

namespace sonorel {
namespace {

// A private bus stands in for the system bus, and the test for logind.
TEST(doctor_store_wake, a_wake_announced_by_logind_records_the_time_and_logs_it)
{
    const QTemporaryDir dir;
    QProcess bus;
    bus.start("dbus-daemon", {"--session", "--nofork", "--print-address",
                              "--address=unix:path=" + dir.filePath("system_bus_socket")});
    ASSERT_TRUE(bus.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());

    AudioRig rig;
    const auto audio = testing::liveAudioThread(rig);
    QSettings settings(dir.filePath("sonorel-doctor.conf"), QSettings::IniFormat);
    DoctorStore store(*audio, settings, StoreServices{}, true);
    ASSERT_TRUE(store.isWatchingWakes());
    const auto announce = [&](const char* starting) {
        QProcess::execute("dbus-send", {"--bus=" + address, "--type=signal", "/org/freedesktop/login1",
                                        "org.freedesktop.login1.Manager.PrepareForSleep", starting});
    };
    announce("boolean:true");
    announce("boolean:false");
    EXPECT_TRUE(processEventsUntil([&] { return store.lastWake().has_value(); }));
    // The rig's devices may still be arriving (and be logged); going to sleep logs nothing.
    int wakes = 0;
    for (const auto& entry : store.history().entries) {
        wakes += entry.title == "Computer woke from sleep";
        EXPECT_TRUE(entry.title == "Computer woke from sleep" || entry.title.starts_with("Audio device "))
            << entry.title;
    }
    EXPECT_EQ(wakes, 1);
    // The wake's own reading ends before the store does.
    runTask(store.refresh());

    bus.terminate();
    bus.waitForFinished();
}

}  // namespace
}  // namespace sonorel
