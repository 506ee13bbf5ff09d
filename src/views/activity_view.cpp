#include "views/activity_view.h"

#include "store/doctor_store.h"
#include "views/doctor_theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <map>
#include <optional>

namespace sonorel {

namespace {

using theme::qs;

const char* kindSymbol(ActivityEntry::Kind kind)
{
    switch (kind) {
    case ActivityEntry::Kind::repair:
        return "wrench.and.screwdriver";
    case ActivityEntry::Kind::marker:
        return "ear.badge.waveform";
    case ActivityEntry::Kind::error:
        return "exclamationmark.circle";
    case ActivityEntry::Kind::signal:
        return "waveform.path.ecg";
    case ActivityEntry::Kind::feedback:
        break;
    }
    return "checkmark.bubble";
}

// Red text marks a button that deletes.
void makeDestructive(QPushButton* button)
{
    QPalette palette = button->palette();
    const bool light = palette.color(QPalette::Window).lightness() > 128;
    palette.setColor(QPalette::ButtonText, light ? QColor(0xc0, 0x2b, 0x1e) : QColor(0xff, 0x6b, 0x5e));
    button->setPalette(palette);
}

// Wrapped text laid out once per width: a layout pass asks each row's height
// dozens of times, and a log of long entries would take seconds per pass.
class WrappedText final : public QLabel {
public:
    WrappedText(const QString& text, QWidget* parent) : QLabel(text, parent) { setWordWrap(true); }

    int heightForWidth(int width) const override
    {
        auto found = m_heights.find(width);
        if (found != m_heights.end())
            return found->second;
        // A few widths at a time: dragging the window's edge asks for hundreds.
        if (m_heights.size() >= 8)
            m_heights.clear();
        return m_heights[width] = QLabel::heightForWidth(width);
    }

protected:
    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            m_heights.clear();
        QLabel::changeEvent(event);
    }

private:
    mutable std::map<int, int> m_heights;
};

QWidget* entryContent(const ActivityEntry& entry, QWidget* parent)
{
    auto* row = new QWidget(parent);
    row->setObjectName(QStringLiteral("activity-entry"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 10, 0, 10);
    layout->setSpacing(0);
    const bool alarming = entry.kind == ActivityEntry::Kind::error || entry.kind == ActivityEntry::Kind::signal;
    const QColor colour = alarming ? theme::warningColor(row->palette()) : theme::secondaryText(row->palette());
    QLabel* symbol = theme::symbolLabel(kindSymbol(entry.kind), colour, 20, row);
    symbol->setFixedWidth(36);
    symbol->setAccessibleName(qs(caseName(entry.kind)));
    layout->addWidget(symbol, 0, Qt::AlignTop);
    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    auto* title = new WrappedText(QString::fromStdString(entry.title), row);
    theme::setPointSize(title, title->font().pointSizeF(), QFont::DemiBold);
    auto* detail = new WrappedText(QString::fromStdString(entry.detail), row);
    detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    detail->setVisible(!entry.detail.empty());
    text->addWidget(title);
    text->addWidget(detail);
    const QDateTime date = localDateTime(entry.date);
    const QLocale locale;
    text->addWidget(theme::caption(locale.toString(date.date(), QLocale::ShortFormat) + QLatin1Char(' ')
                                       + locale.toString(date.time(), QLocale::ShortFormat),
                                   row));
    layout->addLayout(text, 1);
    return row;
}

// An entry under its divider; the first row hides the divider.
QWidget* entryRow(const ActivityEntry& entry, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QWidget* divider = theme::divider(row, 36);
    divider->setObjectName(QStringLiteral("entry-divider"));
    layout->addWidget(divider);
    layout->addWidget(entryContent(entry, row));
    return row;
}

QWidget* emptyState(QWidget* parent)
{
    auto* empty = new QWidget(parent);
    empty->setObjectName(QStringLiteral("activity-empty"));
    auto* layout = new QVBoxLayout(empty);
    layout->setContentsMargins(0, 36, 0, 36);
    layout->setSpacing(8);
    layout->addWidget(theme::symbolLabel("clock.arrow.circlepath", theme::secondaryText(empty->palette()), 36, empty),
                      0, Qt::AlignHCenter);
    auto* title = new QLabel(QStringLiteral("A quiet start."), empty);
    theme::setPointSize(title, 12, QFont::DemiBold);
    layout->addWidget(title, 0, Qt::AlignHCenter);
    QLabel* detail = theme::caption(QStringLiteral("Repairs and crackle markers will appear here. Nothing is recorded "
                                                   "from your microphone."),
                                    empty);
    detail->setAlignment(Qt::AlignHCenter);
    layout->addWidget(detail);
    return empty;
}

// How many entries came in on top of the rows shown (usually one, so only
// new rows are made); none when the rows no longer follow the log.
std::optional<size_t> newOnTop(const std::vector<ActivityEntry>& entries, const std::vector<Uuid>& shownIds)
{
    size_t fresh = 0;
    while (!shownIds.empty() && fresh < entries.size() && entries[fresh].id != shownIds.front())
        ++fresh;
    bool onTop = !shownIds.empty() && fresh < entries.size();
    for (size_t i = 0; onTop && fresh + i < entries.size() && i < shownIds.size(); ++i)
        onTop = entries[fresh + i].id == shownIds[i];
    return onTop ? std::optional(fresh) : std::nullopt;
}

}  // namespace

ActivityView::ActivityView(DoctorStore& store, QWidget* parent) : QWidget(parent), m_store(store)
{
    QVBoxLayout* layout = theme::pageLayout(this, QStringLiteral("page-activity"));
    layout->addWidget(theme::sectionHeading(QStringLiteral("A record of the little fixes."),
                                            QStringLiteral("Repairs, playback signals, and the moments you heard a "
                                                           "crackle. Saved on this computer."),
                                            this));
    layout->addWidget(buildButtons());
    auto* entries = new QWidget(this);
    m_entries = new QVBoxLayout(entries);
    m_entries->setContentsMargins(0, 0, 0, 0);
    m_entries->setSpacing(0);
    layout->addWidget(entries);
    layout->addWidget(theme::caption(QStringLiteral("Activity keeps the most recent 200 entries. Reports include "
                                                    "device names and audio settings; you choose when to share them."),
                                     this));
    layout->addStretch();

    connect(&m_store, &DoctorStore::historyChanged, this, &ActivityView::refreshEntries);
    connect(&m_store, &DoctorStore::reportCopiedChanged, this, &ActivityView::refreshCopied);
    refreshEntries();
    refreshCopied();
}

QWidget* ActivityView::buildButtons()
{
    auto* mark = new QPushButton(QStringLiteral("Mark a crackle"), this);
    mark->setObjectName(QStringLiteral("activity-mark-crackle"));
    mark->setIcon(theme::symbolIcon("ear.badge.waveform", palette().color(QPalette::ButtonText)));
    connect(mark, &QPushButton::clicked, this, [this] { m_store.markCrackle(); });
    m_copy = new QPushButton(this);
    m_copy->setObjectName(QStringLiteral("activity-copy-report"));
    connect(m_copy, &QPushButton::clicked, this, [this] { m_store.copyReport(); });
    auto* clear = new QPushButton(QStringLiteral("Clear activity"), this);
    clear->setObjectName(QStringLiteral("clear-activity"));
    makeDestructive(clear);
    connect(clear, &QPushButton::clicked, this, &ActivityView::askToClear);
    return theme::buttonRow(this, {mark, m_copy}, {clear});
}

void ActivityView::askToClear()
{
    if (m_confirmClear)
        return;
    m_confirmClear = true;
    auto* ask = new QMessageBox(QMessageBox::Warning, QStringLiteral("Clear local activity?"),
                                QStringLiteral("Clear local activity?"), QMessageBox::NoButton, this);
    ask->setObjectName(QStringLiteral("clear-confirmation"));
    ask->setInformativeText(QStringLiteral("This removes repair history and crackle markers from this computer."));
    QPushButton* confirm = ask->addButton(QStringLiteral("Clear activity"), QMessageBox::DestructiveRole);
    confirm->setObjectName(QStringLiteral("confirm-clear"));
    makeDestructive(confirm);
    QPushButton* cancel = ask->addButton(QMessageBox::Cancel);
    cancel->setObjectName(QStringLiteral("cancel-clear"));
    ask->setDefaultButton(cancel);
    ask->setAttribute(Qt::WA_DeleteOnClose);
    connect(ask, &QMessageBox::finished, this, [this, ask, confirm] {
        m_confirmClear = false;
        if (ask->clickedButton() == confirm)
            m_store.clearActivity();
    });
    ask->open();
}

void ActivityView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_stale)
        refreshEntries();
}

