#include "murmex.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>

#include <QCoro/QCoroNetworkReply>

#include <sys/utsname.h>

namespace murmex {

namespace {

struct Shared {
    std::optional<MurmexConfig> config;
    std::shared_ptr<MurmexClient> client;
};

Shared& shared()
{
    static Shared instance;
    return instance;
}

// "Linux " and the kernel's major.minor.patch.
QString platform()
{
    utsname names{};
    if (uname(&names) != 0)
        return QStringLiteral("Linux");
    const auto match = QRegularExpression(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"))
                           .match(QString::fromLatin1(names.release));
    if (!match.hasMatch())
        return QStringLiteral("Linux");
    const auto part = [&](int n) { return match.captured(n).isEmpty() ? QStringLiteral("0") : match.captured(n); };
    return QStringLiteral("Linux %1.%2.%3").arg(part(1), part(2), part(3));
}

// Why the client ended a reply itself.
enum class Cut { none, deadline, tooLong, stopped };

struct Watch {
    Cut cut = Cut::none;
    qint64 received = 0;
};

void cutShort(QNetworkReply* reply, Watch& watch, Cut why)
{
    if (watch.cut != Cut::none)
        return;
    watch.cut = why;
    // Queued: aborting finishes the reply at once, which would resume the submission inside this call.
    QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
}

// One deadline for the whole request (a transfer timeout only bounds the gaps
// between bytes), and at most maximumAnswerSize bytes of answer.
void bound(QNetworkReply* reply, const std::shared_ptr<Watch>& watch, std::chrono::milliseconds deadline)
{
    reply->setReadBufferSize(maximumAnswerSize);
    QTimer::singleShot(deadline, reply, [reply, watch] { cutShort(reply, *watch, Cut::deadline); });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, watch] {
        // The body means nothing to the client: it is counted, not kept.
        watch->received += reply->skip(reply->bytesAvailable());
        if (watch->received > maximumAnswerSize)
            cutShort(reply, *watch, Cut::tooLong);
    });
}

// Only a 2xx from the endpoint itself counts as sent.
void throwUnlessSent(QNetworkReply& reply, Cut cut, std::chrono::milliseconds deadline)
{
    switch (cut) {
    case Cut::deadline:
        throw MurmexError::networkError(QStringLiteral("no complete answer within %1 ms").arg(deadline.count()));
    case Cut::tooLong:
        throw MurmexError::networkError(QStringLiteral("an answer longer than %1 bytes").arg(maximumAnswerSize));
    case Cut::stopped:
        throw MurmexError::cancelled();
    case Cut::none:
        break;
    }
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299))
        throw MurmexError::badResponse(status.toInt());
    // A status line followed by a broken body is still a transport failure.
    if (reply.error() != QNetworkReply::NoError)
        throw MurmexError::networkError(reply.errorString());
    if (!status.isValid())
        throw MurmexError::networkError(QStringLiteral("an answer without an HTTP status"));
}

}  // namespace

QString rawValue(MurmexCategory category)
{
    switch (category) {
    case MurmexCategory::general:
        return QStringLiteral("general");
    case MurmexCategory::bug:
        return QStringLiteral("bug");
    case MurmexCategory::featureRequest:
        return QStringLiteral("featureRequest");
    case MurmexCategory::other:
        return QStringLiteral("other");
    }
    return {};
}

std::optional<MurmexCategory> categoryNamed(const QString& raw)
{
    for (const MurmexCategory category : allCategories)
        if (rawValue(category) == raw)
            return category;
    return std::nullopt;
}

MurmexError::MurmexError(Case errorCase, int status, QString detail)
    : m_case(errorCase), m_status(status), m_detail(std::move(detail))
{
    switch (m_case) {
    case Case::networkError:
        m_what = "network error: " + m_detail.toStdString();
        break;
    case Case::badResponse:
        m_what = "bad response: HTTP " + std::to_string(m_status);
        break;
    case Case::encodingError:
        m_what = "the feedback could not be encoded";
        break;
    case Case::notConfigured:
        m_what = "feedback submitted before Murmex::configure";
        break;
    case Case::insecureEndpoint:
        m_what = "refusing to send feedback to " + m_detail.toStdString()
               + ": only https, or http to a loopback address, keeps the token and the message private";
        break;
    case Case::cancelled:
        m_what = "the feedback submission was cancelled";
        break;
    }
}

bool isSecureEndpoint(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    return url.scheme() == QLatin1String("http")
        && (url.host() == QLatin1String("localhost") || QHostAddress(url.host()).isLoopback());
}

QByteArray payloadJson(const MurmexFeedback& feedback, const MurmexConfig& config)
{
    QJsonObject body;
    body.insert(QStringLiteral("app"), config.appName);
    if (config.includeSystemInfo) {
        if (!QCoreApplication::applicationVersion().isEmpty())
            body.insert(QStringLiteral("version"), QCoreApplication::applicationVersion());
        body.insert(QStringLiteral("platform"), platform());
    }
    body.insert(QStringLiteral("message"), feedback.message);
    if (feedback.email)
        body.insert(QStringLiteral("email"), *feedback.email);
    if (feedback.category)
        body.insert(QStringLiteral("category"), rawValue(*feedback.category));
    if (feedback.metadata) {
        QJsonObject metadata;
        for (const auto& [key, value] : *feedback.metadata)
            metadata.insert(key, value);
        body.insert(QStringLiteral("metadata"), metadata);
    }
    if (!feedback.timestamp.isValid())
        throw MurmexError::encodingError();
    body.insert(QStringLiteral("timestamp"), feedback.timestamp.toUTC().toString(Qt::ISODate));
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

MurmexClient::MurmexClient(MurmexConfig config)
    : m_config(std::move(config)), m_session(std::make_unique<QNetworkAccessManager>())
{
}

MurmexClient::~MurmexClient() = default;

QCoro::Task<void> MurmexClient::submit(MurmexFeedback feedback, std::stop_token stop)
{
    if (!isSecureEndpoint(m_config.endpointURL))
        throw MurmexError::insecureEndpoint(m_config.endpointURL.toDisplayString());
    const QByteArray body = payloadJson(feedback, m_config);
    if (stop.stop_requested())
        throw MurmexError::cancelled();
    QNetworkRequest request(m_config.endpointURL);
    // A redirect would carry the token and the message to a host nobody configured.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    if (m_config.token)
        request.setRawHeader("X-Murmex-Token", m_config.token->toUtf8());
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply*)> reply(m_session->post(request, body),
                                                                    [](QNetworkReply* r) { r->deleteLater(); });
    const auto watch = std::make_shared<Watch>();
    bound(reply.get(), watch, m_config.timeout);
    const std::stop_callback onStop(stop, [reply = reply.get(), watch] { cutShort(reply, *watch, Cut::stopped); });
    co_await qCoro(reply.get()).waitForFinished();
    throwUnlessSent(*reply, watch->cut, m_config.timeout);
}

void Murmex::configure(MurmexConfig config)
{
    shared().config = config;
    shared().client = std::make_shared<MurmexClient>(std::move(config));
}

QCoro::Task<void> Murmex::submit(MurmexFeedback feedback, std::stop_token stop)
{
    // A later configure() does not pull the client from under this submission.
    const std::shared_ptr<MurmexClient> client = shared().client;
    if (!client)
        throw MurmexError::notConfigured();
    co_await client->submit(std::move(feedback), std::move(stop));
}

std::optional<MurmexConfig> Murmex::config()
{
    return shared().config;
}

}  // namespace murmex
