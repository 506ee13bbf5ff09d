#include "audio/run_task.h"
#include "murmex.h"
#include "murmex_strings.h"
#include "murmex_views.h"
#include "support/http_test_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTimeZone>
#include <QTimer>

#include <gtest/gtest.h>

// Failures show the sentence, not its UTF-16 code units.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

using namespace murmex;
using sonorel::runTask;
using sonorel::testing::HttpTestServer;

namespace {

MurmexConfig configFor(const HttpTestServer& server)
{
    MurmexConfig config;
    config.endpointURL = QUrl(server.url());
    config.appName = QStringLiteral("Sonorel Doctor");
    config.token = QStringLiteral("t0ken");
    config.timeout = std::chrono::milliseconds(500);
    return config;
}

MurmexFeedback saying(const char* message)
{
    MurmexFeedback feedback;
    feedback.message = QString::fromUtf8(message);
    return feedback;
}

// The user's sentence for a failed submission; empty on success.
QString failureOf(MurmexConfig config, MurmexFeedback feedback = saying("Hi"))
{
    try {
        runTask(MurmexClient(std::move(config)).submit(std::move(feedback)));
        return {};
    } catch (const MurmexError& error) {
        return MurmexStrings::failure(error, "murmex.feedback.error.encoding");
    }
}

const QString networkFailure = QStringLiteral("Network error. Please check your connection and try again.");

QJsonObject bodyOf(const HttpTestServer& server)
{
    return QJsonDocument::fromJson(server.last->body).object();
}

TEST(murmex_client, posts_the_payload_with_its_headers_to_the_url_unchanged)
{
    // Before any configuration: an error, not a stop.
    try {
        runTask(Murmex::submit(saying("early")));
        FAIL() << "submitted without a configuration";
    } catch (const MurmexError& error) {
        EXPECT_EQ(error.errorCase(), MurmexError::Case::notConfigured);
    }

    HttpTestServer server;
    QCoreApplication::setApplicationVersion(QStringLiteral("1.2.3"));
    MurmexFeedback full{QStringLiteral("It crackles"), QStringLiteral("a@b.co"), MurmexCategory::featureRequest,
                        std::map<QString, QString>{{QStringLiteral("Rating"), QStringLiteral("4")}},
                        QDateTime(QDate(2026, 12, 7), QTime(5, 48, 5, 250), QTimeZone::utc())};
    EXPECT_EQ(failureOf(configFor(server), full), "");
    ASSERT_TRUE(server.last);
    EXPECT_EQ(server.last->requestLine, "POST / HTTP/1.1");
    EXPECT_EQ(server.last->headers.value("content-type"), "application/json");
    EXPECT_EQ(server.last->headers.value("x-murmex-token"), "t0ken");
    const QJsonObject body = bodyOf(server);
    EXPECT_EQ(body.value("app").toString(), "Sonorel Doctor");
    EXPECT_EQ(body.value("version").toString(), "1.2.3");
    EXPECT_TRUE(QRegularExpression("^Linux \\d+\\.\\d+\\.\\d+$").match(body.value("platform").toString()).hasMatch());
    EXPECT_EQ(body.value("message").toString(), "It crackles");
    EXPECT_EQ(body.value("email").toString(), "a@b.co");
    EXPECT_EQ(body.value("category").toString(), "featureRequest");
    EXPECT_EQ(body.value("metadata").toObject().value("Rating").toString(), "4");
    EXPECT_EQ(body.value("timestamp").toString(), "2026-12-07T05:48:05Z");

    MurmexConfig bare = configFor(server);
    bare.includeSystemInfo = false;
    bare.token.reset();
    EXPECT_EQ(failureOf(bare), "");
    EXPECT_EQ(bodyOf(server).keys(), (QStringList{"app", "message", "timestamp"}));
    EXPECT_FALSE(server.last->headers.contains("x-murmex-token"));
}

TEST(murmex_client, any_2xx_is_success_other_statuses_are_bad_responses_and_transport_failures_network_errors)
{
    HttpTestServer server;
    for (const int status : {200, 204}) {
        server.answer(HttpTestServer::Answer::status, status);
        EXPECT_EQ(failureOf(configFor(server)), "") << status;
    }
    for (const int status : {404, 500, 503}) {
        server.answer(HttpTestServer::Answer::status, status);
        try {
            runTask(MurmexClient(configFor(server)).submit(saying("Hi")));
            ADD_FAILURE() << status << " was taken as success";
        } catch (const MurmexError& error) {
            EXPECT_EQ(error.errorCase(), MurmexError::Case::badResponse);
            EXPECT_EQ(error.status(), status);
        }
    }
    server.answer(HttpTestServer::Answer::never);
    EXPECT_EQ(failureOf(configFor(server)), networkFailure);
    server.answer(HttpTestServer::Answer::closeMidResponse);
    EXPECT_EQ(failureOf(configFor(server)), networkFailure);

    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    MurmexConfig refused = configFor(server);
    refused.endpointURL = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort()));
    closed.close();
    EXPECT_EQ(failureOf(refused), networkFailure);
}

