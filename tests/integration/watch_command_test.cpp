#include "support/audio_rig.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>

namespace sonorel {
namespace {

using nlohmann::json;
using testing::AudioRig;
using testing::processEventsUntil;
using namespace testing::rigDevices;
using namespace std::chrono_literals;

// `sonorel-doctor watch --checks` on the rig, its lines taken as they come.
class Watch {
public:
    Watch(const AudioRig& rig, const QString& configHome)
    {
        QProcessEnvironment environment = rig.environment();
        environment.insert("XDG_CONFIG_HOME", configHome);
        m_process.setProcessEnvironment(environment);
        m_process.start(SONOREL_DOCTOR_PATH, {"watch", "--checks"});
    }
    ~Watch()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    // The first line from now on with this title (a checks line for ""); null when none came in time.
    json next(const std::string& title, std::chrono::milliseconds deadline)
    {
        json found;
        processEventsUntil(
            [&] {
                if (found.is_null())
                    found = take(title);
                return !found.is_null();
            },
            deadline);
        return found;
    }
    int count(const std::string& title) const
    {
        return int(std::count_if(m_lines.begin(), m_lines.end(), [&](const json& l) { return titled(l, title); }));
    }
    QProcess& process() { return m_process; }
    // Output after the last complete line.
    const std::string& partialLine() const { return m_buffer; }

private:
    static bool titled(const json& line, const std::string& title)
    {
        return title.empty() ? line.is_array() : line.is_object() && line["title"] == title;
    }
    json take(const std::string& title)
    {
        m_buffer += m_process.readAllStandardOutput().toStdString();
        for (size_t end; (end = m_buffer.find('\n')) != std::string::npos; m_buffer.erase(0, end + 1))
            m_lines.push_back(json::parse(m_buffer.substr(0, end)));
        for (; m_taken < m_lines.size(); ++m_taken)
            if (titled(m_lines[m_taken], title))
                return m_lines[m_taken++];
        return nullptr;
    }

