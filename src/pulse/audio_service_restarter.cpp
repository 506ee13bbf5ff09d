#include "pulse/audio_service_restarter.h"

#include "reset_tool_digest.h"

#include <QCoro/QCoroProcess>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>

#include <pwd.h>
#include <unistd.h>

#include <memory>

namespace sonorel {

namespace {

constexpr int pkexecDismissed = 126;
// Waiting for the password dialog is the user's time, not a hang.
constexpr auto toolTimeout = std::chrono::minutes(10);

const char* const toolName = "sonorel-audio-reset";

QString singleQuoted(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

std::pair<QString, QStringList> pkexec(const QString& script)
{
    return {QStringLiteral("/usr/bin/pkexec"), {QStringLiteral("/bin/sh"), QStringLiteral("-c"), script}};
}

QCoro::Task<ToolRun> runProcess(QString program, QStringList arguments)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/sbin:/usr/bin:/sbin:/bin"));
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    ToolRun run;
    if (!co_await qCoro(process).start()) {
        run.launchError = process.errorString();
        co_return run;
    }
    run.launched = true;
    if (!co_await qCoro(process).waitForFinished(toolTimeout)) {
        process.kill();
        co_await qCoro(process).waitForFinished();
    }
    run.exitStatus = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.standardError = process.readAllStandardError();
    co_return run;
}

bool matchesDigest(const QString& path, const QByteArray& digest)
{
    QFile file(path);
    if (digest.isEmpty() || !file.open(QIODevice::ReadOnly))
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return false;
    return hash.result().toHex() == digest.toLower();
}

}  // namespace

AudioServiceRestarter::AudioServiceRestarter(Options options) : m_options(std::move(options))
{
    if (!m_options.elevator)
        m_options.elevator = pkexec;
    if (!m_options.runner)
        m_options.runner = runProcess;
}

QString AudioServiceRestarter::stagingScript(const QString& tool, const QByteArray& digest, uid_t userID)
{
    const QString copy = QStringLiteral("\"$doctor_stage/%1\"").arg(QLatin1String(toolName));
    const QStringList lines{
        QStringLiteral("umask 077"),
        QStringLiteral("doctor_stage=$(/usr/bin/mktemp -d /tmp/sonorel-doctor-reset.XXXXXXXX) || exit 27"),
        QStringLiteral("trap '/bin/rm -rf \"$doctor_stage\"' EXIT"),
        QStringLiteral("/bin/cp -L ") + singleQuoted(tool) + QLatin1Char(' ') + copy + QStringLiteral(" || exit 27"),
        QStringLiteral("/usr/bin/printf '%s  %s\\n' ") + singleQuoted(QString::fromLatin1(digest)) + QLatin1Char(' ')
            + copy + QStringLiteral(" | /usr/bin/sha256sum --check --status || {"),
        QStringLiteral("    /usr/bin/printf 'SONOREL_INVALID_HELPER\\n' >&2"),
        QStringLiteral("    exit 27"),
        QStringLiteral("}"),
        QStringLiteral("/bin/chmod 755 \"$doctor_stage\" ") + copy + QStringLiteral(" || exit 27"),
        copy + QLatin1Char(' ') + QString::number(userID),
    };
    return lines.join(QLatin1Char('\n'));
}

QCoro::Task<void> AudioServiceRestarter::restart()
{
    if (!matchesDigest(m_options.tool, m_options.digest))
        throw AudioRepairError::system("The signed audio reset tool is missing or has changed. Rebuild or reinstall "
                                       "Sonorel Doctor before resetting audio.");
    const auto serverUser = m_options.serverUser ? m_options.serverUser() : std::nullopt;
    QString program;
    QStringList arguments;
    if (!serverUser || *serverUser == m_options.userName) {
        // The user's own server: least privilege, no password.
        program = m_options.tool;
        arguments = {QString::number(m_options.userID)};
    } else {
        std::tie(program, arguments) =
            m_options.elevator(stagingScript(m_options.tool, m_options.digest, m_options.userID));
    }
    const ToolRun run = co_await m_options.runner(program, arguments);
    if (!run.launched)
        throw AudioRepairError::system("The audio reset tool could not be started: " + run.launchError.toStdString());
    if (run.exitStatus != 0)
        throw restartFailure(run.exitStatus, run.standardError);
}

AudioRepairError restartFailure(int exitStatus, const QByteArray& standardError)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(standardError);
    if (decoder.hasError())
        text = QStringLiteral("Administrator authorization failed.");
    if (text.contains(QLatin1String("SONOREL_INVALID_HELPER")))
        return AudioRepairError::system(
            "The audio reset tool failed signature verification. Rebuild or reinstall Sonorel Doctor.");
    if (text.contains(QLatin1String("SONOREL_INPUT_ACTIVE")))
        return AudioRepairError::recordingActive();
    if (text.contains(QLatin1String("SONOREL_INPUT_UNKNOWN")))
        return AudioRepairError::inputActivityUnknown();
    if (exitStatus == pkexecDismissed || text.contains(QLatin1String("-128"))
        || text.contains(QLatin1String("User canceled")) || text.contains(QLatin1String("User cancelled")))
        return AudioRepairError::cancelled();
    const QString detail = text.trimmed();
    return AudioRepairError::system(
        ("The audio service could not be restarted." + (detail.isEmpty() ? QString() : QLatin1Char(' ') + detail))
            .toStdString());
}

QString resetToolPath(const QString& applicationDirectory)
{
    for (const QString& candidate : {applicationDirectory + QStringLiteral("/../libexec/sonorel-doctor/"),
                                     applicationDirectory + QLatin1Char('/')}) {
        const QFileInfo tool(candidate + QLatin1String(toolName));
        if (tool.isFile() && tool.isExecutable())
            return tool.canonicalFilePath();
    }
    return {};
}

std::unique_ptr<AudioServiceRestarter> installedRestarter(const QString& applicationDirectory,
                                                          std::function<std::optional<std::string>()> serverUser)
{
    AudioServiceRestarter::Options options;
    options.tool = resetToolPath(applicationDirectory);
    options.digest = QByteArray(SONOREL_RESET_TOOL_DIGEST);
    options.userID = getuid();
    if (const passwd* account = getpwuid(options.userID))
        options.userName = account->pw_name;
    options.serverUser = std::move(serverUser);
    return std::make_unique<AudioServiceRestarter>(std::move(options));
}

}  // namespace sonorel
