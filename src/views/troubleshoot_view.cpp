#include "views/troubleshoot_view.h"

#include "store/doctor_store.h"
#include "views/disclosure_button.h"
#include "views/doctor_theme.h"

#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace sonorel {

using theme::qs;

namespace {

QString titleOf(TroubleshootTopic topic)
{
    return qs(textOf(troubleshootTopicTitles, topic));
}

QString nameOf(TroubleshootTopic topic)
{
    return qs(textOf(troubleshootTopicNames, topic));
}

}  // namespace

TroubleshootView::TroubleshootView(DoctorStore& store, QWidget* parent) : QWidget(parent), m_store(store)
{
    setObjectName(QStringLiteral("page-troubleshoot"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 28);
    layout->setSpacing(14);
    layout->addWidget(theme::sectionHeading(QStringLiteral("Follow the sound."),
                                            QStringLiteral("Choose what’s wrong. Doctor opens the check that fits."), this));

    auto* controls = new QFrame(this);
    controls->setObjectName(QStringLiteral("troubleshoot-controls"));
    controls->setStyleSheet(QStringLiteral("#troubleshoot-controls { background: rgba(128, 128, 128, 28);"
                                           " border-radius: 10px; }"));
    auto* row = new QHBoxLayout(controls);
    row->setContentsMargins(14, 10, 14, 10);
    row->setSpacing(10);
    auto* question = new QLabel(QStringLiteral("What’s happening?"), controls);
    m_intent = new QComboBox(controls);
    m_intent->setObjectName(QStringLiteral("repair-intent"));
    m_intent->setAccessibleName(QStringLiteral("What’s happening?"));
    question->setBuddy(m_intent);
    for (const auto& [intent, text] : repairIntentLabels)
        m_intent->addItem(qs(text), int(intent));
    connect(m_intent, &QComboBox::activated, this,
            [this](int index) { m_store.setIntent(RepairIntent(m_intent->itemData(index).toInt())); });
    row->addWidget(question);
    row->addWidget(m_intent);
    row->addStretch();
    m_undo = new QPushButton(QStringLiteral("Undo repair settings"), controls);
    m_undo->setObjectName(QStringLiteral("undo-repair-settings"));
    connect(m_undo, &QPushButton::clicked, this, [this] { m_store.undoRepairSettings(); });
    row->addWidget(m_undo);
    m_quickFix = new TopicButton(QStringLiteral("Quick Fix"), "troubleshoot-quick-fix", controls);
    m_quickFix->setProminent(true);
    connect(m_quickFix, &QPushButton::clicked, this, [this] { m_store.runQuickFix(); });
    row->addWidget(m_quickFix);
    layout->addWidget(controls);

    m_status = theme::label({}, this, theme::secondaryText(palette()), 9.5);
    m_status->setObjectName(QStringLiteral("troubleshoot-status"));
    m_status->setWordWrap(true);
    layout->addWidget(m_status);

    m_topicsBox = new QWidget(this);
    m_topics = new QVBoxLayout(m_topicsBox);
    m_topics->setContentsMargins(0, 0, 0, 0);
    m_topics->setSpacing(0);
    layout->addWidget(m_topicsBox);
    layout->addStretch();

    connect(&m_store, &DoctorStore::actionsChanged, this, &TroubleshootView::refresh);
    refresh();
}

void TroubleshootView::refresh()
{
    const RepairIntent intent = m_store.intent();
    if (m_shownIntent != intent) {
        // A new symptom starts from a clean page: rows closed, nothing playing.
        if (m_shownIntent)
            m_store.stopListening();
        m_shownIntent = intent;
        m_expanded.clear();
        rebuildTopics();
    }
    const bool fixing = m_store.isFixing();
    m_intent->setCurrentIndex(m_intent->findData(int(intent)));
    m_intent->setEnabled(!fixing);
    m_undo->setVisible(!m_store.undoChanges().empty());
    m_undo->setEnabled(!fixing);
    const bool planned = !m_store.quickFixPlan().empty();
    const bool blocked = m_store.quickFixBlockedByInput();
    m_quickFix->setVisible(planned);
    m_quickFix->setEnabled(!fixing && !blocked);

    QPalette palette = m_status->palette();
    if (!planned) {
        m_status->setText(QStringLiteral("Nothing to repair automatically. Follow the check below."));
    } else if (!blocked) {
        m_status->setText(qs(m_store.quickFixSummary()));
    } else {
        m_status->setText(qs(m_store.quickFixBlockedText()));
    }
    const QColor colour = planned && blocked ? theme::stateColor(CheckState::warning, this->palette())
                                             : theme::secondaryText(this->palette());
    if (palette.color(QPalette::WindowText) != colour) {
        palette.setColor(QPalette::WindowText, colour);
        m_status->setPalette(palette);
    }
    refreshSummaries();
}

void TroubleshootView::rebuildTopics()
{
    qDeleteAll(m_topicsBox->findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
    m_summaries.clear();
    const TroubleshootTopic focus = focusTopic(*m_shownIntent);

    auto* box = new QGroupBox(titleOf(focus), m_topicsBox);
    box->setObjectName(QStringLiteral("troubleshoot-focus-") + nameOf(focus));
    box->setAccessibleName(titleOf(focus));
    // Only the title is heavier: style sheet fonts do not pass to the children.
    box->setStyleSheet(QStringLiteral("#%1 { font-weight: 600; }").arg(box->objectName()));
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(14, 12, 14, 12);
    boxLayout->addWidget(new TroubleshootTopicContent(m_store, focus, true, box));
    m_topics->addWidget(box);

    auto* other = new QLabel(QStringLiteral("Other checks"), m_topicsBox);
    theme::setPointSize(other, 12, QFont::DemiBold);
    other->setContentsMargins(0, 18, 0, 6);
    m_topics->addWidget(other);

    bool first = true;
    for (const TroubleshootTopic topic : casesOf(troubleshootTopicNames)) {
        if (topic == focus)
            continue;
        if (!first) {
            auto* divider = new QFrame(m_topicsBox);
            divider->setFrameShape(QFrame::HLine);
            divider->setFrameShadow(QFrame::Plain);
            divider->setStyleSheet(QStringLiteral("color: rgba(128, 128, 128, 70);"));
            m_topics->addWidget(divider);
        }
        first = false;

        auto* row = new QWidget(m_topicsBox);
        row->setObjectName(QStringLiteral("other-check-") + nameOf(topic));
        auto* rowLayout = new QVBoxLayout(row);
        rowLayout->setContentsMargins(0, 6, 0, 6);
        rowLayout->setSpacing(2);
        auto* header = new QHBoxLayout;
        auto* toggle = new DisclosureButton(titleOf(topic), row);
        toggle->setObjectName(QStringLiteral("other-check-toggle-") + nameOf(topic));
        theme::setPointSize(toggle, 10, QFont::DemiBold);
        header->addWidget(toggle);
        header->addStretch();
        rowLayout->addLayout(header);
        auto* summary = theme::label({}, row, theme::secondaryText(palette()), 9.5);
        summary->setObjectName(QStringLiteral("other-check-summary-") + nameOf(topic));
        summary->setContentsMargins(24, 0, 0, 0);
        rowLayout->addWidget(summary);
        m_summaries.push_back({topic, summary, toggle});
        auto* content = new QWidget(row);
        auto* contentLayout = new QVBoxLayout(content);
        contentLayout->setContentsMargins(24, 6, 0, 4);
        rowLayout->addWidget(content);
        content->hide();
        // Built when first opened: closed rows cost nothing on each reading.
        connect(toggle, &DisclosureButton::openChanged, this, [this, topic, content, contentLayout](bool open) {
            if (open && contentLayout->isEmpty())
                contentLayout->addWidget(new TroubleshootTopicContent(m_store, topic, false, content));
            content->setVisible(open);
            if (open)
                m_expanded.insert(topic);
            else
                m_expanded.erase(topic);
        });
        m_topics->addWidget(row);
    }
}

void TroubleshootView::refreshSummaries()
{
    for (const auto& row : m_summaries) {
        const QString summary = qs(topicSummary(row.topic, m_store));
        row.summary->setText(summary);
        row.toggle->setToolTip(summary);
    }
}

void TroubleshootView::hideEvent(QHideEvent* event)
{
    m_store.stopListening();
    QWidget::hideEvent(event);
}

}  // namespace sonorel
