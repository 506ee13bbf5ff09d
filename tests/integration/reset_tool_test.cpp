#include "support/audio_rig.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <functional>

namespace sonorel {
namespace {

using testing::processEventsUntil;
using namespace testing::rigDevices;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Bounded well inside the test's own time limit, so that tear-down still runs.
Outcome runProgram(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return {-1, {}, program.toStdString() + " did not finish in 20 seconds"};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

// A throw-away account whose own sound server (the rig, supervised as a
// service manager would) answers at /run/user/UID, as a logged-in user's
// does. The programs are copied where that account can run them.
class ThrowAwayUser {
public:
    ThrowAwayUser()
    {
        removeLeftovers();
        name = QStringLiteral("sonorel-rig-%1").arg(QRandomGenerator::global()->bounded(1 << 24), 6, 16, QChar('0'));
        check(runProgram("useradd", {"--system", "--no-create-home", "--shell", "/usr/sbin/nologin", "--comment",
                                     QStringLiteral("sonorel test %1").arg(getpid()), name}));
        const passwd* account = getpwnam(name.toLocal8Bit().constData());
        if (!account)
            throw std::runtime_error("no throw-away user");
        uid = account->pw_uid;
        char pattern[] = "/tmp/sonorel-user-rig.XXXXXX";
        dir = QString::fromLocal8Bit(mkdtemp(pattern));
        QDir(dir).mkdir("bin");
        for (const QString& program : {QStringLiteral(SONOREL_DOCTOR_PATH), resetTool()})
            QFile::copy(program, dir + "/bin/" + QFileInfo(program).fileName());
        QFile::copy(SONOREL_SOURCE_DIR "/scripts/audio-rig", dir + "/audio-rig");
        check(runProgram("chown", {"-R", name, dir}));
        check(runProgram("chmod", {"-R", "go+rx", dir}));
        startServer("rig");
        QDir().mkpath("/run/user");
        runtime = QStringLiteral("/run/user/%1").arg(uid);
        if (!QFile::link(dir + "/rig/run", runtime))
            throw std::runtime_error("/run/user/UID is taken");
    }
    ~ThrowAwayUser()
    {
        if (::testing::Test::HasFailure())
            for (const char* log : {"server.log", "wireplumber.log", "pipewire.log"}) {
                QFile file(dir + "/rig/" + log);
                if (file.open(QIODevice::ReadOnly))
                    std::cerr << "--- " << log << " (last 2000 bytes)\n" << file.readAll().right(2000).toStdString();
            }
        for (const QString& rig : rigs)
            runProgram(dir + "/audio-rig", {"stop", "--dir", dir + "/" + rig});
        QFile::remove(runtime);
        runProgram("userdel", {name});
        QDir(dir).removeRecursively();
    }

    static QString resetTool() { return QFileInfo(SONOREL_DOCTOR_PATH).dir().filePath("sonorel-audio-reset"); }
    QString tool() const { return dir + "/bin/sonorel-audio-reset"; }
    QString doctor() const { return dir + "/bin/sonorel-doctor"; }

    // Starts a supervised server of this account in DIR/RIG; returns its socket.
    QString startServer(const QString& rig)
    {
        const QString server = QString::fromStdString(testing::AudioRig::serverUnderTest());
        check(asUser({dir + "/audio-rig", "start", "--server", server, "--dir", dir + "/" + rig, "--supervise"}));
        rigs << rig;
        return socket(rig);
    }
    QString socket(const QString& rig) const { return dir + "/" + rig + "/run/pulse/native"; }

    // Runs `command` as the account, its pulse clients reaching the server of `rig`.
    Outcome asUser(const QStringList& command, const QString& rig = "rig") const
    {
        const QString server = rig == "rig" ? runtime + "/pulse/native" : socket(rig);
        return runProgram("runuser", QStringList{"-u", name, "--", "env", "-i", "PATH=/usr/bin:/bin",
                                                 "PULSE_SERVER=unix:" + server}
                                         + command);
    }
    Outcome pactl(const QStringList& arguments, const QString& rig = "rig") const
    {
        return asUser(QStringList{"pactl"} + arguments, rig);
    }
    int serverPid(const QString& rig = "rig") const
    {
        std::ifstream file((dir + "/" + rig + "/server.pid").toStdString());
        int pid = 0;
        file >> pid;
        return pid;
    }
    // The server answers, and is not the process `before`.
    bool restartedSince(int before, const QString& rig = "rig") const
    {
        return processEventsUntil([&] { return serverPid(rig) != before && pactl({"info"}, rig).status == 0; },
                                  std::chrono::seconds(10));
    }

    QString name;
    uid_t uid = 0;
    QString dir;
    QString runtime;
    QStringList rigs;

private:
    // What a run killed by its time limit left behind: only this test's own
    // accounts, and only those whose test process is gone (the other server's
    // run of this test may be going on beside this one).
    static void removeLeftovers()
    {
        for (const QString& line : QString::fromStdString(runProgram("getent", {"passwd"}).out).split('\n')) {
            const QString account = line.section(':', 0, 0);
            if (!account.startsWith("sonorel-rig-"))
                continue;
            const QString owner = line.section(':', 4, 4).section(' ', 2, 2);
            if (!owner.isEmpty() && QDir(QStringLiteral("/proc/") + owner).exists())
                continue;
            runProgram("pkill", {"-KILL", "-u", account});
            QFile::remove("/run/user/" + line.section(':', 2, 2));
            runProgram("userdel", {account});
        }
    }
    static void check(const Outcome& outcome)
    {
        if (outcome.status != 0)
            throw std::runtime_error("throw-away user set-up failed: " + outcome.err);
    }
};

std::string firstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

TEST(reset_tool, refuses_what_it_must_with_its_status_and_one_line)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the tool as another account";
    // A copy that any account can run, wherever the build tree is.
    QTemporaryDir copy;
    QFile::setPermissions(copy.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                           | QFile::ExeOther);
    const QString tool = copy.filePath("sonorel-audio-reset");
    ASSERT_TRUE(QFile::copy(ThrowAwayUser::resetTool(), tool));
    const std::string notAuthorized = "Sonorel Doctor audio reset requires administrator authorization.\n";
    for (const QStringList& arguments : std::vector<QStringList>{
             {}, {"0"}, {"abc"}, {""}, {"501x"}, {"501", "502"}, {"501", "--socket"}, {"--check-input", "--other"}}) {
        const Outcome refused = runProgram(tool, arguments);
        EXPECT_EQ(refused.status, 25) << arguments.join(' ').toStdString();
        EXPECT_EQ(refused.err, notAuthorized);
    }
    // Neither root nor the user named: refused. A user without a server: activity unknown.
    const Outcome otherUser = runProgram("runuser", {"-u", "nobody", "--", tool, "1234"});
    EXPECT_EQ(otherUser.status, 25);
    EXPECT_EQ(otherUser.err, notAuthorized);
    const Outcome noServer = runProgram("runuser", {"-u", "nobody", "--", tool, "--check-input"});
    EXPECT_EQ(noServer.status, 24);
    EXPECT_EQ(noServer.err, "SONOREL_SERVER_NOT_ANSWERING\n");

    // The socket to check must be a socket of the user named: not a file, not another account's.
    const QString nobody = QString::number(getpwnam("nobody")->pw_uid);
    const QString file = copy.filePath("file");
    QFile(file).open(QIODevice::WriteOnly);
    runProgram("chown", {"nobody", file});
    const QString rootsSocket = copy.filePath("socket");
    const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    rootsSocket.toStdString().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    for (const auto& run : std::vector<std::function<Outcome()>>{
             [&] { return runProgram("runuser", {"-u", "nobody", "--", tool, "--check-input", "--socket", file}); },
             [&] { return runProgram(tool, {nobody, "--socket", rootsSocket}); }}) {
        const Outcome refused = run();
        EXPECT_EQ(refused.status, 25);
        EXPECT_EQ(refused.err, "The audio socket given is not a socket of user " + nobody.toStdString() + ".\n");
    }
    close(listening);
}

// Only root can make an account to restart: on a developer's machine this
// runs in CI, never against the developer's own session.
TEST(reset_tool, restarts_the_users_own_server_unless_it_records_as_the_user_and_as_root)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create a throw-away user";
    ThrowAwayUser user;
    const QString uid = QString::number(user.uid);
    // Consent to restart a server that does not answer changes nothing for one that does.
    const std::vector<std::function<Outcome()>> asRootAndAsTheUser{
        [&] { return runProgram(user.tool(), {uid, "--restart-unanswered"}); },
        [&] { return user.asUser({user.tool(), uid}); }};

