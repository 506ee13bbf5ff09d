#include "views/menu_bar_doctor_view.h"

#include "diagnostics/health_summary.h"
#include "store/doctor_store.h"
#include "views/doctor_theme.h"
#include "views/notice_views.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace sonorel {

namespace {

using theme::qs;

constexpr RepairIntent allIntents[] = {RepairIntent::noSound,    RepairIntent::playback, RepairIntent::bluetooth,
                                       RepairIntent::microphone, RepairIntent::stereo,   RepairIntent::alerts,
                                       RepairIntent::afterWake,  RepairIntent::appOnly};

}  // namespace

MenuBarDoctorView::MenuBarDoctorView(DoctorStore& store, PanelActions actions, QWidget* parent)
    : QFrame(parent), m_store(store), m_actions(std::move(actions))
{
    setObjectName(QStringLiteral("menu-bar-panel"));
    setFixedWidth(350);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setSpacing(10);

    auto* header = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->setSpacing(0);
    auto* name = new QLabel(QStringLiteral("Sonorel Doctor"), this);
    theme::setPointSize(name, 11, QFont::DemiBold);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("menu-status"));
    theme::setPointSize(m_status, 8.5);
    titles->addWidget(name);
    titles->addWidget(m_status);
    header->addLayout(titles, 1);
    auto* checkAgain = new QToolButton(this);
    checkAgain->setObjectName(QStringLiteral("menu-refresh"));
    checkAgain->setIcon(theme::symbolIcon("arrow.clockwise", palette().color(QPalette::ButtonText)));
    checkAgain->setToolTip(QStringLiteral("Check again"));
    checkAgain->setAccessibleName(QStringLiteral("Check again"));
    checkAgain->setAutoRaise(true);
    connect(checkAgain, &QToolButton::clicked, this, [this] { m_store.refresh(); });
    header->addWidget(checkAgain, 0, Qt::AlignTop);
    layout->addLayout(header);

    auto* problem = new QHBoxLayout;
    auto* problemLabel = new QLabel(QStringLiteral("Problem"), this);
    m_intent = new QComboBox(this);
    m_intent->setObjectName(QStringLiteral("menu-repair-intent"));
    m_intent->setAccessibleName(QStringLiteral("Problem"));
    problemLabel->setBuddy(m_intent);
    for (const RepairIntent intent : allIntents)
        m_intent->addItem(qs(label(intent)), int(intent));
    connect(m_intent, &QComboBox::activated, this,
            [this](int index) { m_store.setIntent(RepairIntent(m_intent->itemData(index).toInt())); });
    problem->addWidget(problemLabel);
    problem->addWidget(m_intent, 1);
    layout->addLayout(problem);

    m_quickFix = new QPushButton(this);
    m_quickFix->setObjectName(QStringLiteral("menu-quick-fix"));
    theme::makePrimary(m_quickFix);
    connect(m_quickFix, &QPushButton::clicked, this, [this] { m_store.runQuickFix(); });
    layout->addWidget(m_quickFix);
    m_blocked = new QLabel(this);
    m_blocked->setWordWrap(true);
    theme::setPointSize(m_blocked, 8.5);
    layout->addWidget(m_blocked);

    layout->addWidget(new NoticeView(store, m_actions.openFeedback, this));
    layout->addWidget(new ListeningBanner(store, m_actions.openDoctor, this));

    auto* card = new QFrame(this);
    card->setFrameShape(QFrame::StyledPanel);
    auto* cardLayout = new QVBoxLayout(card);
    m_output = new QLabel(card);
    m_output->setObjectName(QStringLiteral("menu-output"));
    m_output->setWordWrap(true);
    theme::setPointSize(m_output, 14, QFont::Medium);
    m_caption = new QLabel(card);
    m_caption->setObjectName(QStringLiteral("menu-quick-fix-summary"));
    m_caption->setWordWrap(true);
    theme::setPointSize(m_caption, 8.5);
    cardLayout->addWidget(m_output);
    cardLayout->addWidget(m_caption);
    layout->addWidget(card);

    m_outputs = new QToolButton(this);
    m_outputs->setObjectName(QStringLiteral("menu-choose-output"));
    m_outputs->setText(QStringLiteral("Choose output"));
    m_outputs->setIcon(theme::symbolIcon("speaker.wave.2", palette().color(QPalette::ButtonText)));
    m_outputs->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_outputs->setPopupMode(QToolButton::InstantPopup);
    m_outputMenu = new QMenu(m_outputs);
    m_outputs->setMenu(m_outputMenu);
    layout->addWidget(m_outputs);

    auto* bottom = new QHBoxLayout;
    auto* crackle = new QPushButton(QStringLiteral("I heard a crackle"), this);
    crackle->setFlat(true);
    connect(crackle, &QPushButton::clicked, this, [this] { m_store.markCrackle(); });
    bottom->addWidget(crackle);
    bottom->addStretch();
    auto* more = new QToolButton(this);
    more->setObjectName(QStringLiteral("menu-more-actions"));
    more->setIcon(theme::symbolIcon("ellipsis.circle", palette().color(QPalette::ButtonText)));
    more->setAccessibleName(QStringLiteral("More actions"));
    more->setToolTip(QStringLiteral("More actions"));
    more->setAutoRaise(true);
    more->setPopupMode(QToolButton::InstantPopup);
    m_more = new QMenu(more);
    m_restart = m_more->addAction(QStringLiteral("Restart audio service"), this,
                                  [this] { m_store.perform(RepairAction::restartAudio); });
    m_undo = m_more->addAction(QStringLiteral("Undo repair settings"), this, [this] { m_store.undoRepairSettings(); });
    m_more->addAction(QStringLiteral("Troubleshoot this problem"), this, [this] {
        m_store.setSelectedPage(DoctorPage::troubleshoot);
        if (m_actions.openDoctor)
            m_actions.openDoctor();
    });
    m_more->addSeparator();
    m_more->addAction(QStringLiteral("Copy diagnostic report"), this, [this] { m_store.copyReport(); });
    m_more->addAction(QStringLiteral("Send feedback"), this, [this] {
        if (m_actions.openFeedback)
            m_actions.openFeedback(false);
    });
    m_more->addAction(QStringLiteral("Settings…"), this, [this] {
        if (m_actions.openSettings)
            m_actions.openSettings();
    });
    m_more->addSeparator();
    m_more->addAction(QStringLiteral("Quit Sonorel Doctor"), this, [this] {
        if (m_actions.quit)
            m_actions.quit();
    });
    more->setMenu(m_more);
    bottom->addWidget(more);
    layout->addLayout(bottom);

    auto* open = new QPushButton(QStringLiteral("Open Doctor"), this);
    open->setObjectName(QStringLiteral("open-doctor"));
    open->setIcon(theme::symbolIcon("arrow.up.right", palette().color(QPalette::ButtonText)));
    connect(open, &QPushButton::clicked, this, [this] {
        if (m_actions.openDoctor)
            m_actions.openDoctor();
    });
    layout->addWidget(open);

    connect(&m_store, &DoctorStore::actionsChanged, this, &MenuBarDoctorView::refresh);
    refresh();
}

