#include "app/doctor_app.h"

#include "app/main_window.h"
#include "app/user_places.h"
#include "diagnostics/health_summary.h"
#include "feedback/murmex_feedback_sender.h"
#include "sonorel_config.h"
#include "store/doctor_store.h"
#include "views/doctor_settings_view.h"
#include "views/doctor_theme.h"
#include "views/feedback_view.h"
#include "views/menu_bar_doctor_view.h"
#include "views/return_key.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QUrl>

#include <algorithm>

namespace sonorel {

namespace {

// The clipboard, the save dialog and the settings tools of this desktop.
class QtDesktopServices final : public DesktopServices {
public:
    void copyText(const std::string& text) override
    {
        QGuiApplication::clipboard()->setText(QString::fromStdString(text));
    }
    std::optional<QString> chooseReportFile(const QString& proposedName) override
    {
        const QString file = QFileDialog::getSaveFileName(nullptr, QStringLiteral("Export Diagnostic Report"),
                                                          QDir(reportFolder()).filePath(proposedName),
                                                          QStringLiteral("Text (*.txt)"));
        return file.isEmpty() ? std::nullopt : std::optional(file);
    }
    bool openSettingsPane(SettingsPane pane) override { return openInstalledSettingsPane(pane); }
};

}  // namespace

bool DoctorApp::isWindowLaunch(const QStringList& arguments)
{
    for (const QString& argument : arguments)
        if (argument != QLatin1String("--ui-testing") && argument != QLatin1String("--background"))
            return false;
    return true;
}

DoctorApp::Options DoctorApp::optionsFrom(const QStringList& arguments)
{
    return {arguments.contains(QLatin1String("--ui-testing")), arguments.contains(QLatin1String("--background"))};
}

DoctorApp::DoctorApp(Options options) : m_options(options) {}

DoctorApp::~DoctorApp()
{
    // The views go before the store they read, the store before the audio side.
    m_feedbackWindow.reset();
    m_settingsWindow.reset();
    m_panel.reset();
    m_window.reset();
    m_feedback.reset();
    m_store.reset();
    m_audio.reset();
}

bool DoctorApp::claimInstance()
{
    // Per user and session, in a directory no other account can reach.
    const auto name = instanceSocketPath();
    if (!name)
        return true;
    QLocalSocket running;
    running.connectToServer(*name);
    if (running.waitForConnected(500)) {
        running.write("show\n");
        running.waitForBytesWritten(500);
        return false;
    }
    // Nobody answers: a name left by a crashed run is taken over.
    QLocalServer::removeServer(*name);
    m_instance = new QLocalServer(this);
    m_instance->setSocketOptions(QLocalServer::UserAccessOption);
    m_instance->listen(*name);
    connect(m_instance, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* other = m_instance->nextPendingConnection()) {
            connect(other, &QLocalSocket::readyRead, this, [this, other] {
                other->readAll();
                openDoctor();
                other->deleteLater();
            });
        }
    });
    return true;
}

bool DoctorApp::start(QString* error)
{
    if (!m_options.uiTesting && !claimInstance())
        return false;
    m_settings = m_options.uiTesting ? throwAwaySettings() : userSettings();
    if (!m_settings) {
        if (error)
            *error = QStringLiteral("No temporary folder for the test settings could be made.");
        return false;
    }
    qApp->installEventFilter(new ReturnPressesButtons(this));
    m_audio = std::make_unique<AudioThread>(liveAudioParts);
    m_desktop = std::make_unique<QtDesktopServices>();
    StoreServices services;
    services.desktop = m_desktop.get();
    services.launchAtLogin =
        LaunchAtLogin(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString());
    services.launchCommand = QCoreApplication::applicationFilePath().toStdString();
    services.system = systemDescription();
    services.appVersion = SONOREL_VERSION;
    m_store = std::make_unique<DoctorStore>(*m_audio, *m_settings, std::move(services), true);
    const FeedbackService service = FeedbackService::configured(*m_settings);
    m_feedback = std::make_unique<SupportFeedback>(*m_store, std::make_shared<MurmexFeedbackSender>(service),
                                                   service.supportAddress);

    WindowActions actions;
    actions.openFeedback = [this](bool unresolvedRepair) { openFeedback(unresolvedRepair); };
    actions.openSettings = [this] { openSettings(); };
    actions.checkForUpdates = [] { QDesktopServices::openUrl(QUrl(QStringLiteral("appstream://dev.mirthwork.SonorelDoctor"))); };
    actions.quit = [] { QApplication::quit(); };
    m_window = std::make_unique<MainWindow>(*m_store, actions);

    // Without a tray nothing may run unseen: the window opens and closing it quits.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        buildTray();
    m_window->setStaysInTray(m_tray != nullptr);
    if (!m_tray || !m_options.background)
        openDoctor();
    return true;
}

