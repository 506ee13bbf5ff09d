#include "audio/audio_repair_error.h"
#include "audio/run_task.h"
#include "store/doctor_store.h"
#include "support/quiet_listening.h"
#include "support/repair_harness.h"
#include "support/scripted_audio_system.h"
#include "support/audio_rig.h"
#include "support/snapshot_fixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::fixtures;
using namespace sonorel::testing;

namespace {

// A store over a scripted server that lives on the test's own thread, with
// a settable clock and counted ids.
class doctor_store : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QSettings settings{dir.filePath("sonorel-doctor.conf"), QSettings::IniFormat};
    QSettings* storeSettings = &settings;  // what the store is given
    ScriptedAudioSystem* server = nullptr;
    ScriptedRestarter* restarter = nullptr;
    std::unique_ptr<AudioThread> audio;
    std::unique_ptr<DoctorStore> store;
    Date clock = at(1000);
    // A desktop that records what the store asked of it.
    struct RecordingDesktop final : DesktopServices {
        std::vector<std::string> copied;
        std::optional<QString> chosenFile;
        std::vector<SettingsPane> opened;
        bool panesInstalled = true;
        void copyText(const std::string& text) override { copied.push_back(text); }
        std::optional<QString> chooseReportFile(const QString&) override { return chosenFile; }
        bool openSettingsPane(SettingsPane pane) override
        {
            opened.push_back(pane);
            return panesInstalled;
        }
    } desktop;

    void start(AudioSnapshot initial, bool services = true)
    {
        store.reset();  // before the audio side it uses
        audio = std::make_unique<AudioThread>(
            [&] {
                auto scripted = std::make_unique<ScriptedAudioSystem>(std::move(initial));
                server = scripted.get();
                auto restart = std::make_unique<ScriptedRestarter>();
                restarter = restart.get();
                return AudioThread::Parts{std::move(scripted), std::move(restart),
                                          []() -> QCoro::Task<> { co_return; }};
            },
            AudioThread::Placement::callerThread);
        StoreServices services_;
        services_.now = [this] { return clock; };
        services_.desktop = &desktop;
        services_.launchAtLogin = LaunchAtLogin(dir.path().toStdString());
        services_.launchCommand = "/usr/bin/sonorel-doctor";
        services_.tonePlayback = [] { return std::make_unique<InstantPlayback>(); };
        services_.microphoneCapture = [] { return std::make_unique<SilentCapture>(); };
        services_.microphonePermission = []() -> QCoro::Task<bool> { co_return true; };
        store = std::make_unique<DoctorStore>(*audio, *storeSettings, std::move(services_), services);
        runTask(store->refresh());
    }

    void run(QCoro::Task<> task) { runTask(std::move(task)); }
    // Lets queued reports (monitoring, audio-side callbacks) arrive.
    void settle()
    {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        runTask(store->refresh());
    }

    std::vector<std::string> titles() const
    {
        std::vector<std::string> result;
        for (const auto& entry : store->history().entries)
            result.push_back(entry.title);
        return result;
    }

    std::string noticeTitle() const { return store->notice() ? store->notice()->title : "(none)"; }
    std::string noticeDetail() const { return store->notice() ? store->notice()->detail : "(none)"; }
};

AudioDevice mutedSpeakers()
{
    auto speakers = output(1, "Speakers");
    speakers.isMuted = true;
    return speakers;
}

