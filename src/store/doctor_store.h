#pragma once

#include "audio/audio_log.h"
#include "audio/audio_repair_error.h"
#include "audio/quick_fix_planner.h"
#include "diagnostics/diagnostic_report.h"
#include "model/activity_log.h"
#include "model/app_isolation.h"
#include "model/audio_configuration_change.h"
#include "model/audio_snapshot.h"
#include "model/diagnostic_check.h"
#include "model/preferred_output.h"
#include "model/repair_action.h"
#include "model/uuid.h"
#include "listening/live_audio_streams.h"
#include "listening/microphone_level_tester.h"
#include "listening/test_tone_player.h"
#include "store/audio_thread.h"
#include "store/desktop_services.h"
#include "store/preferences.h"
#include "store/report_texts.h"
#include "store/sleep_watcher.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sonorel {

// The one transient message shown on top of the pages. Each has a new id, so
// the same words shown twice are two notices.
struct DoctorNotice {
    Uuid id;
    std::string title;
    std::string detail;
    bool isError = false;
    // After a repair that did not help: feedback about it is one of the next steps.
    bool offersFeedback = false;
    bool operator==(const DoctorNotice&) const = default;
};

enum class DoctorPage { overview, troubleshoot, devices, activity, help };

struct FeedbackRepairStep {
    RepairAction action = RepairAction::unmute;
    bool succeeded = false;
    bool operator==(const FeedbackRepairStep&) const = default;
};

// Folds a repair step's verified changes into the undo list: a setting
// changed twice undoes to its first value, and one that ended where it
// started is not offered.
void foldUndoChanges(std::vector<AudioConfigurationChange>& undo, const std::vector<AudioConfigurationChange>& changes);

// A random (version 4) UUID.
Uuid randomUuid();

// What the store needs from outside besides the audio side, each injected so
// that tests need no desktop.
struct StoreServices {
    std::function<Date()> now = systemNow;
    std::function<Uuid()> newId = randomUuid;
    DesktopServices* desktop = nullptr;          // clipboard, save dialog, settings panes
    std::optional<LaunchAtLogin> launchAtLogin;  // none: not offered
    std::string launchCommand;                   // what the autostart entry runs
    std::string system;                          // the report's system line
    std::string appVersion;
    ReportDateTexts reportDates = localeDateTexts();
    // The listening tests' back ends.
    TestTonePlayer::MakePlayback tonePlayback = [] { return std::make_unique<LiveTonePlayback>(); };
    std::function<std::unique_ptr<MicrophoneCapturing>()> microphoneCapture = [] {
        return std::make_unique<LiveMicrophoneCapture>();
    };
    MicrophoneLevelTester::Permission microphonePermission = [] { return liveMicrophonePermission(); };
    std::chrono::milliseconds listeningPeriod = std::chrono::seconds(10);
};

// The application's single state object, on the main thread: the latest
// reading and its checks, the activity log, repairs with undo and the
// listening question, monitoring and the persisted preferences. Views read
// its state and call its operations; nothing else reaches the audio side for
// them. Every wait on the sound server happens on the audio thread.
class DoctorStore final : public QObject {
    Q_OBJECT

public:
    // Loads the preferences, takes the first reading and, with
    // `startsServices`, switches monitoring on as the preferences say.
    DoctorStore(AudioThread& audio, QSettings& settings, StoreServices services, bool startsServices,
                QObject* parent = nullptr);
    ~DoctorStore() override;

