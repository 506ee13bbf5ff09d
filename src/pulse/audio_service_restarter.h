#pragma once

#include "audio/audio_repair_error.h"
#include "audio/audio_restarting.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace sonorel {

// What a finished program left behind; `launched` false when it never ran.
struct ToolRun {
    bool launched = false;
    int exitStatus = 0;
    QByteArray standardError;
    QString launchError;
};

// Restarts the sound server through the reset tool, after checking the tool
// against its build-time digest. The tool runs as the user and is told the
// socket the app reads, so that it checks and restarts that server. A server
// of another account (a system-wide service) is its administrator's to
// restart: nothing runs.
class AudioServiceRestarter final : public AudioRestarting {
public:
    using Runner = std::function<QCoro::Task<ToolRun>(QString program, QStringList arguments)>;

    struct Options {
        QString tool;       // the reset tool
        QByteArray digest;  // its SHA-256 in hex
        uid_t userID = 0;
        // The address libpulse reached ("unix:/run/user/1000/pulse/native");
        // absent before the first connection.
        std::function<std::optional<std::string>()> serverAddress;
        // The account of the process listening on a socket; default: its peer credentials.
        std::function<std::optional<uid_t>(const std::string& socket)> socketOwner;
        Runner runner;  // default: a QProcess with a minimal environment
    };

    explicit AudioServiceRestarter(Options options);
    QCoro::Task<void> restart(bool evenIfNotAnswering = false) override;

private:
    Options m_options;
};

// The tool's outcome as the user's error: its markers first, then its line.
AudioRepairError restartFailure(const QByteArray& standardError);

// The account of the process that listens on the unix socket at `path`, by
// the credentials the kernel gives a connection to it; absent when nothing
// accepts connections there.
std::optional<uid_t> socketPeerUser(const std::string& path);

// The installed tool beside the program (…/libexec/sonorel-doctor/), or the
// one in the build tree when run from there; empty when neither exists.
QString resetToolPath(const QString& applicationDirectory);

// The restarter the program uses: the tool found beside it, the digest
// compiled in, the calling user, and `serverAddress` from the reading side.
std::unique_ptr<AudioServiceRestarter> installedRestarter(const QString& applicationDirectory,
                                                          std::function<std::optional<std::string>()> serverAddress);

}  // namespace sonorel
