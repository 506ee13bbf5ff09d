#include "pulse/audio_service_restarter.h"

#include "reset_tool_digest.h"

#include <QCoro/QCoroProcess>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string_view>

namespace sonorel {

namespace {

// systemctl waits for a unit to stop, up to its stop timeout (90 s by default).
constexpr auto toolTimeout = std::chrono::minutes(2);

const char* const toolName = "sonorel-audio-reset";

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

// The socket of a server on this computer; libpulse names the sockets it
// finds by itself without the "unix:" prefix.
std::optional<std::string> localSocket(std::string_view address)
{
    if (address.starts_with("unix:"))
        address.remove_prefix(5);
    if (!address.starts_with('/'))
        return std::nullopt;
    return std::string(address);
}

}  // namespace

AudioServiceRestarter::AudioServiceRestarter(Options options) : m_options(std::move(options))
{
    if (!m_options.socketOwner)
        m_options.socketOwner = socketPeerUser;
    if (!m_options.runner)
        m_options.runner = runProcess;
}

QCoro::Task<void> AudioServiceRestarter::restart(bool evenIfNotAnswering)
{
    if (!matchesDigest(m_options.tool, m_options.digest))
        throw AudioRepairError::system("The signed audio reset tool is missing or has changed. Rebuild or reinstall "
                                       "Sonorel Doctor before resetting audio.");
    QStringList arguments{QString::number(m_options.userID)};
    if (const auto address = m_options.serverAddress ? m_options.serverAddress() : std::nullopt) {
        const auto socket = localSocket(*address);
        if (!socket)
            throw AudioRepairError::system(
                "The audio service is reached over the network, so Doctor can't restart it.");
        // The listener's account, which a server cannot misreport as it can its user name.
        const auto owner = m_options.socketOwner(*socket);
        if (owner && *owner != m_options.userID)
            throw AudioRepairError::system("The audio service runs for the whole system, not your account, so its "
                                           "administrator restarts it.");
        arguments << QStringLiteral("--socket") << QString::fromStdString(*socket);
    }
    if (evenIfNotAnswering)
        arguments << QStringLiteral("--restart-unanswered");
    const ToolRun run = co_await m_options.runner(m_options.tool, arguments);
    if (!run.launched)
        throw AudioRepairError::system("The audio reset tool could not be started: " + run.launchError.toStdString());
    if (run.exitStatus != 0)
        throw restartFailure(run.standardError);
}

AudioRepairError restartFailure(const QByteArray& standardError)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(standardError);
    // The tool writes one line of its own in UTF-8; anything else is no sentence for the user.
    if (decoder.hasError())
        text.clear();
    if (text.contains(QLatin1String("SONOREL_INPUT_ACTIVE")))
        return AudioRepairError::recordingActive();
    if (text.contains(QLatin1String("SONOREL_SERVER_NOT_ANSWERING")))
        return AudioRepairError::serverNotAnswering();
    if (text.contains(QLatin1String("SONOREL_INPUT_UNKNOWN")))
        return AudioRepairError::inputActivityUnknown();
    const QString detail = text.trimmed();
    return AudioRepairError::system(
        ("The audio service could not be restarted." + (detail.isEmpty() ? QString() : QLatin1Char(' ') + detail))
            .toStdString());
}

std::optional<uid_t> socketPeerUser(const std::string& path)
{
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path)
        return std::nullopt;
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    // Non-blocking: a hung server whose backlog is full must not hang the caller.
    const int connection = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (connection < 0)
        return std::nullopt;
    std::optional<uid_t> owner;
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
        && getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0)
        owner = credentials.uid;
    close(connection);
    return owner;
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
                                                          std::function<std::optional<std::string>()> serverAddress)
{
    AudioServiceRestarter::Options options;
    options.tool = resetToolPath(applicationDirectory);
    options.digest = QByteArray(SONOREL_RESET_TOOL_DIGEST);
    options.userID = getuid();
    options.serverAddress = std::move(serverAddress);
    return std::make_unique<AudioServiceRestarter>(std::move(options));
}

}  // namespace sonorel
