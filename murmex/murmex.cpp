#include "murmex.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>

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
    }
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

QCoro::Task<void> MurmexClient::submit(MurmexFeedback feedback)
{
    const QByteArray body = payloadJson(feedback, m_config);
    QNetworkRequest request(m_config.endpointURL);
    request.setTransferTimeout(int(m_config.timeout.count()));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    if (m_config.token)
        request.setRawHeader("X-Murmex-Token", m_config.token->toUtf8());
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply*)> reply(m_session->post(request, body),
                                                                    [](QNetworkReply* r) { r->deleteLater(); });
    co_await qCoro(reply.get()).waitForFinished();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299))
        throw MurmexError::badResponse(status.toInt());
    // A status line followed by a broken body is still a transport failure.
    if (reply->error() != QNetworkReply::NoError)
        throw MurmexError::networkError(reply->errorString());
}

void Murmex::configure(MurmexConfig config)
{
    shared().config = config;
    shared().client = std::make_shared<MurmexClient>(std::move(config));
}

QCoro::Task<void> Murmex::submit(MurmexFeedback feedback)
{
    // A later configure() does not pull the client from under this submission.
    const std::shared_ptr<MurmexClient> client = shared().client;
    if (!client)
        throw MurmexError::notConfigured();
    co_await client->submit(std::move(feedback));
}

std::optional<MurmexConfig> Murmex::config()
{
    return shared().config;
}

}  // namespace murmex