void MenuBarDoctorView::popUp(const QRect& anchor)
{
    m_anchor = anchor;
    // Made before it is placed: the position then counts the frame the window
    // really has (none, for a popup), not one guessed for a window still to come.
    create();
    layout()->activate();
    fitHeight();
    place();
    show();
}

bool MenuBarDoctorView::event(QEvent* event)
{
    const bool handled = QFrame::event(event);
    // The layout has taken in a change (a notice, a longer caption): a window's
    // height follows, as nothing else resizes a popup.
    if (event->type() == QEvent::LayoutRequest && isWindow())
        fitHeight();
    return handled;
}

void MenuBarDoctorView::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    if (isWindow() && m_anchor.isValid())
        place();
}

QRect MenuBarDoctorView::availableArea() const
{
    QScreen* screen = m_anchor.isValid() ? QGuiApplication::screenAt(m_anchor.center()) : nullptr;
    return (screen ? screen : this->screen())->availableGeometry();
}

void MenuBarDoctorView::fitHeight()
{
    const int wanted = hasHeightForWidth() ? heightForWidth(width()) : sizeHint().height();
    const int fitting = std::min(wanted, availableArea().height());
    if (fitting != height())
        resize(width(), fitting);
}

void MenuBarDoctorView::place()
{
    const QRect area = availableArea();
    constexpr int gap = 4;
    // Below a tray item at the top of the screen, above one at the bottom; the
    // edge beside the tray item stays put as the panel grows.
    QPoint at(m_anchor.center().x() - width() / 2, m_anchor.bottom() + gap);
    if (at.y() + height() > area.bottom() + 1)
        at.setY(m_anchor.top() - gap - height());
    at.setX(std::max(area.left(), std::min(at.x(), area.right() + 1 - width())));
    at.setY(std::max(area.top(), std::min(at.y(), area.bottom() + 1 - height())));
    if (at != pos())
        move(at);
}

void MenuBarDoctorView::refresh()
{
    const bool fixing = m_store.isFixing();
    const AudioSnapshot& snapshot = m_store.snapshot();
    m_status->setText(QString::fromStdString(HealthSummary::statusLine(m_store.checks(), fixing, snapshot.readError)));
    m_intent->setCurrentIndex(m_intent->findData(int(m_store.intent())));
    const bool blocked = m_store.quickFixBlockedByInput();
    m_quickFix->setText(fixing ? QStringLiteral("Fixing…") : QStringLiteral("Quick Fix"));
    theme::showSymbol(m_quickFix, fixing ? "arrow.triangle.2.circlepath" : "sparkles", QColor(0x1d, 0x1a, 0x14));
    m_quickFix->setEnabled(m_store.canRunQuickFix());
    m_blocked->setVisible(blocked);
    m_blocked->setText(QString::fromStdString(m_store.quickFixBlockedText()));

    const AudioDevice* output = snapshot.outputDevice();
    m_output->setText(output ? QString::fromStdString(output->name) : QStringLiteral("No audio output"));
    m_caption->setText(QString::fromStdString(fixing ? m_store.fixingLabel() : m_store.quickFixSummary()));

    m_outputMenu->clear();
    for (const AudioDevice* device : snapshot.outputDevices()) {
        QAction* choice = m_outputMenu->addAction(QString::fromStdString(device->name));
        if (output && device->uid == output->uid)
            choice->setIcon(theme::symbolIcon("checkmark", palette().color(QPalette::WindowText)));
        const std::string uid = device->uid;
        connect(choice, &QAction::triggered, this, [this, uid] { m_store.selectOutput(uid); });
    }
    m_outputs->setEnabled(!fixing);
    m_restart->setEnabled(m_store.canPerform(RepairAction::restartAudio));
    m_undo->setEnabled(!fixing && !m_store.undoChanges().empty());
}

}  // namespace sonorel