TEST_F(doctor_store, devices_are_logged_coming_and_going_only_between_two_readable_readings_with_monitoring_on)
{
    start(snapshot({output(1, "Speakers")}, 1));
    EXPECT_TRUE(titles().empty()) << "the first reading logs nothing";

    server->state.devices.push_back(output(2, "Dock"));
    server->state.devices.push_back(output(3, "Headphones"));
    run(store->refresh());
    // Newest first: the device later in the reading stands first.
    EXPECT_EQ(titles(), (std::vector<std::string>{"Audio device connected", "Audio device connected"}));
    EXPECT_EQ(store->history().entries[0].detail, "Headphones");

    server->state.devices[1].isAlive = false;
    run(store->refresh());
    EXPECT_EQ(store->history().entries[0].title, "Audio device disconnected");
    EXPECT_EQ(store->history().entries[0].detail, "Dock");

    server->failRead(server->reads + 1);
    server->state.devices.pop_back();
    run(store->refresh());
    run(store->refresh());
    EXPECT_EQ(titles().size(), 3u) << "no entry across a failed reading";

    store->setMonitoringEnabled(false);
    server->state.devices.push_back(output(4, "USB"));
    run(store->refresh());
    EXPECT_EQ(titles().size(), 3u);
    EXPECT_TRUE(store->snapshot().deviceWithUID("uid-USB"));
}

TEST_F(doctor_store, refreshes_asked_for_during_a_reading_make_one_more_reading)
{
    start(snapshot({output(1, "Speakers")}, 1));
    const int before = server->reads;
    auto first = store->refresh();
    auto second = store->refresh();
    auto third = store->refresh();
    runTask(std::move(third));
    EXPECT_EQ(server->reads, before + 2);
    EXPECT_TRUE(first.isReady() && second.isReady());
}

TEST_F(doctor_store, a_repair_asks_to_listen_a_positive_answer_saves_the_output_and_undo_says_what_it_did)
{
    start(snapshot({mutedSpeakers()}, 1));
    run(store->perform(RepairAction::unmute));
    EXPECT_FALSE(store->isFixing());
    EXPECT_EQ(noticeTitle(), "Audio settings checked again");
    EXPECT_TRUE(store->awaitingFeedback());
    EXPECT_EQ(store->feedbackPrompt(), "How does it sound now?");
    EXPECT_EQ(store->feedbackOutputUID(), "uid-Speakers");
    EXPECT_EQ(store->feedbackRepairSteps(), (std::vector<FeedbackRepairStep>{{RepairAction::unmute, true}}));
    EXPECT_EQ(titles(), std::vector<std::string>{"Restore sound"});
    ASSERT_EQ(store->undoChanges().size(), 1u);

    run(store->reportListeningResult(true));
    EXPECT_FALSE(store->awaitingFeedback());
    EXPECT_EQ(store->notice()->detail, "This output is saved as confirmed working for recovery after sleep.");
    EXPECT_EQ(store->lastWorkingOutput(), (PreferredOutput{"uid-Speakers", "Speakers", false}));
    EXPECT_TRUE(settings.contains("lastWorkingOutput"));
    EXPECT_EQ(titles()[0], "Audio sounds better");

    // No restart ran, so none is mentioned; an undone repair is not asked about.
    run(store->undoRepairSettings());
    EXPECT_EQ(noticeTitle(), "Settings restored");
    EXPECT_EQ(noticeDetail(), "The configuration changes were reversed.");
    EXPECT_TRUE(store->undoChanges().empty());
    EXPECT_EQ(store->snapshot().outputDevice()->isMuted, true);
    run(store->perform(RepairAction::unmute));
    run(store->undoRepairSettings());
    EXPECT_FALSE(store->awaitingFeedback());

    // An output that could not be confirmed stays an error when the answer comes.
    run(store->perform(RepairAction::unmute));
    server->state.devices.clear();
    EXPECT_FALSE(runTask(store->confirmWorkingOutput()));
    run(store->reportListeningResult(true));
    EXPECT_TRUE(store->notice()->isError);
    EXPECT_EQ(titles()[0], "Audio sounds better");
    run(store->perform(RepairAction::restartAudio));
    store->dismissListeningQuestion();
    EXPECT_FALSE(store->awaitingFeedback());
    // Still a problem: the next step is Troubleshoot, with feedback one choice there.
    run(store->reportListeningResult(false));
    EXPECT_EQ(store->selectedPage(), DoctorPage::troubleshoot);
    EXPECT_TRUE(store->notice()->offersFeedback);
}

