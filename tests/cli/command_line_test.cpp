#include "cli/command_line.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace sonorel {
namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

QString example(const char* name)
{
    return QString(SONOREL_SOURCE_DIR "/examples/") + name;
}

Outcome run(const QStringList& arguments)
{
    std::ostringstream out, err;
    Outcome result;
    result.status = runCommandLine(arguments, out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
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
    void expectRejected(const QStringList& arguments, const std::string& expectedPart)
    {
        const Outcome result = run(arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_NE(result.err.find(expectedPart), std::string::npos) << result.err;
    }

    QTemporaryDir dir;
};

TEST_F(command_line, check_prints_nine_rows_with_case_names_labels_and_null_actions)
{
    const Outcome result = run({"check", "--snapshot", example("usb-22khz.json")});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto rows = nlohmann::json::parse(result.out);
    ASSERT_EQ(rows.size(), 9u);
    const std::vector<std::string> kinds = {"output",     "volume", "bluetooth", "sampleRate",  "playback",
                                            "microphone", "stereo", "alerts",    "deviceAccess"};
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i]["kind"], kinds[i]);
        EXPECT_EQ(rows[i].size(), 4u);
    }
    EXPECT_EQ(rows[3]["state"], "Check");
    EXPECT_EQ(rows[3]["action"], "normalizeRate");
    EXPECT_EQ(rows[3]["detail"].get<std::string>().rfind("22.05 kHz limits playback bandwidth.", 0), 0u);
    EXPECT_EQ(rows[0]["state"], "Good");
    EXPECT_TRUE(rows[0]["action"].is_null());
}

TEST_F(command_line, check_weighs_the_preferred_output_file)
{
    const Outcome result = run({"check", "--snapshot", example("healthy-laptop.json"), "--preferred-output",
                            example("preferred-headphones.json")});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto output = nlohmann::json::parse(result.out)[0];
    EXPECT_EQ(output["state"], "Note");
    EXPECT_EQ(output["detail"], "WH-1000XM4 is not connected. Sound is playing through Built-in Audio Analog Stereo.");
    EXPECT_EQ(output["action"], "openBluetooth");
}

TEST_F(command_line, bad_files_are_one_clear_line_and_status_2)
{
    expectRejected({"check", "--snapshot", dir.filePath("absent.json")}, "cannot read " + dir.filePath("absent.json").toStdString());
    expectRejected({"check", "--snapshot", write("truncated.json", R"({"devices": [{"id": 1,)")}, "not valid JSON");
    expectRejected({"check", "--snapshot", write("wrong.json", R"({"capturedAt": "2026-01-01T00:00:00Z", "devices": [{"sampleRate": "fast"}]})")},
                   "devices[0].sampleRate: expected a number");
    expectRejected({"check", "--snapshot", write("date.json", R"({"capturedAt": "yesterday"})")}, "capturedAt");
    expectRejected({"check", "--snapshot", example("healthy-laptop.json"), "--preferred-output",
                    write("preferred.json", R"({"uid": "x", "name": "X"})")},
                   "isBluetooth: missing");
}

TEST_F(command_line, bad_arguments_are_one_clear_line_and_status_2)
{
    expectRejected({"frobnicate"}, "unknown command 'frobnicate'");
    expectRejected({"check", "--snapshot"}, "check: Missing value after '--snapshot'");
    expectRejected({"check", "--snapshot", example("healthy-laptop.json"), "--loud"}, "check: Unknown option 'loud'");
    expectRejected({"check", example("healthy-laptop.json")}, "unexpected argument");
}

TEST_F(command_line, plan_prints_the_quick_fix_actions_for_the_snapshot_and_outputs_given)
{
    const Outcome afterWake = run({"plan", "--intent", "afterWake", "--snapshot", example("bluetooth-call-mode.json"),
                                   "--last-working-output", example("preferred-headphones.json")});
    ASSERT_EQ(afterWake.status, 0) << afterWake.err;
    EXPECT_EQ(nlohmann::json::parse(afterWake.out), nlohmann::json({"restoreLastOutput"}));

    // Sound muted and nothing else wrong: unmuting replaces the restart.
    const Outcome noSound = run({"plan", "--intent", "noSound", "--snapshot", example("muted-output.json")});
    EXPECT_EQ(nlohmann::json::parse(noSound.out), nlohmann::json({"unmute"}));
    const Outcome appOnly = run({"plan", "--intent", "appOnly", "--snapshot", example("muted-output.json")});
    EXPECT_EQ(appOnly.out, "[]\n");
}

TEST_F(command_line, plan_rejects_an_unknown_intent_listing_the_valid_ones)
{
    expectRejected({"plan", "--intent", "No sound", "--snapshot", example("healthy-laptop.json")},
                   "plan: unknown intent 'No sound'; valid intents are noSound, playback, bluetooth, microphone, "
                   "stereo, alerts, afterWake, appOnly");
    expectRejected({"plan", "--snapshot", example("healthy-laptop.json")}, "plan: pass --intent NAME");
}

TEST_F(command_line, help_lists_the_commands)
{
    for (const char* form : {"--help", "help", "-h"}) {
        const Outcome result = run({form});
        EXPECT_EQ(result.status, 0);
        EXPECT_NE(result.out.find("check [--snapshot FILE] [--preferred-output FILE]"), std::string::npos);
    }
}

// The installed program, end to end: an unreadable reading gives nine unavailable rows.
TEST_F(command_line, the_program_prints_unavailable_rows_for_an_unreadable_system)
{
    QProcess program;
    program.start(SONOREL_DOCTOR_PATH, {"check", "--snapshot", example("unreadable.json")});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 0);
    const auto rows = nlohmann::json::parse(program.readAllStandardOutput().toStdString());
    ASSERT_EQ(rows.size(), 9u);
    for (const auto& row : rows) {
        EXPECT_EQ(row["state"], "Unavailable");
        EXPECT_EQ(row["detail"], "The audio service is not running: Connection refused");
    }
}

}  // namespace
}  // namespace sonorel