TEST(murmex_client, follows_no_redirect_and_sends_only_over_https_or_to_a_loopback_address)
{
    HttpTestServer server;
    HttpTestServer elsewhere;
    for (const int status : {302, 307}) {
        elsewhere.last.reset();
        server.answer(HttpTestServer::Answer::redirect, status, elsewhere.url().toUtf8());
        EXPECT_EQ(failureOf(configFor(server)),
                  QStringLiteral("Server error (%1). Please try again later.").arg(status));
        EXPECT_FALSE(elsewhere.last) << status << " took the token to " << elsewhere.last->requestLine.data();
    }

    // An unresolvable host: an attempt to send would fail as a network error instead.
    MurmexConfig plain = configFor(server);
    plain.endpointURL = QUrl(QStringLiteral("http://feedback.invalid"));
    EXPECT_EQ(failureOf(plain), "Feedback can only be sent over a secure connection.");
    plain.token.reset();
    EXPECT_EQ(failureOf(plain), "Feedback can only be sent over a secure connection.");
    for (const char* url :
         {"https://feedback.example.org", "http://127.0.0.1:8080", "http://[::1]", "http://localhost"})
        EXPECT_TRUE(isSecureEndpoint(QUrl(QString::fromUtf8(url)))) << url;
    for (const char* url : {"http://feedback.example.org", "http://192.168.1.2", "ftp://127.0.0.1", "https://"})
        EXPECT_FALSE(isSecureEndpoint(QUrl(QString::fromUtf8(url)))) << url;
}

TEST(murmex_client, one_deadline_bounds_the_request_the_answer_is_at_most_64_KiB_and_a_stop_ends_it)
{
    HttpTestServer server;
    // A byte every 100 ms leaves no idle gap of the 500 ms allowed.
    server.answer(HttpTestServer::Answer::drip);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(failureOf(configFor(server)), networkFailure);
    EXPECT_LT(clock.elapsed(), 2000);

    // Long before a deadline that would end a stalled read.
    MurmexConfig patient = configFor(server);
    patient.timeout = std::chrono::seconds(20);
    server.answer(HttpTestServer::Answer::huge);
    clock.restart();
    EXPECT_EQ(failureOf(patient), networkFailure);
    EXPECT_LT(clock.elapsed(), 10000);

    server.answer(HttpTestServer::Answer::never);
    std::stop_source closing;
    QTimer::singleShot(100, [&closing] { closing.request_stop(); });
    clock.restart();
    try {
        runTask(MurmexClient(patient).submit(saying("Hi"), closing.get_token()));
        ADD_FAILURE() << "a stopped submission succeeded";
    } catch (const MurmexError& error) {
        EXPECT_EQ(error.errorCase(), MurmexError::Case::cancelled);
    }
    EXPECT_LT(clock.elapsed(), 10000);
}

