#pragma once

#include <QPushButton>
#include <QWidget>

#include <functional>
#include <memory>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QScrollArea;

namespace sonorel {

class DisclosureButton;
class SupportFeedback;

// Prepares the feedback form and brings its window to the front.
using FeedbackOpener = std::function<void(bool unresolvedRepair)>;

// "Send feedback": wherever the app offers a way to tell us what went wrong.
class DoctorFeedbackButton final : public QPushButton {
    Q_OBJECT

public:
    DoctorFeedbackButton(FeedbackOpener open, bool unresolvedRepair, QWidget* parent = nullptr);
};

// The feedback window's content: the form, its sending and its outcome.
class DoctorFeedbackView final : public QWidget {
    Q_OBJECT

public:
    DoctorFeedbackView(SupportFeedback& feedback, std::function<void()> dismiss, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();

    SupportFeedback& m_feedback;
    std::function<void()> m_dismiss;
    QScrollArea* m_formArea = nullptr;
    QWidget* m_form = nullptr;
    QWidget* m_confirmation = nullptr;
    QLabel* m_heading = nullptr;
    QButtonGroup* m_category = nullptr;
    QLabel* m_messageLabel = nullptr;
    QPlainTextEdit* m_message = nullptr;
    QLabel* m_counter = nullptr;
    QLineEdit* m_email = nullptr;
    QLabel* m_emailHint = nullptr;
    QCheckBox* m_includeSummary = nullptr;
    DisclosureButton* m_reviewSummary = nullptr;
    QLabel* m_summary = nullptr;
    QWidget* m_error = nullptr;
    QLabel* m_errorText = nullptr;
    QLabel* m_emailSupport = nullptr;
    QLabel* m_noService = nullptr;
    QLabel* m_sendsText = nullptr;
    QWidget* m_powered = nullptr;
    QPushButton* m_copyMessage = nullptr;
    QPushButton* m_mailSupport = nullptr;
    QTimer* m_copied = nullptr;
    QPushButton* m_close = nullptr;
    QPushButton* m_send = nullptr;
    QProgressBar* m_sending = nullptr;
    QPushButton* m_done = nullptr;
};

// "Send Feedback": the form in a window of its own, sized for the screen it opens on.
std::unique_ptr<QWidget> makeFeedbackWindow(SupportFeedback& feedback);

}  // namespace sonorel