    // State, read by the views.
    std::optional<DoctorPage> selectedPage() const { return m_selectedPage; }
    const AudioSnapshot& snapshot() const { return m_snapshot; }
    const std::vector<DiagnosticCheck>& checks() const { return m_checks; }
    const ActivityLog& history() const { return m_history; }
    bool isFixing() const { return m_isFixing; }
    const std::string& fixingLabel() const { return m_fixingLabel; }
    const std::optional<DoctorNotice>& notice() const { return m_notice; }
    // The notice asks whether to restart a service that does not answer.
    bool offersUnansweredRestart() const { return m_offersUnansweredRestart; }
    bool awaitingFeedback() const { return m_awaitingFeedback; }
    const std::string& feedbackPrompt() const { return m_feedbackPrompt; }
    const std::optional<std::string>& feedbackOutputUID() const { return m_feedbackOutputUID; }
    const std::vector<FeedbackRepairStep>& feedbackRepairSteps() const { return m_feedbackRepairSteps; }
    std::optional<Date> lastChecked() const { return m_lastChecked; }
    const std::optional<PreferredOutput>& preferredOutput() const { return m_preferredOutput; }
    RepairIntent intent() const { return m_intent; }
    const std::optional<PreferredOutput>& lastWorkingOutput() const { return m_lastWorkingOutput; }
    std::optional<Date> lastWake() const { return m_lastWake; }
    const std::vector<AudioConfigurationChange>& undoChanges() const { return m_undoChanges; }
    const AppIsolation& isolation() const { return m_isolation; }
    bool monitoringEnabled() const { return m_monitoringEnabled; }
    bool isMonitorLoopRunning() const { return m_monitorTimer.isActive(); }
    bool hasRefreshed() const { return m_hasRefreshed; }
    bool reportCopied() const { return m_reportCopied; }
    bool loginEnabled() const { return m_loginEnabled; }
    bool isWatchingWakes() const { return m_sleepWatcher && m_sleepWatcher->isListening(); }
    TestTonePlayer& tone() { return m_tone; }
    MicrophoneLevelTester& microphone() { return *m_microphone; }

    // Derived on every read.
    std::vector<RepairAction> quickFixPlan() const;
    // The plan would cut a call or recording, or input activity is not known.
    bool quickFixBlockedByInput() const;
    // Why Quick Fix is blocked, for the user; empty when it is not.
    std::string quickFixBlockedText() const;
    // Quick Fix can run now: nothing else runs and nothing refuses its plan.
    bool canRunQuickFix() const;
    // A repair's own button can be pressed now: nothing else runs and the
    // repair would not be refused for what records (a call, or what an output plays).
    bool canPerform(RepairAction action) const;
    std::string quickFixSummary() const;
    std::string diagnosticReport() const;

