#include "views/overview_view.h"

#include "diagnostics/health_summary.h"
#include "model/text_format.h"
#include "store/doctor_store.h"
#include "views/doctor_theme.h"
#include "views/health_dial.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace sonorel {

namespace {

using theme::label;
using theme::qs;

const char* kindSymbolName(CheckKind kind)
{
    switch (kind) {
    case CheckKind::output:
        return "cable.connector";
    case CheckKind::volume:
        return "speaker.wave.2";
    case CheckKind::bluetooth:
        return "headphones";
    case CheckKind::sampleRate:
        return "waveform.path";
    case CheckKind::playback:
        return "waveform.path.ecg";
    case CheckKind::microphone:
        return "mic";
    case CheckKind::stereo:
        return "ear.badge.waveform";
    case CheckKind::alerts:
        return "bell";
    case CheckKind::deviceAccess:
        break;
    }
    return "app.connected.to.app.below.fill";
}

}  // namespace

AudioHealthConsole::AudioHealthConsole(DoctorStore& store, QWidget* parent) : QFrame(parent), m_store(store)
{
    setObjectName(QStringLiteral("health-console"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(26, 26, 26, 26);
    layout->setSpacing(14);

    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    m_dot = new QLabel(this);
    m_dot->setFixedSize(7, 7);
    m_header = label({}, this, theme::white(0.65), 8.5, QFont::Medium);
    m_counter = label({}, this, theme::doctorAmber, 8.5, QFont::Medium);
    for (QLabel* caps : {m_header, m_counter}) {
        QFont font = caps->font();
        font.setLetterSpacing(QFont::AbsoluteSpacing, 1);
        caps->setFont(font);
    }
    top->addWidget(m_dot);
    top->addWidget(m_header);
    top->addStretch();
    top->addWidget(m_counter);
    layout->addLayout(top);

    auto* rule = new QFrame(this);
    rule->setFixedHeight(1);
    rule->setStyleSheet(QStringLiteral("background: rgba(255, 255, 255, 26);"));
    layout->addWidget(rule);

    auto* row = new QHBoxLayout;
    row->setSpacing(18);
    m_dial = new HealthDial(this);
    row->addWidget(m_dial);
    auto* text = new QVBoxLayout;
    text->setSpacing(6);
    m_headline = label({}, this, Qt::white, 17, QFont::DemiBold);
    m_headline->setWordWrap(true);
    m_output = label({}, this, theme::white(0.65));
    m_format = label({}, this, theme::white(0.65));
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    mono.setPointSizeF(9);
    m_format->setFont(mono);
    text->addStretch();
    text->addWidget(m_headline);
    text->addWidget(m_output);
    text->addWidget(m_format);
    text->addStretch();
    row->addLayout(text, 1);
    layout->addLayout(row);

    auto* fix = new QHBoxLayout;
    fix->setSpacing(14);
    m_quickFix = new QPushButton(this);
    m_quickFix->setObjectName(QStringLiteral("quick-fix"));
    theme::makePrimary(m_quickFix);
    connect(m_quickFix, &QPushButton::clicked, this, [this] { m_store.runQuickFix(); });
    fix->addWidget(m_quickFix);
    auto* note = new QVBoxLayout;
    note->setSpacing(2);
    m_noteTitle = label({}, this, theme::white(0.85), -1, QFont::Medium);
    m_noteDetail = label({}, this, theme::white(0.6), 8.5);
    m_noteTitle->setWordWrap(true);
    m_noteDetail->setWordWrap(true);
    note->addWidget(m_noteTitle);
    note->addWidget(m_noteDetail);
    fix->addLayout(note, 1);
    layout->addLayout(fix);

    connect(&m_store, &DoctorStore::actionsChanged, this, &AudioHealthConsole::refresh);
    refresh();
}

void AudioHealthConsole::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(rect().topLeft(), rect().bottomRight());
    gradient.setColorAt(0, theme::consoleTop);
    gradient.setColorAt(1, theme::consoleBottom);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 25, 25);
    painter.fillPath(card, gradient);
    painter.setPen(QPen(theme::white(0.08), 1));
    painter.drawPath(card);
}

