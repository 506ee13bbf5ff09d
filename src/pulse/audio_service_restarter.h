#pragma once

#include "audio/audio_repair_error.h"
#include "audio/audio_restarting.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace sonorel {

// What a finished program left behind; `launched` false when it never ran.
struct ToolRun {
    bool launched = false;
    int exitStatus = 0;
    QByteArray standardError;
    QString launchError;
};

// Restarts the sound server through the reset tool, after checking the tool
// against its build-time digest. The user's own server is restarted by the
// tool run as the user; a server of another account (a system-wide daemon)
// through the elevator, which runs a staging script as root that copies the
// tool to a private directory, checks the copy and runs it.
class AudioServiceRestarter final : public AudioRestarting {
public:
    using Runner = std::function<QCoro::Task<ToolRun>(QString program, QStringList arguments)>;
    using Elevator = std::function<std::pair<QString, QStringList>(const QString& script)>;

    struct Options {
        QString tool;       // the reset tool
        QByteArray digest;  // its SHA-256 in hex
        uid_t userID = 0;
        std::string userName;
        // The account the sound server runs as; absent: unknown, taken as the user's.
        std::function<std::optional<std::string>()> serverUser;
        Elevator elevator;  // default: pkexec /bin/sh -c SCRIPT
        Runner runner;      // default: a QProcess with a minimal environment
    };

    explicit AudioServiceRestarter(Options options);
    QCoro::Task<void> restart() override;

    // The script run as root: T and U as given, the copy checked against `digest`.
    static QString stagingScript(const QString& tool, const QByteArray& digest, uid_t userID);

private:
    Options m_options;
};

// The tool's outcome as the user's error: its markers first, then a
// dismissed password prompt, then the trimmed text.
AudioRepairError restartFailure(int exitStatus, const QByteArray& standardError);

// The installed tool beside the program (…/libexec/sonorel-doctor/), or the
// one in the build tree when run from there; empty when neither exists.
QString resetToolPath(const QString& applicationDirectory);

// The restarter the program uses: the tool found beside it, the digest
// compiled in, the calling user, and `serverUser` from the reading side.
std::unique_ptr<AudioServiceRestarter> installedRestarter(const QString& applicationDirectory,
                                                          std::function<std::optional<std::string>()> serverUser);

}  // namespace sonorel
