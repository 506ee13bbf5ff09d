#pragma once

#include "views/feedback_view.h"

#include <QFrame>
#include <QRect>

#include <functional>

class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QToolButton;

namespace sonorel {

class DoctorStore;
class ListeningBanner;
class NoticeView;

// What the panel opens or ends; the app shell provides them.
struct PanelActions {
    std::function<void()> openDoctor;
    FeedbackOpener openFeedback;
    std::function<void()> openSettings;
    std::function<void()> quit;
};

// The compact panel of the tray item: status, symptom, Quick Fix, the
// listening question, the output, and the less frequent actions.
class MenuBarDoctorView final : public QFrame {
    Q_OBJECT

public:
    MenuBarDoctorView(DoctorStore& store, PanelActions actions, QWidget* parent = nullptr);
    QMenu* moreActions() const { return m_more; }
    // Shows the panel beside `anchor` (the tray item, in screen coordinates) and
    // keeps it within the screen's available area as its height follows its content.
    void popUp(const QRect& anchor);

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    QRect availableArea() const;
    void fitHeight();
    void place();

    DoctorStore& m_store;
    PanelActions m_actions;
    QLabel* m_status = nullptr;
    QComboBox* m_intent = nullptr;
    QPushButton* m_quickFix = nullptr;
    QLabel* m_blocked = nullptr;
    QLabel* m_output = nullptr;
    QLabel* m_caption = nullptr;
    QToolButton* m_outputs = nullptr;
    QMenu* m_outputMenu = nullptr;
    QMenu* m_more = nullptr;
    QAction* m_restart = nullptr;
    QAction* m_undo = nullptr;
    QRect m_anchor;
};

}  // namespace sonorel
