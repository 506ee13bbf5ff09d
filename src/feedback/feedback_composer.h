#pragma once

#include "model/audio_snapshot.h"
#include "model/diagnostic_check.h"
#include "model/repair_action.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>

#include <exception>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

namespace sonorel {

struct FeedbackRepairStep;

enum class FeedbackCategory { bug, idea, general };

struct FeedbackContext {
    bool unresolvedRepair = false;
    QString summary;
};

// Sends the final text of a feedback form somewhere; throws on failure, and
// when `stop` is requested before the end.
class FeedbackSending {
public:
    virtual ~FeedbackSending() = default;
    virtual QCoro::Task<void> send(QString message, std::optional<QString> email, FeedbackCategory category,
                                   std::stop_token stop) = 0;
    // There is a service to send to: known before anything is typed.
    virtual bool isConfigured() const { return true; }
};

// The sender has no service to send to (no token or no address in this build).
class FeedbackDeliveryError : public std::exception {
public:
    const char* what() const noexcept override { return "feedback is not configured in this build"; }
};

// The feedback form's state: one for the whole process, so that a
// half-written message survives closing the window. Main thread only.
class FeedbackComposer final : public QObject {
    Q_OBJECT

public:
    enum class Phase { editing, sending, sent };
    static constexpr int maximumLength = 8000;
    static constexpr int counterShownAbove = 7500;

    // `supportAddress` goes into the not-configured sentence; empty: none.
    FeedbackComposer(std::shared_ptr<FeedbackSending> sender, QString supportAddress, QObject* parent = nullptr);

    const QString& message() const { return m_message; }
    const QString& email() const { return m_email; }
    FeedbackCategory category() const { return m_category; }
    bool includeDiagnostics() const { return m_includeDiagnostics; }
    const std::optional<FeedbackContext>& context() const { return m_context; }
    Phase phase() const { return m_phase; }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    const QString& supportAddress() const { return m_supportAddress; }

    void setMessage(QString message);
    void setEmail(QString email);
    void setCategory(FeedbackCategory category);
    void setIncludeDiagnostics(bool include);

    // In user-perceived characters.
    int messageLength() const;
    bool isEmailValid() const;
    bool canSend() const;
    // Feedback can be sent from here at all; without a service the form offers copying and mail.
    bool canDeliver() const { return m_sender && m_sender->isConfigured(); }
    QString finalMessage() const;
    void prepare(bool unresolvedRepair, QString summary);
    QCoro::Task<> send();
    // Stops a send in flight; the message stays for another try.
    void cancel();

signals:
    void changed();
    // For screen readers: what just happened.
    void announcement(const QString& text);

private:
    std::shared_ptr<FeedbackSending> m_sender;
    QString m_supportAddress;
    QString m_message;
    QString m_email;
    FeedbackCategory m_category = FeedbackCategory::general;
    bool m_includeDiagnostics = false;
    std::optional<FeedbackContext> m_context;
    Phase m_phase = Phase::editing;
    std::optional<QString> m_errorMessage;
    std::stop_source m_stopSending{std::nostopstate};
};

// The audio settings a user may choose to include: settings only, no device,
// process or user names.
QString feedbackSummary(const AudioSnapshot& snapshot, const std::vector<DiagnosticCheck>& checks,
                        RepairIntent intent, const std::vector<FeedbackRepairStep>& steps);

}  // namespace sonorel