TEST_F(doctor_store, a_failed_step_ends_the_run_and_keeps_what_was_verified_undoable)
{
    auto speakers = mutedSpeakers();
    speakers.volume = 0.0f;
    start(snapshot({speakers}, 1));
    server->refuseWrites(settingsOf<AudioSetting::Volume>(), AudioRepairError::unsupported());
    run(store->perform(RepairAction::unmute));
    EXPECT_FALSE(store->isFixing());
    EXPECT_TRUE(store->fixingLabel().empty());
    EXPECT_FALSE(store->awaitingFeedback());
    EXPECT_EQ(noticeTitle(), "Audio needs another step");
    EXPECT_TRUE(store->notice()->isError);
    EXPECT_EQ(titles(), std::vector<std::string>{"Repair needs attention"});
    EXPECT_EQ(store->feedbackRepairSteps(), (std::vector<FeedbackRepairStep>{{RepairAction::unmute, false}}));
    ASSERT_EQ(store->undoChanges().size(), 1u);
    EXPECT_EQ(store->undoChanges()[0].after, (AudioSetting::Mute{"uid-Speakers", outputSide, 0, false}));
}

// Nothing records through a service that does not answer, yet it is restarted
// only once the user agrees; a dismissed question answers no.
TEST_F(doctor_store, a_service_that_does_not_answer_is_restarted_only_with_the_users_consent)
{
    start(snapshot({output(1, "Speakers")}, 1));
    restarter->unanswered = true;
    run(store->perform(RepairAction::restartAudio));
    EXPECT_EQ(noticeDetail(), "The audio service is not answering, so Doctor can't check whether something is "
                              "recording. Restart it anyway?");
    EXPECT_TRUE(store->offersUnansweredRestart());
    store->setNotice(std::nullopt);
    run(store->restartUnanswered());
    EXPECT_EQ(restarter->restarts, 1);

    run(store->perform(RepairAction::restartAudio));
    run(store->restartUnanswered());
    EXPECT_EQ(restarter->restarts, 3);
    EXPECT_EQ(noticeTitle(), "Audio settings checked again");
    EXPECT_FALSE(store->offersUnansweredRestart());
}

TEST_F(doctor_store, quick_fix_opens_troubleshoot_bluetooth_settings_or_refuses_while_input_runs)
{
    start(snapshot({output(1, "Speakers")}, 1));
    store->setIntent(RepairIntent::appOnly);
    run(store->runQuickFix());
    EXPECT_EQ(store->selectedPage(), DoctorPage::troubleshoot);
    EXPECT_TRUE(titles().empty());

    // A rate repair would interrupt the recording.
    auto usb = output(2, "Scarlett", AudioTransport::usb);
    usb.sampleRate = 22050;
    usb.availableRates = {{22050, 22050}, {48000, 48000}};
    server->state = snapshot({usb, input(3, "Mic")}, 2, 3);
    server->state.inputIOActive = true;
    store->setIntent(RepairIntent::playback);
    run(store->refresh());
    const size_t logged = titles().size();  // the devices that came and went
    run(store->runQuickFix());
    EXPECT_TRUE(store->quickFixBlockedByInput());
    EXPECT_EQ(store->notice()->detail, sentence::recordingActive);
    EXPECT_TRUE(server->writes.empty());
    EXPECT_EQ(titles().size(), logged);
    EXPECT_TRUE(desktop.opened.empty());

    // The run makes only the repairs its caption names: no reselection after the unmute.
    auto headphones = output(4, "Headphones", AudioTransport::bluetooth);
    headphones.isMuted = true;
    auto speakers = output(1, "Speakers");
    speakers.outputControls = {control(0, 0.5f, false)};
    server->state = snapshot({headphones, speakers}, 4);
    run(store->refresh());
    EXPECT_EQ(store->quickFixSummary(), "Your computer is muted. Quick Fix turns the sound back on.");
    run(store->runQuickFix());
    EXPECT_EQ(store->feedbackRepairSteps(), (std::vector<FeedbackRepairStep>{{RepairAction::unmute, true}}));
}