void DoctorApp::buildTray()
{
    PanelActions actions;
    actions.openDoctor = [this] {
        m_panel->hide();
        openDoctor();
    };
    actions.openFeedback = [this](bool unresolvedRepair) {
        m_panel->hide();
        openFeedback(unresolvedRepair);
    };
    actions.openSettings = [this] { openSettings(); };
    actions.quit = [] { QApplication::quit(); };
    m_panel = std::make_unique<MenuBarDoctorView>(*m_store, actions);
    m_panel->setWindowFlags(Qt::Popup);
    m_tray = new QSystemTrayIcon(this);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context)
            togglePanel();
    });
    for (auto signal : {&DoctorStore::readingChanged, &DoctorStore::repairStateChanged})
        connect(m_store.get(), signal, this, &DoctorApp::refreshTray);
    refreshTray();
    m_tray->show();
}

void DoctorApp::togglePanel()
{
    if (m_panel->isVisible()) {
        m_panel->hide();
        return;
    }
    // Beside the tray item where the system says where it is, else at the pointer.
    QRect anchor = m_tray->geometry();
    if (!anchor.isValid())
        anchor = QRect(QCursor::pos(), QSize(1, 1));
    m_panel->popUp(anchor);
    m_panel->activateWindow();
}

void DoctorApp::refreshTray()
{
    const auto& checks = m_store->checks();
    const bool fixing = m_store->isFixing();
    const auto symbol = HealthSummary::statusSymbolName(checks, fixing);
    const bool attention = HealthSummary::attentionCount(checks) > 0 && !fixing;
    theme::showSymbol(m_tray, symbol, attention ? theme::doctorAmber : QColor(0x9a, 0x9a, 0x9a));
    const QString label =
        QString::fromStdString(HealthSummary::statusItemLabel(checks, fixing, m_store->snapshot().readError));
    if (m_tray->toolTip() != label)
        m_tray->setToolTip(label);
}

void DoctorApp::openDoctor()
{
    m_window->show();
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->raise();
    m_window->activateWindow();
}

void DoctorApp::openFeedback(bool unresolvedRepair)
{
    m_feedback->prepareFeedback(unresolvedRepair);
    if (!m_feedbackWindow)
        m_feedbackWindow = makeFeedbackWindow(*m_feedback);
    m_feedbackWindow->show();
    m_feedbackWindow->raise();
    m_feedbackWindow->activateWindow();
}

void DoctorApp::openSettings()
{
    if (!m_settingsWindow) {
        m_settingsWindow = std::make_unique<DoctorSettingsView>(*m_store);
        m_settingsWindow->setWindowIcon(theme::appIcon());
        // Tall enough for its wrapped notes at this width, which the plain size hint misses.
        const int height = m_settingsWindow->hasHeightForWidth() ? m_settingsWindow->heightForWidth(460)
                                                                 : m_settingsWindow->sizeHint().height();
        theme::resizeWithinScreen(m_settingsWindow.get(), {460, std::max(height, m_settingsWindow->sizeHint().height())});
    }
    m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->activateWindow();
}

}  // namespace sonorel
