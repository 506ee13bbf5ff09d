#include "feedback/murmex_feedback_sender.h"

#include "sonorel_config.h"
#include "store/doctor_store.h"

#include <QPointer>

namespace sonorel {

namespace {

QString setting(const QSettings& settings, const char* key, const char* built)
{
    const QString value = settings.value(QLatin1String(key)).toString().trimmed();
    return value.isEmpty() ? QString::fromUtf8(built).trimmed() : value;
}

murmex::MurmexCategory murmexCategory(FeedbackCategory category)
{
    switch (category) {
    case FeedbackCategory::bug:
        return murmex::MurmexCategory::bug;
    case FeedbackCategory::idea:
        return murmex::MurmexCategory::featureRequest;
    case FeedbackCategory::general:
        break;
    }
    return murmex::MurmexCategory::general;
}

QCoro::Task<void> submitShared(murmex::MurmexConfig config, murmex::MurmexFeedback feedback, std::stop_token stop)
{
    murmex::Murmex::configure(std::move(config));
    co_await murmex::Murmex::submit(std::move(feedback), std::move(stop));
}

}  // namespace

FeedbackService FeedbackService::configured(const QSettings& settings)
{
    return {QUrl(setting(settings, "feedback/url", SONOREL_FEEDBACK_URL)),
            setting(settings, "feedback/token", SONOREL_FEEDBACK_TOKEN),
            setting(settings, "feedback/supportAddress", SONOREL_SUPPORT_ADDRESS)};
}

bool FeedbackService::isConfigured() const
{
    return !token.isEmpty() && !token.contains(QLatin1String("$(")) && url.isValid() && murmex::isSecureEndpoint(url);
}

MurmexFeedbackSender::MurmexFeedbackSender(FeedbackService service, Send send)
    : m_service(std::move(service)), m_send(send ? std::move(send) : Send(submitShared))
{
}

QCoro::Task<void> MurmexFeedbackSender::send(QString message, std::optional<QString> email, FeedbackCategory category,
                                             std::stop_token stop)
{
    if (!m_service.isConfigured())
        throw FeedbackDeliveryError();
    murmex::MurmexConfig config;
    config.endpointURL = m_service.url;
    config.appName = QStringLiteral("Sonorel Doctor");
    config.includeSystemInfo = true;
    config.token = m_service.token;
    murmex::MurmexFeedback feedback;
    feedback.message = std::move(message);
    feedback.email = std::move(email);
    feedback.category = murmexCategory(category);
    co_await m_send(std::move(config), std::move(feedback), std::move(stop));
}

SupportFeedback::SupportFeedback(DoctorStore& store, std::shared_ptr<FeedbackSending> sender, QString supportAddress)
    : m_store(store), m_composer(std::move(sender), std::move(supportAddress))
{
}

QCoro::Task<> SupportFeedback::prepareFeedback(bool unresolvedRepair)
{
    QPointer<DoctorStore> store(&m_store);
    ++m_preparing;
    co_await m_store.refresh();
    if (!store)
        co_return;
    --m_preparing;
    m_composer.prepare(unresolvedRepair, feedbackSummary(m_store.snapshot(), m_store.checks(), m_store.intent(),
                                                         m_store.feedbackRepairSteps()));
}

}  // namespace sonorel
