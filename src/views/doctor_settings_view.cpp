#include "views/doctor_settings_view.h"

#include "store/doctor_store.h"
#include "views/doctor_theme.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace sonorel {

namespace {

QGroupBox* section(const QString& title, QWidget* parent)
{
    auto* box = new QGroupBox(title, parent);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(14, 12, 14, 14);
    layout->setSpacing(6);
    return box;
}

// A switch's note, indented to its text.
QLabel* switchNote(const QString& text, QWidget* parent)
{
    QLabel* note = theme::caption(text, parent);
    note->setIndent(24);
    return note;
}

}  // namespace

DoctorSettingsView::DoctorSettingsView(DoctorStore& store, QWidget* parent) : QWidget(parent), m_store(store)
{
    setObjectName(QStringLiteral("settings"));
    setWindowTitle(QStringLiteral("Sonorel Doctor Settings"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);
    layout->addWidget(buildDiagnostics());
    layout->addWidget(buildRememberedOutput());
    layout->addWidget(buildClosing());
    layout->addStretch();
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("settings-close"));
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    layout->addWidget(close, 0, Qt::AlignRight);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    connect(&m_store, &DoctorStore::preferencesChanged, this, &DoctorSettingsView::refreshPreferences);
    connect(&m_store, &DoctorStore::readingChanged, this, &DoctorSettingsView::refreshOutputs);
    connect(&m_store, &DoctorStore::historyChanged, this, &DoctorSettingsView::refreshPreferences);
    refreshPreferences();
}

QWidget* DoctorSettingsView::buildDiagnostics()
{
    QGroupBox* box = section(QStringLiteral("Local diagnostics"), this);
    auto* layout = box->layout();
    m_monitor = new QCheckBox(QStringLiteral("Monitor audio in the background"), box);
    m_monitor->setObjectName(QStringLiteral("monitor-toggle"));
    // Toggled, not clicked: a screen reader's or voice control's Toggle changes the setting too.
    connect(m_monitor, &QCheckBox::toggled, this, [this](bool on) { m_store.setMonitoringEnabled(on); });
    layout->addWidget(m_monitor);
    layout->addWidget(switchNote(
        QStringLiteral("Watch device changes and playback overloads. Repairs always start with your click."), box));
    m_login = new QCheckBox(QStringLiteral("Launch at login"), box);
    m_login->setObjectName(QStringLiteral("login-toggle"));
    connect(m_login, &QCheckBox::toggled, this, [this](bool on) {
        m_store.setLaunchAtLogin(on);
        // The switch shows what the system has, also when nothing changed.
        refreshPreferences();
    });
    layout->addWidget(m_login);
    return box;
}

QWidget* DoctorSettingsView::buildRememberedOutput()
{
    QGroupBox* box = section(QStringLiteral("Remembered output"), this);
    m_preferred = new QComboBox(box);
    m_preferred->setObjectName(QStringLiteral("preferred-output-picker"));
    m_preferred->setAccessibleName(QStringLiteral("Remembered output"));
    connect(m_preferred, &QComboBox::activated, this, &DoctorSettingsView::choosePreferred);
    box->layout()->addWidget(m_preferred);
    box->layout()->addWidget(theme::caption(QStringLiteral("Doctor notes when your preferred output is missing or not "
                                                           "in use. It switches back only when you choose Restore "
                                                           "output."),
                                            box));
    return box;
}

QWidget* DoctorSettingsView::buildClosing()
{
    QGroupBox* box = section(QString(), this);
    QLabel* privacy = theme::caption(
        QStringLiteral("No audio recording. No automatic resets. Reports stay local until you copy or export them."), box);
    m_entryCount = new QLabel(box);
    m_entryCount->setObjectName(QStringLiteral("activity-count"));
    auto* copy = new QPushButton(QStringLiteral("Copy report"), box);
    copy->setObjectName(QStringLiteral("settings-copy-report"));
    copy->setIcon(theme::symbolIcon("doc.on.doc", palette().color(QPalette::ButtonText)));
    connect(copy, &QPushButton::clicked, this, [this] { m_store.copyReport(); });
    box->layout()->addWidget(privacy);
    box->layout()->addWidget(m_entryCount);
    box->layout()->addWidget(copy);
    box->layout()->setAlignment(copy, Qt::AlignLeft);
    return box;
}

void DoctorSettingsView::choosePreferred(int index)
{
    if (index <= 0) {
        m_store.setPreferredOutput(std::nullopt);
        return;
    }
    // The disconnected entry is the preference as it stands: nothing to change.
    const std::string uid = m_preferred->itemData(index).toString().toStdString();
    if (const AudioDevice* device = m_store.snapshot().connectedOutput(uid))
        m_store.setPreferredOutput(PreferredOutput{device->uid, device->name, device->transport == AudioTransport::bluetooth});
}

void DoctorSettingsView::refreshPreferences()
{
    const QSignalBlocker monitor(m_monitor);
    const QSignalBlocker login(m_login);
    m_monitor->setChecked(m_store.monitoringEnabled());
    m_login->setChecked(m_store.loginEnabled());
    m_entryCount->setText(QString::number(m_store.history().entries.size()) + QStringLiteral(" activity entries"));
    refreshOutputs();
}

void DoctorSettingsView::refreshOutputs()
{
    QList<std::pair<QString, QString>> choices{{QStringLiteral("Follow system default"), QString()}};
    for (const AudioDevice* device : m_store.snapshot().outputDevices())
        choices.append({QString::fromStdString(device->name), QString::fromStdString(device->uid)});
    const auto& preferred = m_store.preferredOutput();
    if (preferred && !m_store.snapshot().connectedOutput(preferred->uid))
        choices.append({QString::fromStdString(preferred->name) + QStringLiteral(" (disconnected)"),
                        QString::fromStdString(preferred->uid)});
    // Rebuilt only when the choices differ, so an open list is not pulled away.
    bool same = m_preferred->count() == choices.size();
    for (int i = 0; same && i < choices.size(); ++i)
        same = m_preferred->itemText(i) == choices[i].first && m_preferred->itemData(i).toString() == choices[i].second;
    if (!same) {
        m_preferred->clear();
        for (const auto& [text, uid] : choices)
            m_preferred->addItem(text, uid);
    }
    const int chosen = preferred ? m_preferred->findData(QString::fromStdString(preferred->uid)) : 0;
    m_preferred->setCurrentIndex(std::max(chosen, 0));
}

}  // namespace sonorel