void AudioHealthConsole::refresh()
{
    const auto& checks = m_store.checks();
    const bool fixing = m_store.isFixing();
    const auto header = HealthSummary::consoleHeader(checks, fixing);
    const QString dot = QStringLiteral("background: %1; border-radius: 3px;")
                            .arg(theme::consoleColor(header.dotColor).name());
    if (m_dot->styleSheet() != dot)
        m_dot->setStyleSheet(dot);
    m_header->setText(QString::fromStdString(header.label));
    m_counter->setText(QString::fromStdString(header.counter));
    m_dial->show(checks, fixing);
    m_headline->setText(
        QString::fromStdString(HealthSummary::headline(checks, fixing, m_store.snapshot().readError)));

    const AudioDevice* output = m_store.snapshot().outputDevice();
    m_output->setText(output ? QString::fromStdString(output->name) : QStringLiteral("No output selected"));
    QString rate = QStringLiteral("No format");
    if (output)
        rate = output->sampleRate ? qs(kilohertzText(*output->sampleRate)) : QStringLiteral("Unavailable");
    const QString transport = output ? qs(label(output->transport)) : QStringLiteral("Connect a device");
    m_format->setText(rate + QStringLiteral("  ·  ") + transport);

    const bool blocked = m_store.quickFixBlockedByInput();
    m_quickFix->setText(fixing ? QStringLiteral("Fixing…") : QStringLiteral("Quick Fix"));
    theme::showSymbol(m_quickFix, fixing ? "arrow.triangle.2.circlepath" : "sparkles", QColor(0x1d, 0x1a, 0x14));
    m_quickFix->setEnabled(m_store.canRunQuickFix());
    m_quickFix->setToolTip(QString::fromStdString(m_store.quickFixSummary()));
    m_quickFix->setAccessibleDescription(m_quickFix->toolTip());
    if (fixing) {
        m_noteTitle->setText(QString::fromStdString(m_store.fixingLabel()));
        m_noteDetail->clear();
    } else if (!blocked) {
        m_noteTitle->setText(QStringLiteral("Crackles, glitches, or silence?"));
        m_noteDetail->setText(QString::fromStdString(m_store.quickFixSummary()));
    } else if (!m_store.snapshot().outputCaptureClients().empty()) {
        m_noteTitle->setText(QStringLiteral("A recording is running."));
        m_noteDetail->setText(QString::fromStdString(m_store.quickFixBlockedText()));
    } else if (m_store.snapshot().isInputActive()) {
        m_noteTitle->setText(QStringLiteral("An input device is in use."));
        m_noteDetail->setText(QString::fromStdString(m_store.quickFixBlockedText()));
    } else {
        m_noteTitle->setText(QStringLiteral("Input activity is unavailable."));
        m_noteDetail->setText(QStringLiteral("Check again before resetting audio."));
    }
    m_noteDetail->setVisible(!m_noteDetail->text().isEmpty());
}

DiagnosticRow::DiagnosticRow(DoctorStore& store, DiagnosticCheck check, QWidget* parent)
    : QWidget(parent), m_store(store), m_check(std::move(check))
{
    const QString kind = qs(caseName(m_check.kind));
    setObjectName(QStringLiteral("check-") + kind);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 10, 0, 10);
    layout->setSpacing(0);
    auto* symbol = new QLabel(this);
    symbol->setFixedWidth(34);
    symbol->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    symbol->setPixmap(theme::symbolPixmap(kindSymbolName(m_check.kind), theme::secondaryText(palette()), 19,
                                          devicePixelRatioF()));
    layout->addWidget(symbol);

    auto* text = new QVBoxLayout;
    text->setSpacing(3);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    auto* title = new QLabel(qs(sonorel::title(m_check.kind)), this);
    theme::setPointSize(title, 10.5, QFont::DemiBold);
    auto* state = label(qs(sonorel::label(m_check.state)), this, theme::stateColor(m_check.state, palette()), 8.5,
                        QFont::Medium);
    state->setObjectName(QStringLiteral("state"));
    titleRow->addWidget(title);
    titleRow->addWidget(state);
    titleRow->addStretch();
    text->addLayout(titleRow);
    auto* detail = label(QString::fromStdString(m_check.detail), this, theme::secondaryText(palette()));
    detail->setWordWrap(true);
    detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->addWidget(detail);
    layout->addLayout(text, 1);

    QPushButton* button = nullptr;
    if (m_check.action) {
        button = new QPushButton(qs(sonorel::title(*m_check.action)), this);
        const RepairAction action = *m_check.action;
        connect(button, &QPushButton::clicked, this, [this, action] { m_store.perform(action); });
    } else if (m_check.kind == CheckKind::sampleRate && m_check.state == CheckState::warning) {
        button = new QPushButton(QStringLiteral("Volume Control"), this);
        connect(button, &QPushButton::clicked, this, [this] { m_store.openSettingsPane(SettingsPane::volumeControl); });
    } else if (m_check.kind == CheckKind::output && m_check.state == CheckState::issue) {
        button = new QPushButton(QStringLiteral("Sound settings"), this);
        connect(button, &QPushButton::clicked, this, [this] { m_store.openSettingsPane(SettingsPane::sound); });
    }
    if (button) {
        button->setObjectName(QStringLiteral("check-action"));
        button->setAccessibleDescription(qs(sonorel::title(m_check.kind)));
        button->setEnabled(m_check.action ? m_store.canPerform(*m_check.action) : !m_store.isFixing());
        layout->addSpacing(12);
        layout->addWidget(button, 0, Qt::AlignVCenter);
    }
}