    const auto rigClient = [&](const QString& kind, const std::string& device) {
        return std::stoi(user.asUser({user.dir + "/audio-rig", kind, "--dir", user.dir + "/rig", "--device",
                                      QString::fromStdString(device)})
                             .out);
    };
    const auto recordings = [&] {
        const std::string list = user.pactl({"list", "short", "source-outputs"}).out;
        return std::count(list.begin(), list.end(), '\n');
    };
    // As the app: level meters are no recording, a capture of what an output plays is one.
    const int meter = rigClient("meter", speakers + ".monitor");
    ASSERT_TRUE(processEventsUntil([&] { return recordings() == 1; }));
    EXPECT_EQ(user.asUser({user.tool(), "--check-input"}).status, 0);
    const int capture = rigClient("capture", speakers);
    ASSERT_TRUE(processEventsUntil([&] { return recordings() == 2; }));
    const Outcome captured = user.asUser({user.tool(), "--check-input"});
    EXPECT_EQ(captured.status, 23);
    EXPECT_EQ(captured.err, "SONOREL_INPUT_ACTIVE\n");
    kill(meter, SIGTERM);
    kill(capture, SIGTERM);
    ASSERT_TRUE(processEventsUntil([&] { return recordings() == 0; }));

    const int recordingSince = user.serverPid();
    const int recorder = std::stoi(user.asUser({user.dir + "/audio-rig", "record", "--dir", user.dir + "/rig"}).out);
    ASSERT_TRUE(processEventsUntil([&] { return !user.pactl({"list", "short", "source-outputs"}).out.empty(); }));
    for (const auto& run : asRootAndAsTheUser) {
        const Outcome refused = run();
        EXPECT_EQ(refused.status, 23);
        EXPECT_EQ(refused.err, "SONOREL_INPUT_ACTIVE\n");
    }
    EXPECT_EQ(user.serverPid(), recordingSince);

