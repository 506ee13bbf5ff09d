#include "store/doctor_store.h"

#include "audio/audio_repair_error.h"
#include "diagnostics/diagnostics.h"
#include "diagnostics/health_summary.h"
#include "model/text_format.h"

#include <QCoro/QCoroSignal>
#include <QCoreApplication>
#include <QPointer>
#include <QSaveFile>

#include <algorithm>
#include <random>
#include <stdexcept>

namespace sonorel {

namespace {

constexpr auto monitorInterval = std::chrono::seconds(5);
constexpr auto overloadLogWindow = std::chrono::seconds(5);
constexpr auto reportCopiedTime = std::chrono::seconds(2);

std::set<std::string> aliveUIDs(const AudioSnapshot& snapshot)
{
    std::set<std::string> uids;
    for (const auto& device : snapshot.devices)
        if (device.isAlive)
            uids.insert(device.uid);
    return uids;
}

}  // namespace

Uuid randomUuid()
{
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    Uuid id;
    for (auto& byte : id.bytes)
        byte = uint8_t(generator());
    id.bytes[6] = uint8_t((id.bytes[6] & 0x0F) | 0x40);  // version 4
    id.bytes[8] = uint8_t((id.bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return id;
}

DoctorStore::DoctorStore(AudioThread& audio, QSettings& settings, StoreServices services, bool startsServices,
                         QObject* parent)
    : QObject(parent), m_audio(audio), m_preferences(settings), m_services(std::move(services)),
      m_tone(m_services.tonePlayback),
      m_microphone(std::make_unique<MicrophoneLevelTester>(m_services.microphoneCapture(),
                                                           m_services.microphonePermission,
                                                           m_services.listeningPeriod))
{
    m_monitoringEnabled = m_preferences.monitoring();
    m_preferredOutput = m_preferences.preferredOutput();
    m_lastWorkingOutput = m_preferences.lastWorkingOutput();
    m_lastWake = m_preferences.lastWake();
    loadActivity(settings);
    m_loginEnabled = m_services.launchAtLogin && m_services.launchAtLogin->isEnabled();
    m_snapshot.capturedAt = m_services.now();
    m_snapshot.inputActivityKnown = true;
    for (auto signal : {&DoctorStore::readingChanged, &DoctorStore::repairStateChanged,
                        &DoctorStore::comparisonChanged, &DoctorStore::preferencesChanged})
        connect(this, signal, this, &DoctorStore::actionsChanged);
    connect(&m_tone, &TestTonePlayer::cutShort, this, [this](const std::string& sentence) {
        showError(std::make_exception_ptr(AudioRepairError::system(sentence)));
    });

    m_monitorTimer.setInterval(monitorInterval);
    connect(&m_monitorTimer, &QTimer::timeout, this, [this] { refresh(); });
    refresh();
    if (!startsServices)
        return;
    configureMonitoring();
    m_sleepWatcher = new SleepWatcher([this] { recordWake(m_services.now()); }, this);
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &DoctorStore::stopListening);
}

DoctorStore::~DoctorStore()
{
    m_audio.stopMonitoring();
}

QCoro::Task<> DoctorStore::refresh()
{
    const quint64 ticket = ++m_readingsRequested;
    QPointer<DoctorStore> self(this);
    if (m_reading) {
        // The reading in flight was asked for before us: wait for the one after it.
        while (self && m_readingsDone < ticket)
            co_await qCoro(this, &DoctorStore::refreshed);
        co_return;
    }
    m_reading = true;
    while (m_readingsDone < m_readingsRequested) {
        const quint64 covered = m_readingsRequested;
        AudioSnapshot fresh = co_await m_audio.snapshot();
        if (!self)
            co_return;
        applyReading(std::move(fresh));
        m_readingsDone = covered;
        emit refreshed();
    }
    m_reading = false;
}

void DoctorStore::applyReading(AudioSnapshot fresh)
{
    // Devices that came or went, once a first reading exists and only when both readings succeeded.
    if (m_hasRefreshed && m_monitoringEnabled && !m_snapshot.readError && !fresh.readError) {
        const auto before = aliveUIDs(m_snapshot);
        const auto after = aliveUIDs(fresh);
        for (const auto& device : fresh.devices)
            if (device.isAlive && !before.count(device.uid))
                addActivity("Audio device connected", device.name, ActivityEntry::Kind::signal);
        for (const auto& device : m_snapshot.devices)
            if (device.isAlive && !after.count(device.uid))
                addActivity("Audio device disconnected", device.name, ActivityEntry::Kind::signal);
    }
    m_snapshot = std::move(fresh);
    m_hasRefreshed = true;
    m_checks = Diagnostics::checks(m_snapshot, m_preferredOutput);
    m_lastChecked = m_services.now();
    m_microphone->follow(m_snapshot);
    emit readingChanged();
}

QCoro::Task<> DoctorStore::selectOutput(std::string uid)
{
    if (m_isFixing)
        co_return;
    QPointer<DoctorStore> self(this);
    const AudioDevice* selected = co_await selectDefault(true, uid);
    if (!self || !selected)
        co_return;
    showNotice("Output changed", "Sound now plays through " + selected->name + ".");
    addActivity("Output changed", selected->name, ActivityEntry::Kind::repair);
}

QCoro::Task<> DoctorStore::selectInput(std::string uid)
{
    if (m_isFixing)
        co_return;
    QPointer<DoctorStore> self(this);
    co_await refresh();
    if (!self)
        co_return;
    if (m_snapshot.isInputActive()) {
        showError(std::make_exception_ptr(AudioRepairError::recordingActive()));
        co_return;
    }
    if (!m_snapshot.inputActivityKnown) {
        showError(std::make_exception_ptr(AudioRepairError::inputActivityUnknown()));
        co_return;
    }
    const AudioDevice* selected = co_await selectDefault(false, uid);
    if (self && selected)
        addActivity("Input changed", selected->name, ActivityEntry::Kind::repair);
}

QCoro::Task<const AudioDevice*> DoctorStore::selectDefault(bool output, std::string uid)
{
    QPointer<DoctorStore> self(this);
    try {
        // Not one co_await over a conditional of two tasks: GCC 12 destroys such temporaries twice.
        if (output)
            co_await m_audio.setDefaultOutput(uid);
        else
            co_await m_audio.setDefaultInput(uid);
    } catch (...) {
        if (self)
            showError(std::current_exception());
        co_return nullptr;
    }
    if (!self)
        co_return nullptr;
    co_await refresh();
    const AudioDevice* current = output ? m_snapshot.outputDevice() : m_snapshot.inputDevice();
    if (current && current->uid == uid)
        co_return current;
    showError(std::make_exception_ptr(AudioRepairError::recoveryFailed()));
    co_return nullptr;
}

void DoctorStore::loadActivity(const QSettings& settings)
{
    m_settingsFile = settings.fileName().toStdString();
    if (auto refusal = settingsRefusal(settings)) {
        m_activityUnsaved = true;
        showNotice("Settings not read",
                   *refusal + ", so it was not read. Settings and activity start empty and are not saved until it "
                              "is moved away.",
                   true);
        return;
    }
    auto stored = m_preferences.activity();
    m_keepsStoredActivity = m_activityUnsaved = !stored;
    m_history = stored.value_or(ActivityLog{});
    if (!stored)
        showNotice("Activity not read",
                   "The saved activity in " + m_settingsFile
                       + " is not in a form this version reads. It is kept as it is: new activity is shown but not "
                         "saved until you clear Activity.",
                   true);
}

bool DoctorStore::noteActivitySaved(bool saved)
{
    if (!saved && !m_activityUnsaved)
        showNotice("Activity not saved",
                   "The settings file " + m_settingsFile
                       + " could not be written. New activity is shown until Sonorel Doctor quits; check that its "
                         "folder is writable and the disk has room.",
                   true);
    m_activityUnsaved = !saved;
    return saved;
}

bool DoctorStore::addActivity(std::string title, std::string detail, ActivityEntry::Kind kind)
{
    m_history.add(ActivityEntry{m_services.newId(), m_services.now(), std::move(title), std::move(detail), kind});
    // A log that could not be read is never written over: it would be lost.
    const bool saved = noteActivitySaved(!m_keepsStoredActivity && m_preferences.setActivity(m_history));
    emit activityAdded(m_history.entries.front());
    emit historyChanged();
    return saved;
}

void DoctorStore::clearActivity()
{
    m_history = {};
    m_keepsStoredActivity = false;  // the user chose to drop it
    noteActivitySaved(m_preferences.clearActivity());
    emit historyChanged();
}

void DoctorStore::showNotice(std::string title, std::string detail, bool isError)
{
    setNotice(DoctorNotice{m_services.newId(), std::move(title), std::move(detail), isError});
}

void DoctorStore::setNotice(std::optional<DoctorNotice> notice)
{
    putNotice(std::move(notice), false);
}

void DoctorStore::putNotice(std::optional<DoctorNotice> notice, bool asksUnansweredRestart)
{
    // A question is asked once: whatever replaces or dismisses it answers no.
    m_offersUnansweredRestart = asksUnansweredRestart;
    m_notice = std::move(notice);
    emit noticeChanged();
}

void DoctorStore::showError(const std::exception_ptr& error)
{
    std::string description;
    bool unanswered = false;
    try {
        std::rethrow_exception(error);
    } catch (const AudioRepairError& e) {
        description = e.description();
        unanswered = e.errorCase() == AudioRepairError::Case::serverNotAnswering;
    } catch (const std::exception& e) {
        description = e.what();
    } catch (...) {
        description = "An unexpected error occurred.";
    }
    // A service that does not answer is asked about: restart it anyway?
    putNotice(DoctorNotice{m_services.newId(), "Audio needs another step", description, true}, unanswered);
}

void DoctorStore::setSelectedPage(std::optional<DoctorPage> page)
{
    m_selectedPage = page;
    emit pageChanged();
}

void DoctorStore::setIntent(RepairIntent intent)
{
    m_intent = intent;
    emit comparisonChanged();
}

void DoctorStore::setIsolation(AppIsolation isolation)
{
    m_isolation = std::move(isolation);
    emit comparisonChanged();
}

void DoctorStore::setMonitoringEnabled(bool enabled)
{
    m_monitoringEnabled = enabled;
    m_preferences.setMonitoring(enabled);
    configureMonitoring();
    emit preferencesChanged();
}

QCoro::Task<> DoctorStore::setPreferredOutput(std::optional<PreferredOutput> output)
{
    m_preferredOutput = std::move(output);
    m_preferences.setPreferredOutput(m_preferredOutput);
    emit preferencesChanged();
    co_await refresh();
}

void DoctorStore::configureMonitoring()
{
    m_monitorTimer.stop();
    if (!m_monitoringEnabled) {
        m_audio.stopMonitoring();
        return;
    }
    m_audio.startMonitoring(
        this, [this] { refresh(); }, [this](Date at) { handleOverload(at); });
    m_monitorTimer.start();
}

void DoctorStore::handleOverload(Date date)
{
    // One entry per five seconds; an older report neither logs nor moves the window.
    if (m_lastLoggedOverload && date - *m_lastLoggedOverload < overloadLogWindow)
        return;
    m_lastLoggedOverload = date;
    addActivity("Playback deadline missed", "The audio service reported an overload on the selected output.",
                ActivityEntry::Kind::signal);
}

QCoro::Task<> DoctorStore::recordWake(Date date)
{
    m_lastWake = date;
    m_preferences.setLastWake(date);
    emit preferencesChanged();
    if (m_monitoringEnabled)
        addActivity("Computer woke from sleep",
                    "Check the route after wake or a dock reconnect. Recovery requires a listening confirmation.",
                    ActivityEntry::Kind::signal);
    co_await refresh();
}

QCoro::Task<> DoctorStore::markCrackle()
{
    QPointer<DoctorStore> self(this);
    co_await refresh();
    if (!self)
        co_return;
    const AudioDevice* out = m_snapshot.outputDevice();
    const std::string detail = "Output: " + (out ? out->name : std::string("None")) + ". Format: "
                               + (out && out->sampleRate ? kilohertzText(*out->sampleRate) : "Unavailable") + ". "
                               + HealthSummary::statusLine(m_checks, m_isFixing, m_snapshot.readError) + ".";
    if (addActivity("I heard a crackle", detail, ActivityEntry::Kind::marker))
        showNotice("Crackle marked",
                   "The time and current audio settings are saved in Activity. Quick Fix can reset playback.");
    else
        showNotice("Crackle marked",
                   "The time and current audio settings are in Activity, but they could not be saved.", true);
}

std::string DoctorStore::diagnosticReport() const
{
    DiagnosticReportState state;
    state.generatedAt = m_services.now();
    state.system = m_services.system;
    state.appVersion = m_services.appVersion;
    state.monitoringEnabled = m_monitoringEnabled;
    state.snapshot = m_snapshot;
    state.checks = m_checks;
    state.preferredOutput = m_preferredOutput;
    state.lastWorkingOutput = m_lastWorkingOutput;
    state.intent = m_intent;
    state.lastWake = m_lastWake;
    state.undoChangeCount = m_undoChanges.size();
    state.isolation = m_isolation;
    state.history = m_history;
    return sonorel::diagnosticReport(state, m_services.reportDates);
}

QCoro::Task<> DoctorStore::copyReport()
{
    QPointer<DoctorStore> self(this);
    co_await refresh();
    if (!self || !m_services.desktop)
        co_return;
    m_services.desktop->copyText(diagnosticReport());
    m_reportCopied = true;
    emit reportCopiedChanged();
    // Each copy starts its own wait; the first to end clears the copied state.
    QTimer::singleShot(reportCopiedTime, this, [this] {
        m_reportCopied = false;
        emit reportCopiedChanged();
    });
}

QCoro::Task<> DoctorStore::exportReport()
{
    QPointer<DoctorStore> self(this);
    co_await refresh();
    if (!self || !m_services.desktop)
        co_return;
    const auto path = m_services.desktop->chooseReportFile(QStringLiteral("Sonorel Doctor Report.txt"));
    if (!path)
        co_return;
    // Written whole or not at all: a temporary file moved into place.
    QSaveFile file(*path);
    const QByteArray text = QByteArray::fromStdString(diagnosticReport());
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        showError(std::make_exception_ptr(
            std::runtime_error("The report could not be saved: " + file.errorString().toStdString())));
}

void DoctorStore::openSettingsPane(SettingsPane pane)
{
    if (m_services.desktop && m_services.desktop->openSettingsPane(pane))
        return;
    showNotice("Settings not available",
               "No settings tool for this is installed. Install the " + settingsPackageFor(pane) + " package.", true);
}

void DoctorStore::setLaunchAtLogin(bool enabled)
{
    if (!m_services.launchAtLogin)
        return;
    const bool done = m_services.launchAtLogin->setEnabled(enabled, m_services.launchCommand);
    // Always what the system has now, never the switch position asked for.
    m_loginEnabled = m_services.launchAtLogin->isEnabled();
    emit preferencesChanged();
    if (!done)
        showError(std::make_exception_ptr(std::runtime_error("Launch at login could not be changed.")));
}

}  // namespace sonorel
