#include "app/main_window.h"
#include "support/store_fixture.h"
#include "views/troubleshoot_view.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cmath>

using namespace sonorel;
using namespace sonorel::fixtures;
using namespace sonorel::testing;

namespace {

using troubleshoot = StoreFixture;

QString text(QWidget& root, const char* name)
{
    auto* label = root.findChild<QLabel*>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("(no %1)").arg(QLatin1String(name));
}

AudioClient client(AudioObjectID id, std::string name, std::vector<AudioObjectID> outputs = {}, bool recording = false)
{
    AudioClient c;
    c.id = id;
    c.pid = ProcessID(id * 10);
    c.name = std::move(name);
    c.outputDeviceIDs = std::move(outputs);
    c.isRunningInput = recording;
    c.isRunningOutput = !c.outputDeviceIDs.empty();
    return c;
}

AudioDevice headphones()
{
    return output(3, "Buds", AudioTransport::bluetooth);
}

TEST(troubleshootTexts, balance_channels_and_summaries_read_as_people_say_them)
{
    EXPECT_EQ(balanceText(0.5f), "Balance: centered");
    EXPECT_EQ(balanceText(0.502f), "Balance: centered");
    EXPECT_EQ(balanceText(0.504f), "Balance: 1% toward the right");
    EXPECT_EQ(balanceText(0.25f), "Balance: 50% toward the left");
    EXPECT_EQ(balanceText(0.0f), "Balance: 100% toward the left");
    EXPECT_EQ(balanceText(std::nanf("")), std::nullopt);
    EXPECT_EQ(balanceText(std::nullopt), std::nullopt);

    EXPECT_EQ(channelRowText(control(0, 0.5f, false), AudioDirection::output), "Volume: 50% · Unmuted");
    EXPECT_EQ(channelRowText(control(0, 0.8f, true), AudioDirection::input), "Input level: 80% · Muted");
    EXPECT_EQ(channelRowText(control(2, std::nullopt, std::nullopt), AudioDirection::output),
              "Channel 2: Level unavailable · Mute unavailable");
    EXPECT_EQ(channelRowText(control(1, std::nanf(""), false), AudioDirection::output),
              "Channel 1: Level unavailable · Unmuted");

    EXPECT_EQ(focusTopic(RepairIntent::playback), TroubleshootTopic::audioUsers);
    EXPECT_EQ(focusTopic(RepairIntent::appOnly), TroubleshootTopic::compare);
}

TEST_F(troubleshoot, summaries_follow_the_reading)
{
    auto speakers = output(1, "Speakers");
    speakers.balance = 0.25f;
    auto reading = snapshot({speakers, input(2, "Mic")}, 1, 2);
    reading.clients = {client(1, "Music"), client(2, "Call")};
    start(reading);
    EXPECT_EQ(topicSummary(TroubleshootTopic::audioUsers, *store), "2 apps using audio");
    EXPECT_EQ(topicSummary(TroubleshootTopic::stereo, *store), "Balance: 50% toward the left");
    EXPECT_EQ(topicSummary(TroubleshootTopic::bluetooth, *store), "Not in use");
    EXPECT_EQ(topicSummary(TroubleshootTopic::alerts, *store), "Alerts: Unavailable");
    EXPECT_EQ(topicSummary(TroubleshootTopic::afterWake, *store), "No output confirmed yet");
    EXPECT_EQ(topicSummary(TroubleshootTopic::compare, *store), "Not tested");
    server->state.clients.pop_back();
    server->state.outputID.reset();
    runTask(store->refresh());
    EXPECT_EQ(topicSummary(TroubleshootTopic::audioUsers, *store), "1 app using audio");
    EXPECT_EQ(topicSummary(TroubleshootTopic::output, *store), "No output selected");
    EXPECT_EQ(topicSummary(TroubleshootTopic::stereo, *store), "Balance unavailable");
}

TEST_F(troubleshoot, quick_fix_the_status_sentence_and_undo)
{
    start(snapshot({output(1, "Speakers"), input(2, "Mic")}, 1, 2));
    store->setIntent(RepairIntent::stereo);
    TroubleshootView page(*store);
    EXPECT_FALSE(shows(page, "troubleshoot-quick-fix"));
    EXPECT_FALSE(shows(page, "undo-repair-settings"));
    EXPECT_EQ(text(page, "troubleshoot-status"), "Nothing to repair automatically. Follow the check below.");

    // Unmuting does not interrupt a call: Quick Fix stays available.
    store->setIntent(RepairIntent::noSound);
    server->state.devices[0].isMuted = true;
    server->state.inputIOActive = true;
    runTask(store->refresh());
    ASSERT_EQ(store->quickFixPlan(), std::vector{RepairAction::unmute});
    auto* quickFix = find<QPushButton>(page, "troubleshoot-quick-fix");
    EXPECT_TRUE(shows(page, "troubleshoot-quick-fix"));
    EXPECT_TRUE(quickFix->isEnabled());

    runTask(store->runQuickFix());
    EXPECT_TRUE(shows(page, "undo-repair-settings"));
    runTask(store->undoRepairSettings());
    EXPECT_FALSE(shows(page, "undo-repair-settings"));

    // A restart while input activity is unknown could cut into a recording.
    server->state.inputIOActive = false;
    server->state.inputActivityKnown = false;
    server->state.devices[0].isMuted = false;
    runTask(store->refresh());
    ASSERT_EQ(store->quickFixPlan(), std::vector{RepairAction::restartAudio});
    EXPECT_FALSE(quickFix->isEnabled());
    EXPECT_EQ(text(page, "troubleshoot-status"), "Input activity could not be checked. Check again.");
}

TEST_F(troubleshoot, the_symptom_picks_the_focus_topic_and_closes_the_other_rows)
{
    start(snapshot({output(1, "Speakers"), input(2, "Mic")}, 1, 2));
    store->setIntent(RepairIntent::appOnly);
    TroubleshootView page(*store);
    EXPECT_EQ(find<QGroupBox>(page, "troubleshoot-focus-compare")->title(), "Compare an app with Doctor");
    QStringList order;
    for (auto* row : page.findChildren<QWidget*>()) {
        if (QRegularExpression(QStringLiteral("^other-check-[A-Za-z]+$")).match(row->objectName()).hasMatch())
            order << row->objectName();
    }
    EXPECT_EQ(order.size(), 7);
    EXPECT_EQ(order.value(0), "other-check-output");
    EXPECT_EQ(order.value(6), "other-check-afterWake");

    find<QAbstractButton>(page, "other-check-toggle-output")->click();
    find<QAbstractButton>(page, "other-check-toggle-stereo")->click();
    EXPECT_EQ(page.expanded().size(), 2u);
    EXPECT_TRUE(page.findChild<QWidget*>(QStringLiteral("stereo-test")));
    store->setIntent(RepairIntent::playback);
    EXPECT_TRUE(page.expanded().empty());
    EXPECT_TRUE(page.findChild<QWidget*>(QStringLiteral("troubleshoot-focus-audioUsers")));
    EXPECT_FALSE(page.findChild<QWidget*>(QStringLiteral("stereo-test")));
}

TEST_F(troubleshoot, topic_buttons_show_what_can_run_and_which_one_leads)
{
    auto speakers = output(1, "Speakers");
    speakers.isMuted = true;
    auto reading = snapshot({speakers, input(2, "Mic"), headphones()}, 1, 2);
    reading.clients = {client(7, "Recorder", {}, true), client(8, "Player", {99})};
    start(reading);
    TroubleshootTopicContent output(*store, TroubleshootTopic::output, true);
    EXPECT_TRUE(find<TopicButton>(output, "output-restore-sound")->isProminent());
    EXPECT_FALSE(find<TopicButton>(output, "output-test-tone")->isProminent());

    TroubleshootTopicContent users(*store, TroubleshootTopic::audioUsers, true);
    const auto labels = users.findChildren<QLabel*>();
    const auto hasText = [&](const QString& wanted) {
        return std::any_of(labels.begin(), labels.end(), [&](QLabel* l) { return l->text() == wanted; });
    };
    EXPECT_TRUE(hasText("Input: Active, route unavailable · Output: None reported"));
    // A device that went away meanwhile is never shown as a number.
    EXPECT_TRUE(hasText("Input: None reported · Output: Active, route unavailable"));

    TroubleshootTopicContent bluetooth(*store, TroubleshootTopic::bluetooth, true);
    EXPECT_FALSE(shows(bluetooth, "bluetooth-reselect"));
    EXPECT_TRUE(shows(bluetooth, "bluetooth-settings"));

    // Headphones in use while something records: nothing that would cut in runs.
    server->state.outputID = 3;
    server->state.devices[0].isMuted = false;
    server->state.inputIOActive = true;
    runTask(store->refresh());
    EXPECT_TRUE(shows(bluetooth, "bluetooth-reselect"));
    EXPECT_FALSE(find<QPushButton>(bluetooth, "bluetooth-reselect")->isEnabled());
    EXPECT_FALSE(find<QPushButton>(users, "reselect-headphones")->isEnabled());
    EXPECT_TRUE(find<TopicButton>(output, "output-test-tone")->isProminent());

    server->state.outputID.reset();
    runTask(store->refresh());
    EXPECT_EQ(output.findChildren<QLabel*>().value(0)->text(), "No output selected");
    EXPECT_FALSE(find<QPushButton>(output, "output-test-tone")->isEnabled());
}

TEST_F(troubleshoot, the_microphone_test_button_stops_a_running_test)
{
    start(snapshot({output(1, "Speakers"), input(2, "Mic")}, 1, 2));
    TroubleshootTopicContent topic(*store, TroubleshootTopic::microphone, true);
    auto* test = find<QPushButton>(topic, "microphone-test");
    EXPECT_EQ(test->text(), "Test microphone · 10 seconds");
    test->click();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();  // its fresh look before capture
    runTask(store->refresh());
    ASSERT_EQ(store->microphone().state(), MicrophoneLevelTester::State::listening);
    EXPECT_EQ(test->text(), "Stop microphone test");
    EXPECT_TRUE(shows(topic, "microphone-level"));
    test->click();
    EXPECT_NE(store->microphone().state(), MicrophoneLevelTester::State::listening);
    EXPECT_EQ(test->text(), "Test microphone · 10 seconds");
}

TEST_F(troubleshoot, after_wake_leads_with_what_is_needed)
{
    start(snapshot({output(1, "Speakers"), output(4, "Dock")}, 1));
    runTask(store->confirmWorkingOutput());
    TroubleshootTopicContent topic(*store, TroubleshootTopic::afterWake, true);
    auto* restore = find<TopicButton>(topic, "restore-working-output");
    auto* confirm = find<TopicButton>(topic, "confirm-working-output");
    EXPECT_TRUE(restore->isEnabled());
    EXPECT_FALSE(restore->isProminent());
    EXPECT_TRUE(confirm->isProminent());

    server->state.outputID = 4;
    runTask(store->refresh());
    EXPECT_TRUE(restore->isProminent());
    server->state.devices[0].isAlive = false;
    runTask(store->refresh());
    EXPECT_FALSE(restore->isEnabled());
}

TEST_F(troubleshoot, the_comparison_reveals_its_steps_as_they_are_rated)
{
    start(snapshot({output(1, "Speakers"), output(4, "Dock")}, 1));
    store->setIntent(RepairIntent::appOnly);
    MainWindow window(*store, {});
    store->setSelectedPage(DoctorPage::troubleshoot);
    window.resize(1060, 900);
    auto* reference = find<QComboBox>(window, "reference-result");
    auto* affected = find<QComboBox>(window, "affected-result");
    QWidget& page = *find<QWidget>(window, "troubleshoot-focus-compare");
    EXPECT_FALSE(shows(page, "affected-app"));
    EXPECT_FALSE(shows(page, "compare-guidance"));

    find<QPushButton>(window, "reference-tone")->click();
    runTask(store->refresh());
    reference->setCurrentIndex(3);  // Silent
    EXPECT_TRUE(shows(page, "affected-app"));
    EXPECT_FALSE(shows(page, "test-another-output"));
    auto* appName = find<QLineEdit>(window, "affected-app");
    appName->setText("Browser");
    Q_EMIT appName->textEdited(appName->text());  // as typing does
    affected->setCurrentIndex(1);  // Clear
    EXPECT_TRUE(shows(page, "test-another-output"));
    EXPECT_EQ(text(page, "compare-guidance").toStdString(), store->isolation().guidance());

    // The first output stays named after the user moved on; replaying asks again.
    server->state.outputID = 4;
    runTask(store->refresh());
    find<QPushButton>(window, "test-another-output")->click();
    find<QComboBox>(window, "other-output-result")->setCurrentIndex(1);
    EXPECT_EQ(find<QLabel>(window, "compare-guidance")->text().left(24), "The first output needs c");
    screenshot(window, "troubleshoot-compare");
    find<QPushButton>(window, "reference-tone")->click();
    EXPECT_EQ(reference->currentIndex(), 0);
    EXPECT_FALSE(shows(page, "affected-app"));
    EXPECT_EQ(store->isolation().appName, "Browser");
}

}  // namespace

