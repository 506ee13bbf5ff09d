#include "app/main_window.h"
#include "app/user_places.h"
#include "support/store_fixture.h"
#include "views/menu_bar_doctor_view.h"
#include "views/overview_view.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace sonorel;
using namespace sonorel::fixtures;
using namespace sonorel::testing;

namespace {

using window = StoreFixture;

AudioDevice mutedSpeakers()
{
    auto speakers = output(1, "Speakers");
    speakers.isMuted = true;
    speakers.bufferFrames = 512;
    return speakers;
}

TEST_F(window, the_overview_shows_the_reading_and_offers_one_button_per_row)
{
    start(snapshot({mutedSpeakers(), input(2, "Microphone")}, 1, 2), false);
    OverviewView before(*store);
    EXPECT_TRUE(find<QLabel>(before, "last-checked")->text().isEmpty());
    runTask(store->refresh());

    OverviewView page(*store);
    EXPECT_TRUE(find<QLabel>(page, "last-checked")->text().startsWith("Checked "));
    EXPECT_EQ(find<QPushButton>(*find(page, "check-volume"), "check-action")->text(), "Restore sound");
    EXPECT_TRUE(find<QPushButton>(page, "quick-fix")->isEnabled());

    // No output: the console says so and the output row sends to the sound settings.
    server->state = snapshot({input(2, "Microphone")}, 0, 2);
    runTask(store->refresh());
    OverviewView empty(*store);
    EXPECT_EQ(find<QPushButton>(*find(empty, "check-output"), "check-action")->text(), "Sound settings");
    const auto texts = empty.findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [](QLabel* l) { return l->text() == "No output selected"; }));
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
                            [](QLabel* l) { return l->text() == "No format  ·  Connect a device"; }));

    server->failRead(server->reads + 1);
    runTask(store->refresh());
    MainWindow unreadable(*store, {});
    screenshot(unreadable, "overview-unreadable");
}

TEST_F(window, quick_fix_waits_while_fixing_or_while_input_would_be_disturbed)
{
    auto usb = output(1, "Scarlett", AudioTransport::usb);
    usb.sampleRate = 22050;
    usb.availableRates = {{22050, 22050}, {48000, 48000}};
    start(snapshot({usb, input(2, "Mic")}, 1, 2));
    server->state.inputIOActive = true;
    runTask(store->refresh());
    OverviewView page(*store);
    auto* quickFix = find<QPushButton>(page, "quick-fix");
    EXPECT_FALSE(quickFix->isEnabled());
    const auto texts = page.findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [](QLabel* l) {
        return l->text() == "Finish the call or recording before resetting audio.";
    }));

    server->state.inputIOActive = false;
    runTask(store->refresh());
    pauseGate = std::make_shared<QPromise<void>>();
    pauseGate->start();
    auto running = store->perform(RepairAction::normalizeRate);
    ASSERT_TRUE(store->isFixing());
    EXPECT_FALSE(quickFix->isEnabled());
    EXPECT_EQ(quickFix->text(), "Fixing…");
    OverviewView fixing(*store);
    for (auto* button : fixing.findChildren<QPushButton*>(QStringLiteral("check-action")))
        EXPECT_FALSE(button->isEnabled()) << button->text().toStdString();
    MainWindow main(*store, {});
    screenshot(main, "overview-fixing");
    pauseGate->finish();
    runTask(std::move(running));
    EXPECT_FALSE(store->isFixing());
}

TEST_F(window, the_listening_question_the_notice_and_closing_without_a_tray)
{
    start(snapshot({mutedSpeakers()}, 1));
    int quits = 0;
    MainWindow main(*store, {{}, {}, {}, [&] { ++quits; }});
    main.show();
    auto* banner = find(main, "repair-feedback");
    EXPECT_FALSE(banner->isVisible());
    runTask(store->perform(RepairAction::unmute));
    EXPECT_TRUE(banner->isVisible());
    EXPECT_EQ(find<QLabel>(main, "repair-feedback-prompt")->text(), "How does it sound now?");
    auto* notice = find(main, "notice");
    EXPECT_TRUE(notice->isVisible());
    find<QPushButton>(main, "repair-feedback-better")->click();
    for (int i = 0; i < 50 && store->awaitingFeedback(); ++i)
        runTask(store->refresh());
    EXPECT_FALSE(banner->isVisible());
    EXPECT_TRUE(store->lastWorkingOutput().has_value());
    EXPECT_EQ(find<QLabel>(main, "notice-title")->text().toStdString(), "Your result is saved.");
    find<QPushButton>(main, "notice-dismiss")->click();
    EXPECT_FALSE(notice->isVisible());
    EXPECT_FALSE(store->notice().has_value());

    main.setStaysInTray(true);
    main.close();
    EXPECT_EQ(quits, 0);
    EXPECT_FALSE(main.isVisible());
    main.show();
    main.setStaysInTray(false);
    main.close();
    EXPECT_EQ(quits, 1);
}