    // Without the recording client the supervised server starts again.
    kill(recorder, SIGTERM);
    ASSERT_TRUE(processEventsUntil([&] { return user.pactl({"list", "short", "source-outputs"}).out.empty(); }));
    for (const auto& run : asRootAndAsTheUser) {
        const int before = user.serverPid();
        const Outcome restarted = run();
        EXPECT_EQ(restarted.status, 0) << restarted.err;
        EXPECT_TRUE(user.restartedSince(before));
    }

    // The app's repair restores the output and input chosen before (once the
    // restarted server has its devices again).
    ASSERT_TRUE(processEventsUntil([&] {
        return user.pactl({"set-default-sink", QString::fromStdString(hdmi)}).status == 0
            && user.pactl({"set-default-source", QString::fromStdString(headsetMicrophone)}).status == 0;
    }));
    const int before = user.serverPid();
    const Outcome repaired = user.asUser({user.doctor(), "repair", "restartAudio"});
    ASSERT_EQ(repaired.status, 0) << repaired.err;
    EXPECT_NE(repaired.out.find("\"message\": \"The audio service restarted and HDMI / DisplayPort recovered. Play "
                                "your audio again to check whether the crackling stopped.\""),
              std::string::npos)
        << repaired.out;
    EXPECT_NE(user.serverPid(), before);
    EXPECT_EQ(firstLine(user.pactl({"get-default-sink"}).out), hdmi);
    EXPECT_EQ(firstLine(user.pactl({"get-default-source"}).out), headsetMicrophone);
}

// Two servers of one account: the tool checks the one at the socket it is
// given (the one the app reads) and restarts that one, no other.
TEST(reset_tool, restarts_only_the_server_it_checked_and_a_hung_one_only_with_consent)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create a throw-away user";
    ThrowAwayUser user;
    const QString uid = QString::number(user.uid);
    user.startServer("second");

    int first = user.serverPid();
    int second = user.serverPid("second");
    const Outcome restarted = runProgram(user.tool(), {uid});
    EXPECT_EQ(restarted.status, 0) << restarted.err;
    EXPECT_TRUE(user.restartedSince(first));
    EXPECT_EQ(user.serverPid("second"), second);

    first = user.serverPid();
    const Outcome repaired = user.asUser({user.doctor(), "repair", "restartAudio"}, "second");
    EXPECT_EQ(repaired.status, 0) << repaired.err;
    EXPECT_TRUE(user.restartedSince(second, "second"));
    EXPECT_EQ(user.serverPid(), first);

    // A hung server is restarted only with the user's consent.
    ASSERT_TRUE(processEventsUntil([&] { return user.pactl({"info"}, "second").status == 0; }));
    second = user.serverPid("second");
    kill(second, SIGSTOP);
    const QStringList hung{uid, "--socket", user.socket("second")};
    const Outcome unanswered = user.asUser(QStringList{user.tool()} + hung);
    EXPECT_EQ(unanswered.status, 24);
    EXPECT_EQ(unanswered.err, "SONOREL_SERVER_NOT_ANSWERING\n");
    EXPECT_EQ(user.serverPid("second"), second);
    const Outcome consented = runProgram(user.tool(), hung + QStringList{"--restart-unanswered"});
    EXPECT_EQ(consented.status, 0) << consented.err;
    EXPECT_TRUE(user.restartedSince(second, "second"));
    EXPECT_EQ(user.serverPid(), first);
}

}  // namespace
}  // namespace sonorel