TEST(fold_undo_changes, a_setting_changed_twice_undoes_to_its_first_value_and_a_round_trip_drops_out)
{
    using V = AudioSetting::Volume;
    const auto volume = [](float v) { return AudioSetting(V{"a", outputSide, 0, v}); };
    std::vector<AudioConfigurationChange> undo;
    foldUndoChanges(undo, {{volume(0.2f), volume(0.25f)}});
    foldUndoChanges(undo, {{volume(0.25f), volume(0.5f)}, {AudioSetting::Output{"x"}, AudioSetting::Output{"y"}}});
    EXPECT_EQ(undo, (std::vector<AudioConfigurationChange>{{volume(0.2f), volume(0.5f)},
                                                           {AudioSetting::Output{"x"}, AudioSetting::Output{"y"}}}));
    foldUndoChanges(undo, {{AudioSetting::Output{"y"}, AudioSetting::Output{"x"}}});
    EXPECT_EQ(undo.size(), 1u);
}

TEST_F(doctor_store, overloads_log_once_per_five_seconds_are_forgotten_after_a_restart_and_wake_logs_only_with_monitoring_on)
{
    start(snapshot({output(1, "Speakers")}, 1));
    for (double t : {0.0, 3.0, 6.0, 5.0})
        store->handleOverload(at(2000 + t));
    EXPECT_EQ(titles(), (std::vector<std::string>{"Playback deadline missed", "Playback deadline missed"}));
    EXPECT_EQ(store->history().entries[0].detail, "The audio service reported an overload on the selected output.");

    store->setMonitoringEnabled(false);
    run(store->recordWake(at(3000)));
    EXPECT_EQ(store->lastWake(), at(3000));
    EXPECT_EQ(Preferences(settings).lastWake(), at(3000));
    EXPECT_EQ(titles().size(), 2u);
    store->setMonitoringEnabled(true);
    run(store->recordWake(at(3100)));
    EXPECT_EQ(titles()[0], "Computer woke from sleep");

    // The restarted service is not blamed for what its predecessor reported.
    server->state.lastOverload = clock;
    server->state.overloadDates = {clock};
    run(store->perform(RepairAction::restartAudio));
    EXPECT_EQ(titles()[0], "Restart audio service");
    EXPECT_EQ(store->snapshot().recentOverloadCount(), 0);
}

TEST_F(doctor_store, monitoring_follows_its_switch_and_reports_refresh_the_reading)
{
    start(snapshot({output(1, "Speakers")}, 1));
    EXPECT_TRUE(store->isMonitorLoopRunning());
    settle();
    EXPECT_TRUE(server->isMonitoring());
    server->state.devices.push_back(output(2, "Dock"));
    server->reportChange();
    settle();
    EXPECT_EQ(titles(), std::vector<std::string>{"Audio device connected"});

    store->setMonitoringEnabled(false);
    store->setMonitoringEnabled(false);
    settle();
    EXPECT_FALSE(store->isMonitorLoopRunning());
    EXPECT_FALSE(server->isMonitoring());
    EXPECT_EQ(Preferences(settings).monitoring(), false);
}

TEST_F(doctor_store, a_crackle_is_marked_with_the_output_format_and_status)
{
    start(snapshot({}, 0));
    run(store->markCrackle());
    ASSERT_EQ(titles(), std::vector<std::string>{"I heard a crackle"});
    EXPECT_TRUE(store->history().entries[0].detail.starts_with("Output: None. Format: Unavailable. "));
    EXPECT_TRUE(store->history().entries[0].detail.ends_with("."));
    EXPECT_EQ(noticeTitle(), "Crackle marked");
    store->clearActivity();
    EXPECT_FALSE(settings.contains("activity"));
}

