#include "app/main_window.h"

#include "store/doctor_store.h"
#include "views/activity_view.h"
#include "views/devices_view.h"
#include "views/doctor_help_view.h"
#include "views/doctor_theme.h"
#include "views/notice_views.h"
#include "views/overview_view.h"
#include "views/troubleshoot_view.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolBar>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace sonorel {

namespace {

struct PageEntry {
    DoctorPage page;
    const char* title;
    const char* symbol;
};

constexpr PageEntry pages[] = {
    {DoctorPage::overview, "Overview", "waveform.path.ecg"},
    {DoctorPage::troubleshoot, "Troubleshoot", "stethoscope"},
    {DoctorPage::devices, "Devices", "headphones"},
    {DoctorPage::activity, "Activity", "clock.arrow.circlepath"},
    {DoctorPage::help, "Help", "questionmark.circle"},
};

QWidget* scrolling(QWidget* page)
{
    auto* area = new QScrollArea;
    area->setWidget(page);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    // Not a Tab stop of its own (it shows no focus); it scrolls to the control that has focus.
    area->setFocusPolicy(Qt::NoFocus);
    return area;
}

}  // namespace

MainWindow::MainWindow(DoctorStore& store, WindowActions actions, QWidget* parent)
    : QMainWindow(parent), m_store(store), m_actions(std::move(actions))
{
    setObjectName(QStringLiteral("doctor"));
    setWindowTitle(QStringLiteral("Sonorel Doctor"));
    theme::resizeWithinScreen(this, {1060, 820});

    auto* central = new QWidget(this);
    auto* split = new QHBoxLayout(central);
    split->setContentsMargins(0, 0, 0, 0);
    split->setSpacing(0);
    split->addWidget(buildSidebar());

    auto* detail = new QVBoxLayout;
    detail->setContentsMargins(12, 8, 12, 0);
    detail->setSpacing(8);
    detail->addWidget(new ListeningBanner(store, {}, central));
    detail->addWidget(new NoticeView(store, m_actions.openFeedback, central));
    m_pages = new QStackedWidget(central);
    detail->addWidget(m_pages, 1);
    split->addLayout(detail, 1);
    setCentralWidget(central);

    auto* toolbar = addToolBar(QStringLiteral("Doctor"));
    toolbar->setObjectName(QStringLiteral("toolbar"));
    toolbar->setMovable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QAction* refresh = toolbar->addAction(theme::symbolIcon("arrow.clockwise", palette().color(QPalette::ButtonText)),
                                          QStringLiteral("Check again"), this, [this] { m_store.refresh(); });
    refresh->setToolTip(QStringLiteral("Check audio again (Ctrl+R)"));
    toolbar->widgetForAction(refresh)->setObjectName(QStringLiteral("refresh"));
    m_copy = toolbar->addAction(QStringLiteral("Copy report"), this, [this] { m_store.copyReport(); });
    m_copy->setToolTip(QStringLiteral("Copy a diagnostic report"));
    toolbar->widgetForAction(m_copy)->setObjectName(QStringLiteral("copy-report"));
    // Toolbar buttons take no focus by default; keyboard users reach them with Tab.
    for (QAction* action : {refresh, m_copy})
        toolbar->widgetForAction(action)->setFocusPolicy(Qt::TabFocus);

    buildMenus();
    // Qt's overflow buttons come without names; screen readers need one.
    for (auto* overflow : findChildren<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
        overflow->setAccessibleName(QStringLiteral("More toolbar buttons"));
    for (auto* overflow : findChildren<QToolButton*>(QStringLiteral("qt_menubar_ext_button")))
        overflow->setAccessibleName(QStringLiteral("More menus"));
    connect(&m_store, &DoctorStore::pageChanged, this, &MainWindow::showPage);
    connect(&m_store, &DoctorStore::preferencesChanged, this, &MainWindow::refreshMonitoring);
    for (auto signal : {&DoctorStore::actionsChanged, &DoctorStore::reportCopiedChanged})
        connect(&m_store, signal, this, &MainWindow::refreshCommands);
    showPage();
    refreshMonitoring();
    refreshCommands();
}

QWidget* MainWindow::buildPage(DoctorPage page)
{
    switch (page) {
    case DoctorPage::overview:
        return scrolling(new OverviewView(m_store));
    case DoctorPage::devices:
        return scrolling(new DevicesView(m_store));
    case DoctorPage::activity:
        return scrolling(new ActivityView(m_store));
    case DoctorPage::help:
        return scrolling(new DoctorHelpView(m_store, m_actions.openFeedback));
    case DoctorPage::troubleshoot:
        return scrolling(new TroubleshootView(m_store));
    }
    return nullptr;
}

QWidget* MainWindow::buildSidebar()
{
    auto* sidebar = new QFrame(this);
    sidebar->setObjectName(QStringLiteral("sidebar"));
    sidebar->setMinimumWidth(180);
    sidebar->setMaximumWidth(240);
    sidebar->setAutoFillBackground(true);
    QPalette palette = sidebar->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::AlternateBase));
    sidebar->setPalette(palette);
    auto* layout = new QVBoxLayout(sidebar);
    layout->setContentsMargins(10, 14, 10, 14);
    layout->setSpacing(2);
    m_nav = new QButtonGroup(sidebar);
    m_nav->setExclusive(false);
    for (const auto& entry : pages) {
        auto* row = new QPushButton(QString::fromLatin1(entry.title), sidebar);
        row->setObjectName(QStringLiteral("nav-") + QString::fromLatin1(entry.title).toLower());
        row->setIcon(theme::symbolIcon(entry.symbol, palette.color(QPalette::ButtonText)));
        // Plain buttons, not toggles: a screen reader says "button", and
        // pressing one over the accessibility bus opens its page.
        row->setFlat(true);
        row->setStyleSheet(QStringLiteral("QPushButton { text-align: left; padding: 5px 8px; border-radius: 6px; }"
                                          "QPushButton[current=\"true\"] { background: palette(highlight);"
                                          " color: palette(highlighted-text); }"));
        m_nav->addButton(row, int(entry.page));
        layout->addWidget(row);
    }
    connect(m_nav, &QButtonGroup::idClicked, this, [this](int page) { m_store.setSelectedPage(DoctorPage(page)); });
    layout->addStretch();
    m_monitoring = new QLabel(sidebar);
    m_monitoring->setObjectName(QStringLiteral("monitoring-state"));
    theme::setPointSize(m_monitoring, 8.5);
    layout->addWidget(m_monitoring);
    auto* settings = new QPushButton(QStringLiteral("Settings"), sidebar);
    settings->setObjectName(QStringLiteral("open-settings"));
    settings->setIcon(theme::symbolIcon("gearshape", palette.color(QPalette::ButtonText)));
    settings->setFlat(true);
    settings->setStyleSheet(QStringLiteral("text-align: left; padding: 4px 8px;"));
    connect(settings, &QPushButton::clicked, this, [this] {
        if (m_actions.openSettings)
            m_actions.openSettings();
    });
    layout->addWidget(settings);
    return sidebar;
}

