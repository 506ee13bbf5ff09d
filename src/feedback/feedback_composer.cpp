#include "feedback/feedback_composer.h"

#include "model/date.h"
#include "model/text_format.h"
#include "store/doctor_store.h"

#include <QPointer>
#include <QRegularExpression>
#include <QStringList>
#include <QTextBoundaryFinder>

#include <cmath>

namespace sonorel {

FeedbackComposer::FeedbackComposer(std::shared_ptr<FeedbackSending> sender, QString supportAddress, QObject* parent)
    : QObject(parent), m_sender(std::move(sender)), m_supportAddress(std::move(supportAddress))
{
}

void FeedbackComposer::setMessage(QString message)
{
    m_message = std::move(message);
    emit changed();
}

void FeedbackComposer::setEmail(QString email)
{
    m_email = std::move(email);
    emit changed();
}

void FeedbackComposer::setCategory(FeedbackCategory category)
{
    m_category = category;
    emit changed();
}

void FeedbackComposer::setIncludeDiagnostics(bool include)
{
    m_includeDiagnostics = include;
    emit changed();
}

int FeedbackComposer::messageLength() const
{
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, m_message);
    int count = 0;
    while (graphemes.toNextBoundary() > 0)
        ++count;
    return count;
}

bool FeedbackComposer::isEmailValid() const
{
    static const QRegularExpression shape(QStringLiteral("^[^\\s@]+@[^\\s@]+\\.[^\\s@]+$"),
                                          QRegularExpression::UseUnicodePropertiesOption);
    const QString trimmed = m_email.trimmed();
    if (trimmed.isEmpty())
        return true;
    if (trimmed.size() >= 255)
        return false;
    return shape.match(trimmed).hasMatch();
}

bool FeedbackComposer::canSend() const
{
    return canDeliver() && m_phase == Phase::editing && !m_message.trimmed().isEmpty()
        && messageLength() <= maximumLength && isEmailValid();
}

QString FeedbackComposer::finalMessage() const
{
    QString text = m_message.trimmed();
    if (m_includeDiagnostics && m_context)
        text += QStringLiteral("\n\n— Audio summary (included by choice) —\n") + m_context->summary;
    return text;
}

void FeedbackComposer::prepare(bool unresolvedRepair, QString summary)
{
    if (m_phase == Phase::sending)
        return;
    if (m_phase == Phase::sent) {
        m_message.clear();
        m_email.clear();
        m_includeDiagnostics = false;
        m_phase = Phase::editing;
        m_errorMessage.reset();
    }
    // The user's unsent text, and the summary it may quote, are kept.
    const bool started = !m_message.isEmpty() || !m_email.isEmpty() || m_includeDiagnostics;
    if (!(m_context && started)) {
        m_context = FeedbackContext{unresolvedRepair, std::move(summary)};
        m_category = unresolvedRepair ? FeedbackCategory::bug : FeedbackCategory::general;
    }
    emit changed();
}

QCoro::Task<> FeedbackComposer::send()
{
    if (!canSend())
        co_return;
    const QString text = finalMessage();
    const QString trimmedEmail = m_email.trimmed();
    const std::optional<QString> email = trimmedEmail.isEmpty() ? std::nullopt : std::optional(trimmedEmail);
    m_phase = Phase::sending;
    m_errorMessage.reset();
    m_stopSending = std::stop_source();
    const std::stop_token stop = m_stopSending.get_token();
    emit changed();
    QPointer<FeedbackComposer> self(this);
    std::optional<QString> failure;
    try {
        co_await m_sender->send(text, email, m_category, stop);
    } catch (const FeedbackDeliveryError&) {
        failure = m_supportAddress.isEmpty()
                      ? QStringLiteral("Feedback isn’t configured in this build. Copy your message to keep it.")
                      : QStringLiteral("Feedback isn’t configured in this build. Copy your message and email %1.")
                            .arg(m_supportAddress);
    } catch (...) {
        failure = QStringLiteral("Your feedback couldn’t be delivered. Your message is safe here. Check your "
                                 "connection and try again.");
    }
    // A cancelled send already gave the form back.
    if (!self || stop.stop_requested())
        co_return;
    if (failure) {
        m_phase = Phase::editing;
        m_errorMessage = failure;
        emit changed();
        emit announcement(failure->isEmpty() ? QStringLiteral("Feedback could not be sent.") : *failure);
        co_return;
    }
    m_phase = Phase::sent;
    emit changed();
    emit announcement(QStringLiteral("Feedback sent. Thank you for helping improve Sonorel Doctor."));
}