    QProcess m_process;
    std::string m_buffer;
    std::vector<json> m_lines;
    size_t m_taken = 0;
};

// Everything under `dir`, with its contents.
std::map<QString, QByteArray> filesUnder(const QString& dir)
{
    std::map<QString, QByteArray> files;
    for (QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        QFile file(it.next());
        file.open(QIODevice::ReadOnly);
        files[file.fileName()] = file.readAll();
    }
    return files;
}

// Devices coming and going and another program's output choice are lines within
// a second; the remembered output is read and no settings are written; SIGTERM
// (on PulseAudio) or a hang-up (on PipeWire, as an ssh session drops) ends it
// at once, cleanly, its temporary settings gone.
TEST(watch_command, prints_what_others_change_at_once_writes_no_settings_and_ends_on_sigterm_or_a_hang_up)
{
    AudioRig rig;
    const QTemporaryDir config;
    QDir(config.path()).mkdir("tmp");
    qputenv("TMPDIR", QFile::encodeName(config.filePath("tmp")));
    QSettings(config.filePath("sonorel-doctor/sonorel-doctor.conf"), QSettings::IniFormat)
        .setValue("preferredOutput", R"({"uid":"gone","name":"Old Speakers","isBluetooth":false})");
    const QString appSettings = config.filePath("sonorel-doctor");
    const auto before = filesUnder(appSettings);
    Watch watch(rig, config.path());
    const json checks = watch.next("", 5s);
    ASSERT_TRUE(checks.is_array()) << watch.process().readAllStandardError().toStdString();
    EXPECT_EQ(checks.size(), 9u);
    EXPECT_TRUE(checks[0]["detail"].get<std::string>().starts_with("Old Speakers is not connected.")) << checks;

    rig.run("pactl", {"load-module", "module-null-sink",
                      "sink_name=watch_sink sink_properties=device.description=Watched"});
    const json connected = watch.next("Audio device connected", 1s);
    EXPECT_EQ(connected["detail"], "Watched");
    EXPECT_EQ(connected["kind"], "signal");
    rig.removeDevice("watch_sink");
    EXPECT_EQ(watch.next("Audio device disconnected", 1s)["detail"], "Watched");
    rig.run("pactl", {"set-default-sink", QString::fromStdString(usbInterface)});
    // On PipeWire the session manager applies another app's default a moment
    // later (later still on a busy machine); the next monitoring look finds it at the latest.
    EXPECT_EQ(watch.next("Output changed", rig.isPipeWire() ? 6s : 1s)["detail"], "Scarlett 2i2 USB");

    QElapsedTimer timer;
    timer.start();
    ::kill(watch.process().processId(), rig.isPipeWire() ? SIGHUP : SIGTERM);
    ASSERT_TRUE(watch.process().waitForFinished(2000));
    qunsetenv("TMPDIR");
    EXPECT_TRUE(QDir(config.filePath("tmp")).isEmpty());
    EXPECT_LT(timer.elapsed(), 500);
    EXPECT_EQ(watch.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(watch.process().exitCode(), 0);
    watch.next("-", 0ms);
    EXPECT_EQ(watch.partialLine(), "");
    EXPECT_EQ(watch.process().readAllStandardError(), "");
    EXPECT_EQ(filesUnder(appSettings), before);
}

// On PipeWire a client stalled in its cycle is one overload line within two
// seconds, then none for five; PulseAudio reports no overloads.
TEST(watch_command, a_stalled_player_is_one_overload_line)
{
    AudioRig rig;
    const QTemporaryDir config;
    Watch watch(rig, config.path());
    ASSERT_TRUE(watch.next("", 5s).is_array());
    if (!rig.isPipeWire()) {
        rig.startPlaying(speakers);
        EXPECT_EQ(watch.next("Playback deadline missed", 1s), nullptr);
        return;
    }
    const int player = rig.startStalledPlayer(speakers);
    const json overload = watch.next("Playback deadline missed", 2s);
    EXPECT_EQ(overload["detail"], "The audio service reported an overload on the selected output.");
    EXPECT_EQ(watch.next("Playback deadline missed", 2s), nullptr);
    ::kill(player, SIGCONT);
    ::kill(player, SIGTERM);
}

// The server gone is one read-error line however long it stays away, and its
// return one recovery line.
TEST(watch_command, the_server_gone_and_back_is_one_line_each)
{
    AudioRig rig;
    const QTemporaryDir config;
    Watch watch(rig, config.path());
    ASSERT_TRUE(watch.next("", 5s).is_array());
    rig.stop();
    EXPECT_FALSE(watch.next("Audio service unavailable", 2s).is_null());
    EXPECT_EQ(watch.next("Audio service unavailable", 1500ms), nullptr);
    rig.restart();
    EXPECT_FALSE(watch.next("Audio service available again", 3s).is_null());
    watch.next("-", 1500ms);
    EXPECT_EQ(watch.count("Audio service unavailable"), 1);
    EXPECT_EQ(watch.count("Audio service available again"), 1);
}

// A reader that goes away ends it quietly; output that cannot be written is
// status 1 with one line on stderr, at the first line.
TEST(watch_command, ends_quietly_when_its_reader_goes_and_with_status_1_on_a_full_disk)
{
    AudioRig rig;
    const QTemporaryDir config;
    const auto run = [&](const QString& script) {
        return rig.run("bash", {"-c", "export XDG_CONFIG_HOME=\"$1\"; " + script, SONOREL_DOCTOR_PATH, config.path()});
    };
    EXPECT_EQ(run(R"("$0" watch --checks 2>"$1/err" | head -1 >/dev/null; echo "status ${PIPESTATUS[0]}"; cat "$1/err")"),
              "status 0\n");
    EXPECT_EQ(run(R"("$0" watch --checks 2>&1 >/dev/full; echo "status $?")"),
              "sonorel-doctor: cannot write to standard output: No space left on device\nstatus 1\n");
}

}  // namespace
}  // namespace sonorel