template <typename T>
T* child(QWidget& view, const char* name)
{
    T* found = view.findChild<T*>(QLatin1String(name));
    if (!found)
        throw std::runtime_error(std::string("no ") + name);
    return found;
}

// With SONOREL_SCREENSHOTS=DIR the forms are saved there as PNGs, to be looked at.
void keepScreenshot(QWidget& view, const char* name)
{
    const QString dir = qEnvironmentVariable("SONOREL_SCREENSHOTS");
    EXPECT_FALSE(view.grab().isNull());
    if (!dir.isEmpty())
        view.grab().save(dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
}

// Clicks and lets the request finish.
void clickAndSettle(QPushButton* button, const std::function<bool()>& done)
{
    button->click();
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
}

TEST(murmex_views, the_form_keeps_the_message_through_a_server_error_and_thanks_after_success)
{
    HttpTestServer server;
    MurmexView view(configFor(server));
    view.resize(420, 360);
    auto* send = child<QPushButton>(view, "murmex-send");
    auto* message = child<QPlainTextEdit>(view, "murmex-message");
    message->setPlainText(QStringLiteral("  \n "));
    EXPECT_FALSE(send->isEnabled());
    message->setPlainText(QStringLiteral("No sound after sleep"));
    EXPECT_TRUE(send->isEnabled());

    server.answer(HttpTestServer::Answer::status, 503);
    auto* error = child<QLabel>(view, "murmex-error");
    clickAndSettle(send, [&] { return !error->isHidden(); });
    EXPECT_EQ(error->text(), "Server error (503). Please try again later.");
    EXPECT_EQ(message->toPlainText(), "No sound after sleep");
    keepScreenshot(view, "murmex-view-error");

    server.answer(HttpTestServer::Answer::status, 204);
    auto* done = child<QPushButton>(view, "murmex-done");
    server.last.reset();
    clickAndSettle(send, [&] { return done->isVisibleTo(&view); });
    EXPECT_TRUE(done->isVisibleTo(&view));
    ASSERT_TRUE(server.last);
    EXPECT_EQ(bodyOf(server).value("message").toString(), "No sound after sleep");
    keepScreenshot(view, "murmex-view-sent");
}

TEST(murmex_views, a_survey_of_text_questions_submits_at_once_without_empty_answers)
{
    HttpTestServer server;
    MurmexSurveyView survey(configFor(server), QString(),
                            {{MurmexSurveyQuestion::Text{QStringLiteral("Anything else?"), {}}},
                             {MurmexSurveyQuestion::Text{QStringLiteral("Which app?"), {}}}});
    const auto fields = survey.findChildren<QLineEdit*>();
    ASSERT_EQ(fields.size(), 2);
    EXPECT_EQ(fields[0]->placeholderText(), "Optional");
    fields[1]->setText(QStringLiteral("Firefox"));
    auto* submit = child<QPushButton>(survey, "murmex-submit");
    ASSERT_TRUE(submit->isEnabled());
    clickAndSettle(submit, [&] { return server.last.has_value(); });
    ASSERT_TRUE(server.last);
    const QJsonObject body = bodyOf(server);
    EXPECT_EQ(body.value("message").toString(), "Quick Survey");
    EXPECT_EQ(body.value("metadata").toObject().toVariantMap(), (QVariantMap{{"Which app?", "Firefox"}}));

    MurmexSurveyView rated(configFor(server), QStringLiteral("How was it?"),
                           {{MurmexSurveyQuestion::Rating{QStringLiteral("Sound"), 5}},
                            {MurmexSurveyQuestion::Choice{QStringLiteral("Output"), {"Speakers", "Headphones"}}}});
    rated.resize(360, 240);
    EXPECT_FALSE(child<QPushButton>(rated, "murmex-submit")->isEnabled());
    keepScreenshot(rated, "murmex-survey");
}

}  // namespace
