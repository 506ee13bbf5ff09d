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
#include <string>

class QNetworkAccessManager;

namespace murmex {

struct MurmexConfig {
    QUrl endpointURL;  // posted to unchanged
    QString appName;
    bool includeSystemInfo = true;  // adds the app's and the system's versions
    std::optional<QColor> tintColor;
    std::optional<QString> token;
    std::chrono::milliseconds timeout = std::chrono::seconds(60);
};

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
        networkError,  // the transport failed; `detail` says how
        badResponse,   // an HTTP status outside 200 to 299
        encodingError,
        notConfigured,  // submitted before any configure()
    };
    static MurmexError networkError(QString detail) { return MurmexError(Case::networkError, 0, std::move(detail)); }
    static MurmexError badResponse(int status) { return MurmexError(Case::badResponse, status, {}); }
    static MurmexError encodingError() { return MurmexError(Case::encodingError, 0, {}); }
    static MurmexError notConfigured() { return MurmexError(Case::notConfigured, 0, {}); }

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

// The request body: "app", "message" and "timestamp" always; "version" and
// "platform" with system info; "email", "category" and "metadata" when set.
QByteArray payloadJson(const MurmexFeedback& feedback, const MurmexConfig& config);

class MurmexClient {
public:
    explicit MurmexClient(MurmexConfig config);
    ~MurmexClient();
    const MurmexConfig& config() const { return m_config; }
    // Throws MurmexError.
    QCoro::Task<void> submit(MurmexFeedback feedback);

private:
    MurmexConfig m_config;
    std::unique_ptr<QNetworkAccessManager> m_session;
};

// The one configuration the process shares.
class Murmex {
public:
    static void configure(MurmexConfig config);
    // Throws MurmexError (notConfigured before any configure()).
    static QCoro::Task<void> submit(MurmexFeedback feedback);
    static std::optional<MurmexConfig> config();
};

}  // namespace murmex
