#include "audio/run_task.h"
#include "pulse/audio_service_restarter.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

TEST(restart_failure, is_the_tools_marker_as_its_error_or_its_line_after_the_sentence)
{
    EXPECT_EQ(restartFailure("SONOREL_INPUT_ACTIVE\n"), AudioRepairError::recordingActive());
    EXPECT_EQ(restartFailure("SONOREL_INPUT_UNKNOWN\n"), AudioRepairError::inputActivityUnknown());
    const AudioRepairError unanswered = restartFailure("SONOREL_SERVER_NOT_ANSWERING\n");
    EXPECT_EQ(unanswered.errorCase(), AudioRepairError::Case::serverNotAnswering);
    EXPECT_EQ(unanswered.description(), "The audio service is not answering, so Doctor can't check whether something "
                                        "is recording. Restart it anyway?");
    EXPECT_EQ(restartFailure("  The audio socket given is not a socket of user 1000.\n").description(),
              "The audio service could not be restarted. The audio socket given is not a socket of user 1000.");
    // Text that is not the tool's own line says nothing to the user.
    EXPECT_EQ(restartFailure("\xff\xfe").description(), "The audio service could not be restarted.");
    EXPECT_EQ(restartFailure("").description(), "The audio service could not be restarted.");
}

TEST(socket_peer_user, is_the_account_listening_there_and_absent_where_nothing_listens)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("native")).toStdString();
    EXPECT_EQ(socketPeerUser(path), std::nullopt);
    const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listening, 1), 0);
    EXPECT_EQ(socketPeerUser(path), getuid());
    close(listening);
}

// A stand-in tool at an awkward path: it reports its arguments and refuses.
class audio_service_restarter : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString tool = dir.filePath(QStringLiteral("it's \"a\" \\ tool"));
    QByteArray digest;
    QString record = dir.filePath(QStringLiteral("ran"));
    std::vector<std::string> askedOwner;

    void SetUp() override
    {
        QFile file(tool);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho \"$0 $*\" > '" + record.toUtf8() + "'\necho SONOREL_INPUT_ACTIVE >&2\nexit 23\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                            | QFile::ExeOther);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        digest = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
    }

    // The user is 1000; the server at `address` listens as `owner`.
    AudioServiceRestarter restarter(std::optional<std::string> address, std::optional<uid_t> owner = 1000)
    {
        QFile::remove(record);
        AudioServiceRestarter::Options options;
        options.tool = tool;
        options.digest = digest;
        options.userID = 1000;
        options.serverAddress = [address] { return address; };
        options.socketOwner = [this, owner](const std::string& socket) {
            askedOwner.push_back(socket);
            return owner;
        };
        return AudioServiceRestarter(std::move(options));
    }

    QString ran() const
    {
        QFile file(record);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
    }
};

TEST_F(audio_service_restarter, runs_the_tool_as_the_user_on_the_socket_the_app_reads)
{
    auto prefixed = restarter("unix:/srv/sound/pulse/native");
    EXPECT_EQ(errorOf(prefixed.restart()), AudioRepairError::recordingActive());
    EXPECT_EQ(ran(), tool + QStringLiteral(" 1000 --socket /srv/sound/pulse/native"));
    EXPECT_EQ(askedOwner, std::vector<std::string>{"/srv/sound/pulse/native"});
    EXPECT_EQ(errorOf(prefixed.restart(true)), AudioRepairError::recordingActive());
    EXPECT_EQ(ran(), tool + QStringLiteral(" 1000 --socket /srv/sound/pulse/native --restart-unanswered"));

    // libpulse names the sockets it found by itself without the prefix; a
    // listener that could not be asked leaves the decision to the tool.
    auto found = restarter("/run/user/1000/pulse/native", std::nullopt);
    EXPECT_EQ(errorOf(found.restart()), AudioRepairError::recordingActive());
    EXPECT_EQ(ran(), tool + QStringLiteral(" 1000 --socket /run/user/1000/pulse/native"));

    auto neverConnected = restarter(std::nullopt);
    EXPECT_EQ(errorOf(neverConnected.restart()), AudioRepairError::recordingActive());
    EXPECT_EQ(ran(), tool + QStringLiteral(" 1000"));
}

TEST_F(audio_service_restarter, runs_nothing_for_a_server_it_cannot_restart_or_a_tool_not_the_one_built)
{
    const auto refusal = [this](std::optional<std::string> address, std::optional<uid_t> owner) {
        auto refusing = restarter(std::move(address), owner);
        const std::string sentence = errorOf(refusing.restart()).description();
        EXPECT_FALSE(QFile::exists(record)) << sentence;
        return sentence;
    };
    // Decided by who listens on the socket, not by what the server says of itself.
    EXPECT_EQ(refusal("unix:/run/pulse/native", 0),
              "The audio service runs for the whole system, not your account, so its administrator restarts it.");
    EXPECT_EQ(refusal("tcp:192.168.1.20:4713", 1000),
              "The audio service is reached over the network, so Doctor can't restart it.");
    digest = QByteArray(64, '0');
    EXPECT_EQ(refusal("unix:/run/user/1000/pulse/native", 1000),
              "The signed audio reset tool is missing or has changed. Rebuild or reinstall Sonorel Doctor before "
              "resetting audio.");
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
