#include "cli/command_line.h"
#include "sonorel_config.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace sonorel {
namespace {

using nlohmann::json;

QString example(const char* name)
{
    return QString(SONOREL_SOURCE_DIR "/examples/") + name;
}

// Runs a command that should succeed and returns the JSON it printed.
json printed(const QStringList& arguments)
{
    std::ostringstream out, err;
    EXPECT_EQ(runCommandLine(arguments, out, err), 0) << err.str();
    return json::parse(out.str());
}

class command_line : public ::testing::Test {
protected:
    QString write(const QString& name, const std::string& contents)
    {
        const QString path = dir.filePath(name);
        std::ofstream(path.toStdString()) << contents;
        return path;
    }

    // Bad input: status 2, nothing on stdout, exactly one line on stderr naming the problem.
    static void expectRejected(const QStringList& arguments, const std::string& expectedPart)
    {
        std::ostringstream out, err;
        EXPECT_EQ(runCommandLine(arguments, out, err), 2);
        EXPECT_EQ(out.str(), "");
        const std::string line = err.str();
        EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
        EXPECT_NE(line.find(expectedPart), std::string::npos) << line;
    }

    QTemporaryDir dir;
};

TEST_F(command_line, check_prints_nine_rows_with_case_names_labels_and_null_actions)
{
    const auto rows = printed({"check", "--snapshot", example("usb-22khz.json")});
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(rows[0]["kind"], "output");
    EXPECT_EQ(rows[0]["state"], "Good");
    EXPECT_TRUE(rows[0]["action"].is_null());
    EXPECT_EQ(rows[3]["kind"], "sampleRate");
    EXPECT_EQ(rows[3]["state"], "Check");
    EXPECT_EQ(rows[3]["action"], "normalizeRate");
}

TEST_F(command_line, check_and_plan_weigh_the_output_files_given)
{
    const auto output = printed({"check", "--snapshot", example("healthy-laptop.json"), "--preferred-output",
                                 example("preferred-headphones.json")})[0];
    EXPECT_TRUE(output["detail"].get<std::string>().starts_with("WH-1000XM4 is not connected.")) << output;
    EXPECT_EQ(output["action"], "openBluetooth");

    EXPECT_EQ(printed({"plan", "--intent", "afterWake", "--snapshot", example("bluetooth-call-mode.json"),
                       "--last-working-output", example("preferred-headphones.json")}),
              json({"restoreLastOutput"}));
    // A card left in its headset profile with nobody recording: the card is switched back.
    EXPECT_EQ(printed({"plan", "--intent", "bluetooth", "--snapshot", example("bluetooth-stuck-after-call.json")}),
              json({"reselectOutput"}));
    EXPECT_EQ(printed({"plan", "--intent", "noSound", "--snapshot", example("muted-output.json")}), json({"unmute"}));
    EXPECT_EQ(printed({"plan", "--intent", "appOnly", "--snapshot", example("muted-output.json")}), json::array());
}

TEST_F(command_line, bad_files_are_one_clear_line_and_status_2)
{
    const QString absent = dir.filePath("absent.json");
    expectRejected({"check", "--snapshot", absent}, "cannot read " + absent.toStdString());
    expectRejected({"check", "--snapshot", write("truncated.json", R"({"devices": [{"id": 1,)")}, "not valid JSON");
    const QString wrong = write("wrong.json", R"({"capturedAt": "2026-01-01T00:00:00Z", "devices": [{"rate": 1},
        {"sampleRate": "fast"}]})");
    expectRejected({"check", "--snapshot", wrong}, wrong.toStdString() + ": devices[1].sampleRate: expected a number");
    expectRejected({"check", "--snapshot", example("healthy-laptop.json"), "--preferred-output",
                    write("preferred.json", R"({"uid": "x", "name": "X"})")},
                   "isBluetooth: missing");
}

TEST_F(command_line, endless_or_huge_input_is_refused_before_it_is_read_whole)
{
    expectRejected({"check", "--snapshot", "/dev/zero"}, "/dev/zero: too large (over 8 MiB)");
    expectRejected({"undo", "--changes", write("huge.json", std::string(8 * 1024 * 1024 + 1, ' '))}, "too large");
}

TEST_F(command_line, output_that_does_not_arrive_is_a_failure_said_on_stderr)
{
    std::ostream lost(nullptr);  // every write fails, as on a full disk or a closed stdout
    std::ostringstream err;
    EXPECT_EQ(runCommandLine({"check", "--snapshot", example("healthy-laptop.json")}, lost, err), 1);
    EXPECT_EQ(err.str().rfind("sonorel-doctor: cannot write to standard output", 0), 0u) << err.str();
}

TEST_F(command_line, bad_arguments_are_one_clear_line_and_status_2)
{
    expectRejected({"frobnicate"}, "unknown command 'frobnicate'");
    expectRejected({"check", "--snapshot"}, "check: Missing value after '--snapshot'");
    expectRejected({"check", "--snapshot", example("healthy-laptop.json"), "--loud"}, "check: Unknown option 'loud'");
    expectRejected({"check", example("healthy-laptop.json")}, "unexpected argument");
    expectRejected({"plan", "--intent", "No sound", "--snapshot", example("healthy-laptop.json")},
                   "plan: unknown intent 'No sound'; valid intents are noSound, playback, bluetooth, microphone, "
                   "stereo, alerts, afterWake, appOnly");
    expectRejected({"plan", "--snapshot", example("healthy-laptop.json")}, "plan: pass --intent NAME");
}

TEST_F(command_line, help_lists_the_commands)
{
    for (const char* form : {"--help", "help", "-h"}) {
        std::ostringstream out, err;
        EXPECT_EQ(runCommandLine({form}, out, err), 0);
        EXPECT_NE(out.str().find("check [--snapshot FILE] [--preferred-output FILE]"), std::string::npos);
    }
}

// The installed program, end to end: an unreadable reading gives nine unavailable rows.
TEST_F(command_line, the_program_prints_unavailable_rows_for_an_unreadable_system)
{
    QProcess program;
    program.start(SONOREL_DOCTOR_PATH, {"check", "--snapshot", example("unreadable.json")});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 0);
    const auto rows = json::parse(program.readAllStandardOutput().toStdString());
    ASSERT_EQ(rows.size(), 9u);
    for (const auto& row : rows)
        EXPECT_EQ(row["detail"], "The audio service is not running: Connection refused");

    // The version the feedback client sends is the build's.
    program.start(SONOREL_DOCTOR_PATH, {"--version"});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.readAllStandardOutput().toStdString(), "sonorel-doctor " SONOREL_VERSION "\n");
}

// A FIFO where the window's settings are kept would hold the report up for good.
TEST_F(command_line, report_leaves_out_settings_it_does_not_read_and_says_so)
{
    const QString file = dir.filePath("sonorel-doctor/sonorel-doctor.conf");
    ASSERT_TRUE(QDir(dir.path()).mkdir("sonorel-doctor"));
    ASSERT_EQ(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", dir.path());
    environment.insert("PULSE_SERVER", "unix:" + dir.filePath("no-server"));
    program.setProcessEnvironment(environment);
    program.start(SONOREL_DOCTOR_PATH, {"report"});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(program.readAllStandardOutput().startsWith("Sonorel Doctor diagnostic report\n"));
    EXPECT_EQ(program.readAllStandardError().toStdString(),
              "sonorel-doctor: report: The settings file " + file.toStdString()
                  + " is not a regular file; the report leaves out the saved settings and activity\n");
}

}  // namespace
}  // namespace sonorel