TEST_F(doctor_store, a_stored_log_it_cannot_read_is_said_and_kept_until_the_user_clears_activity)
{
    settings.setValue("activity", "[{\"id\": ");
    start(snapshot({output(1, "Speakers")}, 1));
    EXPECT_EQ(noticeTitle(), "Activity not read");
    EXPECT_EQ(noticeDetail(), "The saved activity in " + settings.fileName().toStdString()
                                  + " is not in a form this version reads. It is kept as it is: new activity is shown "
                                    "but not saved until you clear Activity.");
    run(store->markCrackle());
    EXPECT_EQ(titles(), std::vector<std::string>{"I heard a crackle"});
    EXPECT_EQ(noticeDetail(), "The time and current audio settings are in Activity, but they could not be saved.");
    EXPECT_EQ(settings.value("activity").toString(), "[{\"id\": ");

    store->clearActivity();
    EXPECT_TRUE(store->addActivity("Output changed", "Speakers", ActivityEntry::Kind::repair));
    EXPECT_EQ(Preferences(settings).activity(), store->history());
}

// Nothing is called saved that is not: a file refused at start, a folder that cannot be written.
TEST_F(doctor_store, activity_that_cannot_be_saved_is_said_and_saved_again_once_it_can)
{
    const QString fifo = dir.filePath("fifo.conf");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const auto refused = settingsAt(fifo);
    storeSettings = refused.get();
    start(snapshot({output(1, "Speakers")}, 1));
    EXPECT_EQ(noticeTitle(), "Settings not read");
    EXPECT_EQ(noticeDetail(), "The settings file " + fifo.toStdString()
                                  + " is not a regular file, so it was not read. Settings and activity start empty "
                                    "and are not saved until it is moved away.");
    run(store->markCrackle());
    EXPECT_TRUE(store->notice()->isError);
    EXPECT_EQ(noticeDetail(), "The time and current audio settings are in Activity, but they could not be saved.");

    storeSettings = &settings;
    start(snapshot({output(1, "Speakers")}, 1));
    // A folder where the file should be: no account, root included, can write it.
    ASSERT_TRUE(QDir(dir.path()).mkdir("sonorel-doctor.conf"));
    store->addActivity("Output changed", "Speakers", ActivityEntry::Kind::repair);
    EXPECT_EQ(noticeTitle(), "Activity not saved");
    EXPECT_EQ(noticeDetail(), "The settings file " + settings.fileName().toStdString()
                                  + " could not be written. New activity is shown until Sonorel Doctor quits; check "
                                    "that its folder is writable and the disk has room.");
    run(store->markCrackle());
    EXPECT_EQ(noticeDetail(), "The time and current audio settings are in Activity, but they could not be saved.");

    ASSERT_TRUE(QDir(dir.path()).rmdir("sonorel-doctor.conf"));
    run(store->markCrackle());
    EXPECT_FALSE(store->notice()->isError);
    QFile file(settings.fileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().count("I heard a crackle"), 2) << "the one not saved then, too";
}

TEST_F(doctor_store, the_report_is_copied_for_two_seconds_and_exported_whole_or_not_at_all)
{
    start(snapshot({output(1, "Speakers")}, 1));
    run(store->copyReport());
    ASSERT_EQ(desktop.copied.size(), 1u);
    EXPECT_TRUE(desktop.copied[0].starts_with("Sonorel Doctor diagnostic report\n"));
    EXPECT_TRUE(store->reportCopied());
    EXPECT_TRUE(processEventsUntil([&] { return !store->reportCopied(); }, std::chrono::seconds(3)));

    // Cancelled: nothing written, nothing said.
    run(store->exportReport());
    EXPECT_FALSE(store->notice());
    desktop.chosenFile = dir.filePath("Sonorel Doctor Report.txt");
    run(store->exportReport());
    QFile saved(*desktop.chosenFile);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    // The clock stands still here, so the report read now is the one written.
    EXPECT_EQ(saved.readAll().toStdString(), store->diagnosticReport());
    desktop.chosenFile = dir.filePath("missing/folder/report.txt");
    run(store->exportReport());
    ASSERT_TRUE(store->notice());
    EXPECT_TRUE(store->notice()->isError);
    EXPECT_TRUE(store->notice()->detail.starts_with("The report could not be saved"));
}

