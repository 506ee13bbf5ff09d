#include "support/audio_rig.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace sonorel {
namespace {

using testing::AudioRig;
using namespace testing::rigDevices;

// `sonorel-doctor report` reads the live rig and the window's saved state,
// which it must never write: the window may be running and owns it.
TEST(report_command, prints_every_section_with_the_rig_and_the_saved_state_and_writes_nothing)
{
    AudioRig rig;
    const QTemporaryDir config;
    const QString file = config.filePath("sonorel-doctor/sonorel-doctor.conf");
    {
        QSettings saved(file, QSettings::IniFormat);
        saved.setValue("monitoring", false);
        saved.setValue("preferredOutput", R"({"uid":"gone","name":"Old Speakers","isBluetooth":false})");
        saved.setValue("activity", R"([{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","date":786902400,)"
                                   R"("title":"Output changed","detail":"Scarlett 2i2 USB","kind":"repair"}])");
    }
    QFile before(file);
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    const QByteArray savedBytes = before.readAll();

    const std::string report = rig.run(
        "sh", {"-c", "XDG_CONFIG_HOME=\"$1\" \"$0\" report", SONOREL_DOCTOR_PATH, config.path()});
    for (const std::string& line : {
             std::string("Sonorel Doctor diagnostic report\n"),
             std::string("\nMonitoring: Off\n"),
             std::string("\nOutput: Built-in Audio Analog Stereo\n"),
             std::string("\nInput: Built-in Audio Analog Stereo\n"),
             std::string("\nInput activity: No active input reported\n"),
             std::string("\nPreferred output: Old Speakers\n"),
             std::string("\n[Note] Output connection: Old Speakers is not connected."),
             std::string("\nRECOVERY\n"),
             std::string("\nAUDIO USERS (activity does not prove causation)\n"),
             std::string("\nDEVICES\n"),
             std::string("\nScarlett 2i2 USB | USB | in 0, out 2 | 22.05 kHz | alive true | volume 100% | mute false\n"),
             std::string("\nWH-1000XM4 | Bluetooth | in 1, out 0 | 16 kHz | alive true | volume external | mute unknown\n"),
             std::string("\n  output Master: volume 100%, mute false, writable volume true, mute true\n"),
             std::string("\nAPP COMPARISON\n"),
             std::string("\nRECENT ACTIVITY\n"),
             std::string(" — Output changed: Scarlett 2i2 USB\n"),
             std::string("\nThis report describes settings and reported overloads."),
         })
        EXPECT_NE(report.find(line), std::string::npos) << line << "\nin:\n" << report;
    QFile after(file);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), savedBytes);
}

// The refusals of `mic-test`: a bad period is bad input (2); a busy input is
// the tester's own blocked sentence (1). What it measures is the tester's, tested with it.
TEST(mic_test_command, refuses_a_bad_period_and_a_busy_input)
{
    AudioRig rig;
    const auto outcome = [&](const QString& arguments) {
        return rig.run("sh", {"-c", "\"$0\" mic-test $1 2>&1; echo \"status $?\"", SONOREL_DOCTOR_PATH, arguments});
    };
    EXPECT_EQ(outcome("--seconds 0"),
              "sonorel-doctor: mic-test: --seconds wants a number of seconds above 0, up to 600\nstatus 2\n");
    rig.startRecording();
    EXPECT_TRUE(testing::processEventsUntil([&] {
        return outcome("--seconds 0.2") == "sonorel-doctor: Finish the call or recording before testing input.\nstatus 1\n";
    }));
}

}  // namespace
}  // namespace sonorel