void FeedbackComposer::cancel()
{
    if (m_phase != Phase::sending)
        return;
    m_stopSending.request_stop();
    m_phase = Phase::editing;
    emit changed();
}

namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QString deviceLine(const char* side, const AudioDevice* device, bool output)
{
    if (!device)
        return QStringLiteral("%1: None").arg(QLatin1String(side));
    const QString unavailable = QStringLiteral("Unavailable");
    QString rate = unavailable;
    if (device->sampleRate && std::isfinite(*device->sampleRate) && *device->sampleRate > 0)
        rate = QString::asprintf("%g Hz", *device->sampleRate);
    QString volume = unavailable;
    if (const auto level = output ? device->volume : device->inputVolume(); level && std::isfinite(*level)) {
        volume = QString::number(wholePercent(*level)) + QLatin1Char('%');
    }
    const auto mute = output ? device->isMuted : device->inputMuted();
    const QString muted = mute ? (*mute ? QStringLiteral("On") : QStringLiteral("Off")) : unavailable;
    const QString buffer = device->bufferFrames ? QStringLiteral("%1 frames").arg(*device->bufferFrames) : unavailable;
    return QStringLiteral("%1: %2; %3; rate %4; volume %5; mute %6; buffer %7")
        .arg(QLatin1String(side), qs(label(device->transport)),
             qs(channelsText(output ? device->outputChannels : device->inputChannels)), rate, volume, muted, buffer);
}

}  // namespace

QString feedbackSummary(const AudioSnapshot& snapshot, const std::vector<DiagnosticCheck>& checks,
                        RepairIntent intent, const std::vector<FeedbackRepairStep>& steps)
{
    QStringList lines{
        QStringLiteral("Snapshot captured: ") + QString::fromStdString(isoDateText(snapshot.capturedAt)),
        QStringLiteral("Symptom: ") + qs(label(intent)),
        QStringLiteral("Audio settings readable: ") + (snapshot.readError ? QStringLiteral("No") : QStringLiteral("Yes")),
    };
    if (!snapshot.readError) {
        lines << deviceLine("Output", snapshot.outputDevice(), true) << deviceLine("Input", snapshot.inputDevice(), false);
        lines << QStringLiteral("Input activity: ")
                     + (!snapshot.inputActivityKnown ? QStringLiteral("Unavailable")
                        : snapshot.isInputActive()  ? QStringLiteral("Active")
                                                    : QStringLiteral("Idle"));
        lines << QStringLiteral("Recent playback overloads: %1").arg(snapshot.recentOverloadCount());
        QStringList states;
        for (const auto& check : checks)
            states << qs(title(check.kind)) + QStringLiteral(": ") + qs(label(check.state));
        lines << QStringLiteral("Checks: ") + states.join(QStringLiteral("; "));
    }
    QStringList attempts;
    for (const auto& step : steps)
        attempts << qs(title(step.action)) + QStringLiteral(": ")
                        + (step.succeeded ? QStringLiteral("settings verified") : QStringLiteral("Needs attention"));
    lines << QStringLiteral("Last repair attempt: ")
                 + (attempts.isEmpty() ? QStringLiteral("None this session") : attempts.join(QStringLiteral("; ")));
    return lines.join(QLatin1Char('\n'));
}

}  // namespace sonorel