TEST_F(doctor_store, settings_panes_without_a_tool_name_the_package_and_login_follows_the_autostart_entry)
{
    start(snapshot({output(1, "Speakers")}, 1));
    desktop.panesInstalled = false;
    run(store->perform(RepairAction::openBluetooth));
    EXPECT_EQ(desktop.opened, std::vector<SettingsPane>{SettingsPane::bluetooth});
    EXPECT_EQ(store->notice()->detail, "No settings tool for this is installed. Install the blueman package.");

    EXPECT_FALSE(store->loginEnabled());
    store->setLaunchAtLogin(true);
    EXPECT_TRUE(store->loginEnabled());
    QFile entry(dir.filePath("autostart/sonorel-doctor.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_NE(entry.readAll().indexOf("Exec=/usr/bin/sonorel-doctor --background"), -1);
    store->setLaunchAtLogin(false);
    EXPECT_FALSE(store->loginEnabled());
    EXPECT_FALSE(entry.exists());
}

}  // namespace

TEST_F(doctor_store, the_comparison_keeps_its_reference_output_and_a_repair_stops_the_listening_tests)
{
    start(snapshot({mutedSpeakers(), output(2, "HDMI"), input(3, "Mic")}, 1, 3));
    run(store->testAnotherOutput());
    EXPECT_EQ(noticeTitle(), "Choose another output");
    EXPECT_FALSE(store->tone().isPlaying());

    AppIsolation rated;
    rated.reference = AppIsolation::Result::clear;
    rated.affected = AppIsolation::Result::silent;
    store->setIsolation(rated);
    run(store->playReferenceTone());
    EXPECT_TRUE(store->tone().isPlaying());
    EXPECT_EQ(store->isolation().reference, AppIsolation::Result::notTested);
    EXPECT_EQ(store->isolation().affected, AppIsolation::Result::silent);
    EXPECT_EQ(store->isolation().referenceOutputName, "Speakers");
    store->tone().stop();
    run(store->selectOutput("uid-HDMI"));
    run(store->testAnotherOutput());
    EXPECT_TRUE(store->tone().isPlaying());
    EXPECT_EQ(store->isolation().referenceOutputUID, "uid-Speakers");

    run(store->startMicrophoneTest());
    settle();  // its fresh look before capture
    EXPECT_EQ(store->microphone().state(), MicrophoneLevelTester::State::listening);
    EXPECT_FALSE(store->tone().isPlaying());
    run(store->playTestTone());
    run(store->selectOutput("uid-Speakers"));
    run(store->perform(RepairAction::unmute));
    EXPECT_FALSE(store->tone().isPlaying());
    // Stopped before it heard anything: no verdict.
    EXPECT_EQ(store->microphone().state(), MicrophoneLevelTester::State::idle);

    // Undo stops the tone; a test asked for just before a repair does not start during it.
    run(store->playTestTone());
    run(store->undoRepairSettings());
    EXPECT_FALSE(store->tone().isPlaying());
    auto asked = store->startMicrophoneTest();
    run(store->perform(RepairAction::unmute));
    run(std::move(asked));
    settle();
    EXPECT_EQ(store->microphone().state(), MicrophoneLevelTester::State::idle);

    server->state.inputIOActive = true;
    run(store->startMicrophoneTest());
    EXPECT_EQ(store->microphone().detail(), "Finish the call or recording before testing input.");
}