    // Operations.
    QCoro::Task<> refresh();
    QCoro::Task<> selectOutput(std::string uid);
    QCoro::Task<> selectInput(std::string uid);
    QCoro::Task<> runQuickFix();
    QCoro::Task<> perform(RepairAction action);
    // The restart refused because the service did not answer, asked once
    // more with the user's consent; only while that question is the notice.
    QCoro::Task<> restartUnanswered();
    QCoro::Task<> reportListeningResult(bool better);
    // The listening question closed unanswered.
    void dismissListeningQuestion();
    // False (said in an error notice) when the output could not be confirmed.
    QCoro::Task<bool> confirmWorkingOutput();
    QCoro::Task<> undoRepairSettings();
    QCoro::Task<> markCrackle();
    QCoro::Task<> recordWake(Date date);
    void handleOverload(Date date);
    // Logs an entry; false (said in a notice) when it could not be saved.
    bool addActivity(std::string title, std::string detail, ActivityEntry::Kind kind);
    void clearActivity();
    void showError(const std::exception_ptr& error);
    void setNotice(std::optional<DoctorNotice> notice);
    void setSelectedPage(std::optional<DoctorPage> page);
    void setIntent(RepairIntent intent);
    void setIsolation(AppIsolation isolation);
    void setMonitoringEnabled(bool enabled);
    QCoro::Task<> setPreferredOutput(std::optional<PreferredOutput> output);
    QCoro::Task<> copyReport();
    QCoro::Task<> exportReport();
    void openSettingsPane(SettingsPane pane);
    void setLaunchAtLogin(bool enabled);
    // The listening tests. The tone toggles; neither plays while a repair runs.
    QCoro::Task<> playTestTone();
    QCoro::Task<> playReferenceTone();
    QCoro::Task<> testAnotherOutput();
    QCoro::Task<> startMicrophoneTest();
    // Ends both tests: a repair begins, or the app quits.
    void stopListening();

signals:
    // One signal per group of state the views draw together.
    void readingChanged();     // snapshot, checks, lastChecked
    void historyChanged();
    // One entry was logged; it is history().entries.front().
    void activityAdded(const sonorel::ActivityEntry& entry);
    void repairStateChanged();  // isFixing, fixingLabel, the listening question, undo, feedback steps
    void noticeChanged();
    void preferencesChanged();  // monitoring, preferred and working output, last wake, login
    void pageChanged();
    void comparisonChanged();   // intent, isolation
    void reportCopiedChanged();
    // Anything Quick Fix and the repair buttons follow: a reading, a repair,
    // the symptom or a preference.
    void actionsChanged();
    // A reading finished; refresh() waiters resume on it.
    void refreshed();

private:
    // Makes a device the default and verifies it on a fresh reading: the
    // selected device, or none with the error shown.
    QCoro::Task<const AudioDevice*> selectDefault(bool output, std::string uid);
    std::optional<AudioRepairError> quickFixRefusal() const;
    std::optional<AudioRepairError> refusalOf(const std::vector<RepairAction>& plan) const;
    void putNotice(std::optional<DoctorNotice> notice, bool asksUnansweredRestart);
    QCoro::Task<> runRepairs(std::vector<RepairAction> actions, bool followUps, bool restartUnanswered = false);
    std::vector<RepairAction> followUpsAfter(const std::vector<RepairAction>& started,
                                             const std::set<RepairAction>& attempted) const;
    void applyReading(AudioSnapshot fresh);
    void configureMonitoring();
    void showNotice(std::string title, std::string detail, bool isError = false);
    void loadActivity(const QSettings& settings);
    // Says when the log stops being saved; passes `saved` on.
    bool noteActivitySaved(bool saved);
    void endRun();

    AudioThread& m_audio;
    Preferences m_preferences;
    StoreServices m_services;

    std::optional<DoctorPage> m_selectedPage;
    AudioSnapshot m_snapshot;
    std::vector<DiagnosticCheck> m_checks;
    ActivityLog m_history;
    std::string m_settingsFile;
    // The stored log could not be read: it is kept, never written over.
    bool m_keepsStoredActivity = false;
    bool m_activityUnsaved = false;  // the last write of the log failed, or none is possible
    bool m_isFixing = false;
    std::string m_fixingLabel;
    std::optional<DoctorNotice> m_notice;
    bool m_offersUnansweredRestart = false;
    bool m_awaitingFeedback = false;
    std::string m_feedbackPrompt = "How does it sound now?";
    std::optional<std::string> m_feedbackOutputUID;
    std::vector<FeedbackRepairStep> m_feedbackRepairSteps;
    std::optional<Date> m_lastChecked;
    std::optional<PreferredOutput> m_preferredOutput;
    RepairIntent m_intent = RepairIntent::playback;
    std::optional<PreferredOutput> m_lastWorkingOutput;
    std::optional<Date> m_lastWake;
    std::vector<AudioConfigurationChange> m_undoChanges;
    AppIsolation m_isolation;
    bool m_monitoringEnabled = true;
    QTimer m_monitorTimer;
    std::optional<Date> m_lastLoggedOverload;
    bool m_hasRefreshed = false;
    SleepWatcher* m_sleepWatcher = nullptr;  // with services only
    bool m_reportCopied = false;
    bool m_loginEnabled = false;
    TestTonePlayer m_tone;
    std::unique_ptr<MicrophoneLevelTester> m_microphone;

    // One reading in flight; requests meanwhile make one more.
    bool m_reading = false;
    quint64 m_readingsRequested = 0;
    quint64 m_readingsDone = 0;
};

}  // namespace sonorel
