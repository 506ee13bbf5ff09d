#pragma once

#include "views/feedback_view.h"

#include <QMainWindow>

#include <functional>
#include <map>

class QButtonGroup;
class QLabel;
class QStackedWidget;

namespace sonorel {

class DoctorStore;
enum class DoctorPage;

struct WindowActions {
    FeedbackOpener openFeedback;
    std::function<void()> openSettings;
    std::function<void()> checkForUpdates;
    std::function<void()> quit;
};

// "Sonorel Doctor": the sidebar of five pages, the page, the listening
// question and the notice, the toolbar and the menus.
class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    MainWindow(DoctorStore& store, WindowActions actions, QWidget* parent = nullptr);
    // Closing hides the window when the app stays in the tray, else it quits.
    void setStaysInTray(bool stays) { m_staysInTray = stays; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildPage(DoctorPage page);
    QWidget* buildSidebar();
    void buildMenus();
    void showPage();
    void refreshMonitoring();
    void refreshCommands();

    DoctorStore& m_store;
    WindowActions m_actions;
    bool m_staysInTray = false;
    QButtonGroup* m_nav = nullptr;
    QStackedWidget* m_pages = nullptr;
    std::map<int, int> m_pageIndex;  // DoctorPage → stack index, for the pages made so far
    QLabel* m_monitoring = nullptr;
    QAction* m_quickFix = nullptr;
    QAction* m_restart = nullptr;
    QAction* m_tone = nullptr;
    QAction* m_copy = nullptr;
};

}  // namespace sonorel
