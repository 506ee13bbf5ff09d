#pragma once

#include "views/feedback_view.h"

#include <QWidget>

#include <functional>

namespace sonorel {

class DoctorStore;

// Practical steps for the common problems, the system's sound tools, the
// report and the way to feedback.
class DoctorHelpView final : public QWidget {
    Q_OBJECT

public:
    struct Topic {
        const char* title;
        const char* symbol;
        const char* text;
    };
    static const Topic topics[9];

    DoctorHelpView(DoctorStore& store, FeedbackOpener openFeedback, QWidget* parent = nullptr);

private:
    QWidget* topicRow(const Topic& topic);
    QWidget* buildTools();
    QWidget* buildFeedback();

    DoctorStore& m_store;
    FeedbackOpener m_openFeedback;
};

}  // namespace sonorel
