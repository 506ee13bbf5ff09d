#include "views/notice_views.h"

#include "store/doctor_store.h"
#include "views/doctor_theme.h"

#include <QAccessible>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace sonorel {

namespace {

// An icon-only close button, named for screen readers.
QPushButton* closeButton(QWidget* parent, const char* objectName, const QString& accessibleName)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(objectName));
    button->setIcon(theme::symbolIcon("xmark", parent->palette().color(QPalette::ButtonText)));
    button->setAccessibleName(accessibleName);
    button->setToolTip(accessibleName);
    button->setFlat(true);
    return button;
}

}  // namespace

NoticeView::NoticeView(DoctorStore& store, FeedbackOpener openFeedback, QWidget* parent)
    : QFrame(parent), m_store(store)
{
    setObjectName(QStringLiteral("notice"));
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 10, 10, 10);
    m_symbol = new QLabel(this);
    layout->addWidget(m_symbol, 0, Qt::AlignTop);
    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("notice-title"));
    m_title->setWordWrap(true);
    theme::setPointSize(m_title, m_title->font().pointSizeF(), QFont::DemiBold);
    m_detail = new QLabel(this);
    m_detail->setObjectName(QStringLiteral("notice-detail"));
    m_detail->setWordWrap(true);
    m_detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->addWidget(m_title);
    text->addWidget(m_detail);
    layout->addLayout(text, 1);
    m_restartAnyway = new QPushButton(QStringLiteral("Restart anyway"), this);
    m_restartAnyway->setObjectName(QStringLiteral("notice-restart-anyway"));
    connect(m_restartAnyway, &QPushButton::clicked, this, [this] { m_store.restartUnanswered(); });
    layout->addWidget(m_restartAnyway, 0, Qt::AlignVCenter);
    // About the repair that did not help when the notice says so; else about the error.
    m_feedback = new DoctorFeedbackButton(
        [this, open = std::move(openFeedback)](bool) {
            if (open)
                open(m_store.notice() && m_store.notice()->offersFeedback);
        },
        false, this);
    layout->addWidget(m_feedback, 0, Qt::AlignVCenter);
    auto* dismiss = closeButton(this, "notice-dismiss", QStringLiteral("Dismiss"));
    connect(dismiss, &QPushButton::clicked, this, [this] { m_store.setNotice(std::nullopt); });
    layout->addWidget(dismiss, 0, Qt::AlignTop);
    connect(&m_store, &DoctorStore::noticeChanged, this, &NoticeView::refresh);
    refresh();
}

void NoticeView::refresh()
{
    const auto& notice = m_store.notice();
    setVisible(notice.has_value());
    if (!notice)
        return;
    const bool error = notice->isError;
    m_symbol->setPixmap(theme::symbolPixmap(error ? "exclamationmark.circle" : "checkmark.circle",
                                            error ? QColor(0xff, 0x95, 0x00) : QColor(0x34, 0xc7, 0x59), 20,
                                            devicePixelRatioF()));
    m_symbol->setAccessibleName(error ? QStringLiteral("Problem") : QStringLiteral("Done"));
    m_title->setText(QString::fromStdString(notice->title));
    m_detail->setText(QString::fromStdString(notice->detail));
    m_detail->setVisible(!notice->detail.empty());
    m_restartAnyway->setVisible(m_store.offersUnansweredRestart());
    m_feedback->setVisible((error || notice->offersFeedback) && !m_store.offersUnansweredRestart());
    // Spoken at once, as the notice appears: screen readers would not find it otherwise.
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::Alert);
        QAccessible::updateAccessibility(&event);
    }
}

ListeningBanner::ListeningBanner(DoctorStore& store, std::function<void()> showNextStep, QWidget* parent)
    : QFrame(parent), m_store(store)
{
    setObjectName(QStringLiteral("repair-feedback"));
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 8, 10, 8);
    m_prompt = new QLabel(this);
    m_prompt->setObjectName(QStringLiteral("repair-feedback-prompt"));
    m_prompt->setWordWrap(true);
    layout->addWidget(m_prompt, 1);
    auto* better = new QPushButton(QStringLiteral("Better"), this);
    better->setObjectName(QStringLiteral("repair-feedback-better"));
    auto* worse = new QPushButton(QStringLiteral("Still a problem"), this);
    worse->setObjectName(QStringLiteral("repair-feedback-still"));
    auto* close = closeButton(this, "repair-feedback-dismiss", QStringLiteral("Close the question"));
    connect(close, &QPushButton::clicked, this, [this] { m_store.dismissListeningQuestion(); });
    layout->addWidget(better);
    layout->addWidget(worse);
    layout->addWidget(close, 0, Qt::AlignTop);
    connect(better, &QPushButton::clicked, this, [this] { m_store.reportListeningResult(true); });
    // The next troubleshooting step, where feedback is one choice.
    connect(worse, &QPushButton::clicked, this, [this, showNextStep]() -> QCoro::Task<> {
        QPointer<ListeningBanner> self(this);
        auto show = showNextStep;
        co_await m_store.reportListeningResult(false);
        if (self && show)
            show();
    });
    connect(&m_store, &DoctorStore::repairStateChanged, this, &ListeningBanner::refresh);
    refresh();
}

void ListeningBanner::refresh()
{
    setVisible(m_store.awaitingFeedback());
    m_prompt->setText(QString::fromStdString(m_store.feedbackPrompt()));
}

}  // namespace sonorel