void MainWindow::buildMenus()
{
    QMenu* app = menuBar()->addMenu(QStringLiteral("&Sonorel Doctor"));
    app->addAction(QStringLiteral("Check for Updates…"), this, [this] {
        if (m_actions.checkForUpdates)
            m_actions.checkForUpdates();
    });
    app->addSeparator();
    QAction* quit = app->addAction(QStringLiteral("&Quit"), this, [this] {
        if (m_actions.quit)
            m_actions.quit();
    });
    quit->setShortcut(QKeySequence::Quit);

    QMenu* audio = menuBar()->addMenu(QStringLiteral("&Audio"));
    audio->addAction(QStringLiteral("Check Audio Again"), QKeySequence(Qt::CTRL | Qt::Key_R), this,
                     [this] { m_store.refresh(); });
    m_quickFix = audio->addAction(QStringLiteral("Quick Fix"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R), this,
                                  [this] { m_store.runQuickFix(); });
    audio->addAction(QStringLiteral("Mark a Crackle"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M), this,
                     [this] { m_store.markCrackle(); });
    audio->addSeparator();
    m_restart = audio->addAction(QStringLiteral("Restart Audio Service…"), this,
                                 [this] { m_store.perform(RepairAction::restartAudio); });
    m_tone = audio->addAction(QStringLiteral("Play Test Tone"), this, [this] { m_store.playTestTone(); });
    audio->addSeparator();
    audio->addAction(QStringLiteral("Copy Diagnostic Report"), this, [this] { m_store.copyReport(); });
    audio->addAction(QStringLiteral("Export Diagnostic Report…"), this, [this] { m_store.exportReport(); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("Sonorel Doctor Help"), this, [this] {
        m_store.setSelectedPage(DoctorPage::help);
        show();
        raise();
        activateWindow();
    });
    help->addAction(QStringLiteral("Send Feedback…"), this, [this] {
        if (m_actions.openFeedback)
            m_actions.openFeedback(false);
    });
}

void MainWindow::showPage()
{
    const DoctorPage page = m_store.selectedPage().value_or(DoctorPage::overview);
    // Pages are made when first opened: the window appears sooner and unopened
    // pages do no work on each reading.
    auto built = m_pageIndex.find(int(page));
    if (built == m_pageIndex.end())
        built = m_pageIndex.emplace(int(page), m_pages->addWidget(buildPage(page))).first;
    m_pages->setCurrentIndex(built->second);
    for (QAbstractButton* row : m_nav->buttons()) {
        const bool current = m_nav->id(row) == int(page);
        row->setProperty("current", current);
        row->setAccessibleDescription(current ? QStringLiteral("Current page") : QString());
        row->style()->unpolish(row);
        row->style()->polish(row);
    }
}

void MainWindow::refreshMonitoring()
{
    m_monitoring->setText(m_store.monitoringEnabled() ? QStringLiteral("Watching your audio")
                                                      : QStringLiteral("Monitoring paused"));
}

void MainWindow::refreshCommands()
{
    const bool fixing = m_store.isFixing();
    m_quickFix->setEnabled(m_store.canRunQuickFix());
    m_restart->setEnabled(m_store.canPerform(RepairAction::restartAudio));
    m_tone->setEnabled(!fixing);
    const bool copied = m_store.reportCopied();
    m_copy->setText(copied ? QStringLiteral("Copied") : QStringLiteral("Copy report"));
    theme::showSymbol(m_copy, copied ? "checkmark" : "doc.on.doc", palette().color(QPalette::ButtonText));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_staysInTray) {
        hide();
        event->ignore();
        return;
    }
    event->accept();
    if (m_actions.quit)
        m_actions.quit();
}

}  // namespace sonorel
