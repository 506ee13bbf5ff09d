#include "audio/run_task.h"
#include "pulse/audio_service_restarter.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sonorel;

namespace {

AudioRepairError errorOf(QCoro::Task<void> task)
{
    try {
        runTask(std::move(task));
    } catch (const AudioRepairError& error) {
        return error;
    }
    throw std::runtime_error("no error");
}

TEST(restart_failure, markers_come_first_then_a_dismissed_prompt_then_the_trimmed_text)
{
    EXPECT_EQ(restartFailure(1, "SONOREL_INVALID_HELPER\n").description(),
              "The audio reset tool failed signature verification. Rebuild or reinstall Sonorel Doctor.");
    EXPECT_EQ(restartFailure(126, "-128 User canceled SONOREL_INPUT_ACTIVE"), AudioRepairError::recordingActive());
    EXPECT_EQ(restartFailure(24, "SONOREL_INPUT_UNKNOWN\n"), AudioRepairError::inputActivityUnknown());
    EXPECT_EQ(restartFailure(126, ""), AudioRepairError::cancelled());
    EXPECT_EQ(restartFailure(1, "execution error: User cancelled. (-128)"), AudioRepairError::cancelled());
    EXPECT_EQ(restartFailure(127, "  Not authorized\n").description(),
              "The audio service could not be restarted. Not authorized");
    EXPECT_EQ(restartFailure(1, "\xff\xfe").description(),
              "The audio service could not be restarted. Administrator authorization failed.");
    EXPECT_EQ(restartFailure(26, "").description(), "The audio service could not be restarted.");
}

// A stand-in tool at an awkward path: it reports its argument and refuses.
class audio_service_restarter : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString tool = dir.filePath(QStringLiteral("it's \"a\" \\ tool"));
    QByteArray digest;
    QString record = dir.filePath(QStringLiteral("ran"));
    std::vector<QString> programs;

    void SetUp() override
    {
        QFile file(tool);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho \"$0 $1\" > '" + record.toUtf8() + "'\necho SONOREL_INPUT_ACTIVE >&2\nexit 23\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                            | QFile::ExeOther);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        digest = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
    }

    AudioServiceRestarter restarter(std::optional<std::string> serverUser)
    {
        AudioServiceRestarter::Options options;
        options.tool = tool;
        options.digest = digest;
        options.userID = 1000;
        options.userName = "alex";
        options.serverUser = [serverUser] { return serverUser; };
        // Runs the script as ourselves: the staging steps without a password.
        options.elevator = [this](const QString& script) {
            programs.push_back(QStringLiteral("elevated"));
            return std::pair{QStringLiteral("/bin/sh"), QStringList{QStringLiteral("-c"), script}};
        };
        return AudioServiceRestarter(std::move(options));
    }

    QString ran() const
    {
        QFile file(record);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
    }
};

TEST_F(audio_service_restarter, runs_the_tool_as_the_user_for_their_own_server_and_staged_for_another)
{
    auto own = restarter("alex");
    EXPECT_EQ(errorOf(own.restart()), AudioRepairError::recordingActive());
    EXPECT_EQ(ran(), tool + QStringLiteral(" 1000"));
    EXPECT_TRUE(programs.empty());

    auto systemWide = restarter("pulse");
    EXPECT_EQ(errorOf(systemWide.restart()), AudioRepairError::recordingActive());
    EXPECT_EQ(programs.size(), 1u);
    // The staged copy ran, from a directory that is gone again.
    EXPECT_TRUE(ran().startsWith(QStringLiteral("/tmp/sonorel-doctor-reset.")));
    EXPECT_TRUE(ran().endsWith(QStringLiteral("/sonorel-audio-reset 1000")));
    EXPECT_FALSE(QFile::exists(ran().section(QLatin1Char(' '), 0, 0)));
}

TEST_F(audio_service_restarter, runs_nothing_when_the_tool_is_not_the_one_built)
{
    QFile::remove(record);
    digest = QByteArray(64, '0');
    auto changed = restarter("pulse");
    EXPECT_EQ(errorOf(changed.restart()).description(),
              "The signed audio reset tool is missing or has changed. Rebuild or reinstall Sonorel Doctor before "
              "resetting audio.");
    EXPECT_TRUE(programs.empty());
    EXPECT_FALSE(QFile::exists(record));
}

TEST(reset_tool_path, is_the_installed_tool_beside_the_program_else_the_build_trees)
{
    QTemporaryDir prefix;
    QDir(prefix.path()).mkpath(QStringLiteral("bin"));
    QDir(prefix.path()).mkpath(QStringLiteral("libexec/sonorel-doctor"));
    const auto executable = [](const QString& path) {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    };
    const QString bin = prefix.filePath(QStringLiteral("bin"));
    EXPECT_EQ(resetToolPath(bin), QString());
    executable(bin + QStringLiteral("/sonorel-audio-reset"));
    EXPECT_EQ(resetToolPath(bin), bin + QStringLiteral("/sonorel-audio-reset"));
    executable(prefix.filePath(QStringLiteral("libexec/sonorel-doctor/sonorel-audio-reset")));
    EXPECT_EQ(resetToolPath(bin), prefix.filePath(QStringLiteral("libexec/sonorel-doctor/sonorel-audio-reset")));
}

}  // namespace
