#pragma once

#include "feedback/feedback_composer.h"

#include <murmex.h>

#include <QSettings>
#include <QUrl>

#include <functional>

namespace sonorel {

class DoctorStore;

// Where feedback goes: the build's settings, each overridable in the user's
// settings file ("feedback/url", "feedback/token", "feedback/supportAddress")
// so that a distribution or an organisation can use its own service.
struct FeedbackService {
    QUrl url;
    QString token;
    QString supportAddress;

    static FeedbackService configured(const QSettings& settings);
    // A token left as a build variable ("$(…)") counts as none, and so does an
    // address that would carry it in the clear.
    bool isConfigured() const;
};

class MurmexFeedbackSender final : public FeedbackSending {
public:
    using Send = std::function<QCoro::Task<void>(murmex::MurmexConfig, murmex::MurmexFeedback, std::stop_token)>;

    // `send` defaults to configuring the shared client, then submitting.
    explicit MurmexFeedbackSender(FeedbackService service, Send send = {});
    // Throws FeedbackDeliveryError when not configured, before any traffic.
    QCoro::Task<void> send(QString message, std::optional<QString> email, FeedbackCategory category,
                           std::stop_token stop) override;
    bool isConfigured() const override { return m_service.isConfigured(); }

private:
    FeedbackService m_service;
    Send m_send;
};

// The store's feedback form: prepared from a fresh reading.
class SupportFeedback {
public:
    SupportFeedback(DoctorStore& store, std::shared_ptr<FeedbackSending> sender, QString supportAddress);
    FeedbackComposer& composer() { return m_composer; }
    QCoro::Task<> prepareFeedback(bool unresolvedRepair);
    // A preparation is waiting for its fresh reading.
    bool isPreparing() const { return m_preparing > 0; }

private:
    DoctorStore& m_store;
    FeedbackComposer m_composer;
    int m_preparing = 0;
};

}  // namespace sonorel
