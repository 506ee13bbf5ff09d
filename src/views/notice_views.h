#pragma once

#include "views/feedback_view.h"

#include <QFrame>

#include <functional>

class QLabel;
class QPushButton;

namespace sonorel {

class DoctorStore;

// The store's notice: a symbol, the title and detail, and a dismiss button.
// Notices stay until dismissed; error notices also offer feedback.
class NoticeView final : public QFrame {
    Q_OBJECT

public:
    NoticeView(DoctorStore& store, FeedbackOpener openFeedback, QWidget* parent = nullptr);

private:
    void refresh();

    DoctorStore& m_store;
    QLabel* m_symbol = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_detail = nullptr;
    QPushButton* m_restartAnyway = nullptr;
    QPushButton* m_feedback = nullptr;
};

// The question after a repair: did it help?
class ListeningBanner final : public QFrame {
    Q_OBJECT

public:
    // "Still a problem" leads to Troubleshoot once the answer is recorded;
    // `showNextStep` brings it into view (the window, from the tray panel).
    ListeningBanner(DoctorStore& store, std::function<void()> showNextStep, QWidget* parent = nullptr);

private:
    void refresh();

    DoctorStore& m_store;
    QLabel* m_prompt = nullptr;
};

}  // namespace sonorel