OverviewView::OverviewView(DoctorStore& store, QWidget* parent) : QWidget(parent), m_store(store)
{
    QVBoxLayout* layout = theme::pageLayout(this, QStringLiteral("page-overview"));
    layout->setSpacing(24);
    layout->addWidget(new AudioHealthConsole(store, this));

    auto* header = new QHBoxLayout;
    auto* title = new QLabel(QStringLiteral("Your sound check"), this);
    theme::setPointSize(title, 13, QFont::DemiBold);
    m_checked = label({}, this, theme::secondaryText(palette()), 8.5);
    m_checked->setObjectName(QStringLiteral("last-checked"));
    header->addWidget(title);
    header->addSpacing(8);
    header->addWidget(m_checked, 0, Qt::AlignBaseline);
    header->addStretch();

    auto* sectionBox = new QVBoxLayout;
    sectionBox->setSpacing(4);
    sectionBox->addLayout(header);
    sectionBox->addWidget(theme::sectionHeading(QStringLiteral("A little care for your audio."),
                                                QStringLiteral("A quick check. A fresh start. Back to listening."), this));
    layout->addLayout(sectionBox);

    auto* rows = new QWidget(this);
    m_rows = new QVBoxLayout(rows);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(0);
    layout->addWidget(rows);

    auto* crackle = new QFrame(this);
    crackle->setObjectName(QStringLiteral("crackle-card"));
    crackle->setFrameShape(QFrame::StyledPanel);
    auto* card = new QHBoxLayout(crackle);
    card->setContentsMargins(16, 14, 16, 14);
    auto* ear = new QLabel(crackle);
    ear->setPixmap(theme::symbolPixmap("ear", theme::secondaryText(palette()), 24, devicePixelRatioF()));
    card->addWidget(ear, 0, Qt::AlignTop);
    auto* words = new QVBoxLayout;
    auto* say = new QLabel(QStringLiteral("Your ears get the final say."), crackle);
    theme::setPointSize(say, 10.5, QFont::DemiBold);
    auto* why = label(QStringLiteral("Doctor checks audio settings and reported overloads. A clean check can’t rule "
                                     "out audible crackling."),
                      crackle, theme::secondaryText(palette()));
    why->setWordWrap(true);
    words->addWidget(say);
    words->addWidget(why);
    card->addLayout(words, 1);
    auto* mark = new QPushButton(QStringLiteral("I heard a crackle"), crackle);
    mark->setObjectName(QStringLiteral("mark-crackle"));
    connect(mark, &QPushButton::clicked, this, [this] { m_store.markCrackle(); });
    card->addWidget(mark, 0, Qt::AlignVCenter);
    layout->addWidget(crackle);
    layout->addStretch();

    connect(&m_store, &DoctorStore::actionsChanged, this, &OverviewView::refresh);
    refresh();
}

void OverviewView::refresh()
{
    const auto checked = m_store.lastChecked();
    m_checked->setText(checked ? QStringLiteral("Checked ")
                                     + QLocale().toString(localDateTime(*checked).time(), QLocale::ShortFormat)
                               : QString());
    // The rows are rebuilt only when what they show changed: a reading that
    // changes nothing leaves focus and selection alone.
    if (m_store.checks() == m_shownChecks && m_store.isFixing() == m_shownFixing && m_rows->count() > 0)
        return;
    m_shownChecks = m_store.checks();
    m_shownFixing = m_store.isFixing();
    theme::discardRows(m_rows);
    for (size_t i = 0; i < m_shownChecks.size(); ++i) {
        if (i > 0)
            m_rows->addWidget(theme::divider(this, 52));
        m_rows->addWidget(new DiagnosticRow(m_store, m_shownChecks[i], this));
    }
}

}  // namespace sonorel
