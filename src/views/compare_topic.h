#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace sonorel {

class AppMixerBox;
class DoctorStore;
class TopicButton;

// The app comparison: the Doctor's tone, then the affected app, then another
// output when the tone itself sounded wrong; the user's ratings lead to one
// piece of guidance.
class CompareTopic final : public QWidget {
    Q_OBJECT

public:
    CompareTopic(DoctorStore& store, bool emphasized, QWidget* parent = nullptr);

private:
    void refresh();

    DoctorStore& m_store;
    const bool m_emphasized;
    AppMixerBox* m_mixer = nullptr;
    QLabel* m_stepOneTitle = nullptr;
    TopicButton* m_play = nullptr;
    QComboBox* m_reference = nullptr;
    QWidget* m_stepTwo = nullptr;
    QLineEdit* m_appName = nullptr;
    QComboBox* m_affected = nullptr;
    QWidget* m_stepThree = nullptr;
    QPushButton* m_another = nullptr;
    QComboBox* m_otherOutput = nullptr;
    QLabel* m_guidance = nullptr;
};

}  // namespace sonorel