TEST_F(window, the_tray_panel_enables_what_can_run_now)
{
    start(snapshot({mutedSpeakers(), output(2, "HDMI")}, 1));
    int opened = 0;
    MenuBarDoctorView panel(*store, {[&] { ++opened; }, {}, {}, {}});
    const auto actions = panel.moreActions()->actions();
    const auto action = [&](const char* text) {
        for (QAction* a : actions)
            if (a->text() == QLatin1String(text))
                return a;
        throw std::runtime_error(std::string("no menu item ") + text);
    };
    EXPECT_FALSE(action("Undo repair settings")->isEnabled());
    EXPECT_TRUE(action("Restart audio service")->isEnabled());
    runTask(store->perform(RepairAction::unmute));
    EXPECT_TRUE(action("Undo repair settings")->isEnabled());
    server->state.inputIOActive = true;
    runTask(store->refresh());
    EXPECT_FALSE(action("Restart audio service")->isEnabled());
    EXPECT_EQ(find<QLabel>(panel, "menu-output")->text(), "Speakers");
    action("Troubleshoot this problem")->trigger();
    EXPECT_EQ(store->selectedPage(), DoctorPage::troubleshoot);
    EXPECT_EQ(opened, 1);
}

// Window, menu, Overview and panel show Quick Fix and each repair from the
// store's one value: a new symptom changes them all without a new reading.
TEST_F(window, every_surface_follows_the_symptom_and_what_records)
{
    auto microphone = input(2, "Microphone");
    microphone.inputControls = {control(0, 0.0f, true)};
    start(snapshot({output(1, "Speakers"), microphone}, 1, 2));
    MainWindow main(*store, {});
    MenuBarDoctorView panel(*store, {});
    OverviewView overview(*store);
    QAction* menuQuickFix = nullptr;
    for (QAction* action : main.findChildren<QAction*>())
        if (action->text() == "Quick Fix")
            menuQuickFix = action;
    ASSERT_TRUE(menuQuickFix);
    const auto expectEverywhere = [&](bool enabled, const std::string& summary) {
        EXPECT_EQ(find<QPushButton>(overview, "quick-fix")->isEnabled(), enabled);
        EXPECT_EQ(find<QPushButton>(panel, "menu-quick-fix")->isEnabled(), enabled);
        EXPECT_EQ(menuQuickFix->isEnabled(), enabled);
        EXPECT_EQ(find<QPushButton>(overview, "quick-fix")->toolTip().toStdString(), summary);
        EXPECT_EQ(find<QLabel>(panel, "menu-quick-fix-summary")->text().toStdString(), summary);
    };
    store->setIntent(RepairIntent::microphone);
    expectEverywhere(true, "Quick Fix: Restore microphone, then listen or test to confirm the result.");

    // While something records, the microphone's repair is off here as in Troubleshoot.
    server->state.inputIOActive = true;
    runTask(store->refresh());
    expectEverywhere(false, "Quick Fix: Restore microphone, then listen or test to confirm the result.");
    OverviewView recording(*store);
    EXPECT_FALSE(find<QPushButton>(*find(recording, "check-microphone"), "check-action")->isEnabled());
}

}  // namespace

// The running window's socket is where no other account can take its name
// first (which kept the app from ever opening); the report is proposed at
// home when there is no Documents folder.
TEST(user_places, the_instance_socket_is_private_and_reports_go_home_without_documents)
{
    QTemporaryDir runtime;
    ASSERT_TRUE(QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    EXPECT_TRUE(isPrivateDirectory(runtime.path()));
    const QString link = runtime.filePath("link");
    QFile::link(runtime.path(), link);
    QDir(runtime.path()).mkdir("open");
    QFile::setPermissions(runtime.filePath("open"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                        | QFile::ReadOther | QFile::ExeOther);
    for (const QString& notPrivate : {link, runtime.filePath("open"), runtime.filePath("missing"), QString("/tmp")})
        EXPECT_FALSE(isPrivateDirectory(notPrivate)) << notPrivate.toStdString();
    if (geteuid() == 0) {
        QDir(runtime.path()).mkdir("theirs");
        ASSERT_EQ(chown(QFile::encodeName(runtime.filePath("theirs")).constData(), 65534, 65534), 0);
        EXPECT_FALSE(isPrivateDirectory(runtime.filePath("theirs")));
    }
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    EXPECT_EQ(instanceSocketPath(), runtime.filePath("sonorel-doctor.instance"));

    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(runtime.path()));
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(reportFolder(), runtime.path());
    QDir(runtime.path()).mkdir("Documents");
    EXPECT_EQ(reportFolder(), runtime.filePath("Documents"));
    qputenv("HOME", home);
}