void ActivityView::refreshEntries()
{
    // Built when the page shows: a full log takes a tenth of a second, too
    // long to hold up the window's first paint.
    m_stale = !isVisible();
    if (m_stale)
        return;
    const auto& entries = m_store.history().entries;
    const auto onTop = newOnTop(entries, m_shownIds);
    const size_t fresh = onTop.value_or(entries.size());
    // Many rows are made out of sight: each row shown into a visible list
    // would lay the whole page out again.
    QWidget* list = m_entries->parentWidget();
    if (fresh > 1)
        list->hide();
    if (!onTop)
        theme::discardRows(m_entries);
    for (size_t i = fresh; i-- > 0;) {
        QWidget* row = entryRow(entries[i], this);
        m_entries->insertWidget(0, row);
        // Screen readers take rows in child order, which must be the order on screen, newest first.
        row->lower();
    }
    while (size_t(m_entries->count()) > entries.size()) {
        QLayoutItem* last = m_entries->takeAt(m_entries->count() - 1);
        theme::discardRow(last->widget());
        delete last;
    }
    for (int i = 0; i < m_entries->count(); ++i)
        m_entries->itemAt(i)->widget()->findChild<QWidget*>(QStringLiteral("entry-divider"))->setVisible(i > 0);
    m_shownIds.clear();
    for (const auto& entry : entries)
        m_shownIds.push_back(entry.id);
    if (entries.empty())
        m_entries->addWidget(emptyState(this));
    list->show();
}

void ActivityView::refreshCopied()
{
    const bool copied = m_store.reportCopied();
    m_copy->setText(copied ? QStringLiteral("Copied") : QStringLiteral("Copy report"));
    theme::showSymbol(m_copy, copied ? "checkmark" : "doc.on.doc", palette().color(QPalette::ButtonText));
}

}  // namespace sonorel
