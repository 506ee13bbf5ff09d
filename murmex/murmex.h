#pragma once

// Murmex: a small client for a hosted feedback service. The host configures
// it once with an endpoint, its name and a token; each submission is one
// HTTP POST with a JSON body.

#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

class QNetworkAccessManager;

namespace murmex {

struct MurmexConfig {
    QUrl endpointURL;  // posted to unchanged
    QString appName;
    bool includeSystemInfo = true;  // adds the app's and the system's versions
    std::optional<QColor> tintColor;
    std::optional<QString> token;
    // For the whole request, from connecting to the answer's last byte.
    std::chrono::milliseconds timeout = std::chrono::seconds(30);
};

// The most of an answer that is read; a longer one fails the submission.
inline constexpr qint64 maximumAnswerSize = 64 * 1024;

enum class MurmexCategory { general, bug, featureRequest, other };
inline constexpr MurmexCategory allCategories[] = {MurmexCategory::general, MurmexCategory::bug,
                                                   MurmexCategory::featureRequest, MurmexCategory::other};
QString rawValue(MurmexCategory category);
std::optional<MurmexCategory> categoryNamed(const QString& raw);

struct MurmexFeedback {
    QString message;
    std::optional<QString> email;
    std::optional<MurmexCategory> category;
    std::optional<std::map<QString, QString>> metadata;
    QDateTime timestamp = QDateTime::currentDateTimeUtc();
};

class MurmexError : public std::exception {
public:
    enum class Case {
        networkError,  // the transport failed, the deadline passed or the answer was too long; `detail` says which
        badResponse,   // an HTTP status outside 200 to 299, a redirect included
        encodingError,
        notConfigured,     // submitted before any configure()
        insecureEndpoint,  // the endpoint is neither https nor a loopback address; nothing was sent
        cancelled,         // the caller stopped the submission
    };
    static MurmexError networkError(QString detail) { return MurmexError(Case::networkError, 0, std::move(detail)); }
    static MurmexError badResponse(int status) { return MurmexError(Case::badResponse, status, {}); }
    static MurmexError encodingError() { return MurmexError(Case::encodingError, 0, {}); }
    static MurmexError notConfigured() { return MurmexError(Case::notConfigured, 0, {}); }
    static MurmexError insecureEndpoint(QString url) { return MurmexError(Case::insecureEndpoint, 0, std::move(url)); }
    static MurmexError cancelled() { return MurmexError(Case::cancelled, 0, {}); }

    Case errorCase() const { return m_case; }
    int status() const { return m_status; }
    const QString& detail() const { return m_detail; }
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    MurmexError(Case errorCase, int status, QString detail);
    Case m_case;
    int m_status;
    QString m_detail;
    std::string m_what;
};

// https, or http to a loopback address: where the token, the message and the
// address may go.
bool isSecureEndpoint(const QUrl& url);

// The request body: "app", "message" and "timestamp" always; "version" and
// "platform" with system info; "email", "category" and "metadata" when set.
QByteArray payloadJson(const MurmexFeedback& feedback, const MurmexConfig& config);

class MurmexClient {
public:
    explicit MurmexClient(MurmexConfig config);
    ~MurmexClient();
    const MurmexConfig& config() const { return m_config; }
    // One POST to the endpoint, following no redirect. Throws MurmexError;
    // `stop` ends it early.
    QCoro::Task<void> submit(MurmexFeedback feedback, std::stop_token stop = {});

private:
    MurmexConfig m_config;
    std::unique_ptr<QNetworkAccessManager> m_session;
};

// The one configuration the process shares.
class Murmex {
public:
    static void configure(MurmexConfig config);
    // Throws MurmexError (notConfigured before any configure()).
    static QCoro::Task<void> submit(MurmexFeedback feedback, std::stop_token stop = {});
    static std::optional<MurmexConfig> config();
};

}  // namespace murmex
