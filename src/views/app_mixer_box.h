#pragma once

#include <QWidget>

class QLabel;

namespace sonorel {

class DoctorStore;
class TopicButton;

// Each app's own volume, mute and output in the mixer, where one app goes
// silent while the others play, with the repairs of that symptom.
class AppMixerBox final : public QWidget {
    Q_OBJECT

public:
    AppMixerBox(DoctorStore& store, bool emphasized, QWidget* parent = nullptr);
    // Some app is muted, at zero or on another output: a repair is on offer.
    bool offersRepair() const;

private:
    void refresh();

    DoctorStore& m_store;
    const bool m_emphasized;
    QLabel* m_lines = nullptr;
    TopicButton* m_unmute = nullptr;
    TopicButton* m_raise = nullptr;
    TopicButton* m_move = nullptr;
};

}  // namespace sonorel