// The causes of silence Linux users meet most, each with its repair where the
// user looks: the stand-in output of a card turned off, an unplugged
// connector, and one app muted, at zero and sent to another output.
TEST_F(troubleshoot, linux_causes_of_silence_show_their_repairs_and_quick_fix_runs_them)
{
    auto dummy = output(1, "Dummy Output", AudioTransport::virtual_);
    dummy.isPlaceholder = true;
    auto reading = snapshot({dummy, input(2, "Microphone")}, 1, 2, 1);
    reading.cards = {{"alsa_card.pci-0000_00_1f.3", "Built-in Audio", "pci", "off",
                      {{"output:analog-stereo+input:analog-stereo", "Analog Stereo Duplex", true, 6565, 1, 1},
                       {"off", "Off", true, 0, 0, 0}}}};
    reading.hardwareCards = {{0, "HDA Intel PCH", std::nullopt, "", std::nullopt, ""}};
    start(reading);
    store->setIntent(RepairIntent::noSound);
    EXPECT_EQ(store->quickFixPlan(), std::vector{RepairAction::turnOnOutput});
    TroubleshootTopicContent topic(*store, TroubleshootTopic::output, true);
    EXPECT_TRUE(find<TopicButton>(topic, "output-turn-on")->isProminent());
    MainWindow window(*store, {});
    window.resize(1060, 900);
    screenshot(window, "overview-dummy-output");
    store->setSelectedPage(DoctorPage::troubleshoot);
    screenshot(window, "troubleshoot-noSound-card-off");
    runTask(store->runQuickFix());
    EXPECT_EQ(store->snapshot().outputDevice()->name, "Built-in Audio Analog Stereo Duplex");
    EXPECT_EQ(store->notice()->detail, "Built-in Audio is on again. Sound plays through Built-in Audio Analog Stereo "
                                       "Duplex.");

    auto speakers = output(1, "Built-in Audio");
    speakers.ports = {{"analog-output-speaker", "Speakers", PortAvailability::unknown, "speaker", 100},
                      {"analog-output-headphones", "Headphones", PortAvailability::unavailable, "headphones", 200}};
    speakers.activePort = "analog-output-headphones";
    server->state = snapshot({speakers, output(3, "HDMI", AudioTransport::display), input(2, "Microphone")}, 1, 2, 1);
    runTask(store->refresh());
    EXPECT_TRUE(shows(topic, "output-switch-port"));
    store->setSelectedPage(DoctorPage::devices);
    EXPECT_EQ(text(window, "device-ports"), "Ports: Speakers · Headphones (in use, not plugged in)");
    screenshot(window, "devices-headphones-unplugged");

    server->state.devices[0].activePort = "analog-output-speaker";
    server->state.appStreams = {{5, "Firefox", std::nullopt, 50, 1, 1.0f, true, true, false},
                                {6, "VLC", std::nullopt, 60, 3, 0.0f, false, true, false}};
    server->state.clients = {client(5, "Firefox", {1}), client(6, "VLC", {3})};
    runTask(store->refresh());
    store->setIntent(RepairIntent::appOnly);
    EXPECT_EQ(store->quickFixPlan(),
              (std::vector{RepairAction::unmuteApp, RepairAction::raiseAppVolume, RepairAction::moveAppToOutput}));
    EXPECT_EQ(store->quickFixSummary(),
              "Quick Fix unmutes Firefox, raises VLC from 0% and moves VLC to Built-in Audio in the mixer.");
    TroubleshootTopicContent compare(*store, TroubleshootTopic::compare, true);
    EXPECT_EQ(text(compare, "app-mixer-state"), "Firefox is muted in the mixer. VLC plays at 0% in the mixer. VLC "
                                                "plays through HDMI, not Built-in Audio.");
    store->setSelectedPage(DoctorPage::troubleshoot);
    screenshot(window, "troubleshoot-appOnly-mixer");
    find<QPushButton>(compare, "app-unmute")->click();
    while (store->isFixing())
        QCoreApplication::processEvents();
    runTask(store->refresh());
    EXPECT_TRUE(store->snapshot().mutedAppStreams().empty());
    EXPECT_FALSE(shows(compare, "app-unmute"));
    store->setSelectedPage(DoctorPage::overview);
}
