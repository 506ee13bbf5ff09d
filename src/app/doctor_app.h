#pragma once

#include <QObject>
#include <QStringList>

#include <memory>

class QLocalServer;
class QSettings;
class QSystemTrayIcon;
class QWidget;

namespace sonorel {

class AudioThread;
class DoctorStore;
class MainWindow;
class MenuBarDoctorView;
class SupportFeedback;
class DesktopServices;
class DoctorSettingsView;

// The running application: one store, the window, the tray item and panel.
// One instance per user session: a second launch raises the first.
class DoctorApp final : public QObject {
    Q_OBJECT

public:
    struct Options {
        bool uiTesting = false;   // throw-away settings
        bool background = false;  // started at login: tray only, when there is a tray
    };
    // Arguments of the window's face: "--ui-testing", "--background".
    static bool isWindowLaunch(const QStringList& arguments);
    static Options optionsFrom(const QStringList& arguments);

    explicit DoctorApp(Options options);
    ~DoctorApp() override;
    // False when another instance answered (it was asked to show its window)
    // or when the app cannot start; `error` then says why, if it failed.
    bool start(QString* error);

    void openDoctor();
    MainWindow* window() const { return m_window.get(); }
    DoctorStore& store() const { return *m_store; }

private:
    bool claimInstance();
    void buildTray();
    void togglePanel();
    void refreshTray();
    void openFeedback(bool unresolvedRepair);
    void openSettings();

    Options m_options;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<DesktopServices> m_desktop;
    std::unique_ptr<AudioThread> m_audio;
    std::unique_ptr<DoctorStore> m_store;
    std::unique_ptr<SupportFeedback> m_feedback;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<MenuBarDoctorView> m_panel;
    std::unique_ptr<QWidget> m_feedbackWindow;
    std::unique_ptr<DoctorSettingsView> m_settingsWindow;
    QSystemTrayIcon* m_tray = nullptr;
    QLocalServer* m_instance = nullptr;
};

}  // namespace sonorel
