#include "app/main_window.h"
#include "support/store_fixture.h"
#include "views/activity_view.h"
#include "views/doctor_help_view.h"
#include "views/doctor_settings_view.h"
#include "views/return_key.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QElapsedTimer>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace sonorel;
using namespace sonorel::fixtures;
using namespace sonorel::testing;

namespace {

using pages = StoreFixture;

void answerClear(ActivityView& page, const char* button)
{
    // A closed confirmation may linger until its deferred deletion.
    for (auto* ask : page.findChildren<QMessageBox*>(QStringLiteral("clear-confirmation")))
        if (ask->isVisible())
            return StoreFixture::find<QPushButton>(*ask, button)->click();
    FAIL() << "no confirmation showing";
}

TEST_F(pages, clearing_the_activity_asks_first)
{
    start(snapshot({output(1, "Speakers")}, 1));
    ActivityView page(*store);
    page.resize(800, 480);
    page.show();
    screenshot(page, "activity-empty");
    EXPECT_FALSE(find(page, "activity-empty")->isHidden());
    EXPECT_TRUE(page.findChildren<QWidget*>(QStringLiteral("activity-entry")).isEmpty());

    find<QPushButton>(page, "clear-activity")->click();
    EXPECT_TRUE(page.confirmClear());
    answerClear(page, "confirm-clear");
    EXPECT_FALSE(page.confirmClear());

    runTask(store->markCrackle());
    store->addActivity("Unmuted output", "Speakers were muted.", ActivityEntry::Kind::repair);
    store->addActivity("Repair failed", "The output did not change.", ActivityEntry::Kind::error);
    store->addActivity("Feedback sent", "", ActivityEntry::Kind::feedback);
    store->handleOverload(at(990));
    // Newest first, also for rows added to a log already shown.
    QApplication::sendPostedEvents();
    page.layout()->activate();
    auto rows = page.findChildren<QWidget*>(QStringLiteral("activity-entry"));
    std::sort(rows.begin(), rows.end(), [&](QWidget* a, QWidget* b) { return a->mapTo(&page, QPoint()).y() < b->mapTo(&page, QPoint()).y(); });
    QStringList titles;
    for (QWidget* entry : rows)
        for (QLabel* text : entry->findChildren<QLabel*>())
            if (!text->text().isEmpty()) {
                titles << text->text();
                break;
            }
    EXPECT_EQ(titles, QStringList({"Playback deadline missed", "Feedback sent", "Repair failed", "Unmuted output",
                                   "I heard a crackle"}));
    // A screen reader meets the rows in the same order.
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(rows.front()->parentWidget()->parentWidget());
    QList<QWidget*> spoken;
    for (int i = 0; i < list->childCount(); ++i)
        spoken << static_cast<QWidget*>(list->child(i)->object())->findChild<QWidget*>(QStringLiteral("activity-entry"));
    EXPECT_EQ(spoken, rows);
    EXPECT_EQ(page.findChildren<QWidget*>(QStringLiteral("activity-empty")).size(), 0);

    find<QPushButton>(page, "clear-activity")->click();
    answerClear(page, "cancel-clear");
    EXPECT_EQ(store->history().entries.size(), 5u);
    EXPECT_TRUE(settings.contains("activity"));
    find<QPushButton>(page, "clear-activity")->click();
    answerClear(page, "confirm-clear");
    EXPECT_TRUE(store->history().entries.empty());
    EXPECT_FALSE(settings.contains("activity"));
    QApplication::sendPostedEvents();
    EXPECT_FALSE(find(page, "activity-empty")->isHidden());

    find<QPushButton>(page, "activity-copy-report")->click();
    runTask(store->refresh());
    EXPECT_EQ(desktop.copied.size(), 1u);
    EXPECT_EQ(find<QPushButton>(page, "activity-copy-report")->text(), "Copied");
}

TEST_F(pages, settings_switches_show_what_the_system_has)
{
    QTemporaryDir config;
    launchAtLogin.emplace(config.path().toStdString());
    start(snapshot({output(1, "Speakers")}, 1));
    DoctorSettingsView view(*store);
    auto* monitor = find<QCheckBox>(view, "monitor-toggle");
    EXPECT_TRUE(monitor->isChecked());
    // As a screen reader or voice control switches it: the Toggle action, no click.
    QAccessible::queryAccessibleInterface(monitor)->actionInterface()->doAction(
        QAccessibleActionInterface::toggleAction());
    EXPECT_FALSE(store->monitoringEnabled());

    auto* login = find<QCheckBox>(view, "login-toggle");
    login->click();
    EXPECT_TRUE(login->isChecked());
    EXPECT_TRUE(std::filesystem::exists(config.filePath("autostart/sonorel-doctor.desktop").toStdString()));
    login->click();
    EXPECT_FALSE(login->isChecked());
    // The entry cannot be written: the switch stays off and the user is told.
    std::filesystem::remove_all(config.filePath("autostart").toStdString());
    std::ofstream(config.filePath("autostart").toStdString()) << "in the way";
    login->click();
    EXPECT_FALSE(login->isChecked());
    ASSERT_TRUE(store->notice().has_value());
    EXPECT_TRUE(store->notice()->isError);

    store->addActivity("Unmuted output", "", ActivityEntry::Kind::repair);
    EXPECT_EQ(find<QLabel>(view, "activity-count")->text(), "1 activity entries");
    find<QPushButton>(view, "settings-copy-report")->click();
    runTask(store->refresh());
    EXPECT_EQ(desktop.copied.size(), 1u);
}

TEST_F(pages, the_remembered_output_picker_keeps_an_unplugged_preference)
{
    start(snapshot({output(1, "Speakers"), output(2, "HDMI", AudioTransport::display)}, 1));
    runTask(store->setPreferredOutput(PreferredOutput{"uid-Headphones", "Headphones", true}));
    DoctorSettingsView view(*store);
    auto* picker = find<QComboBox>(view, "preferred-output-picker");
    QStringList choices;
    for (int i = 0; i < picker->count(); ++i)
        choices << picker->itemText(i);
    EXPECT_EQ(choices, QStringList({"Follow system default", "Speakers", "HDMI", "Headphones (disconnected)"}));
    EXPECT_EQ(picker->currentText(), "Headphones (disconnected)");

    // The keyboard walks the list as a user would: up to HDMI, then to the top.
    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(picker, &up);
    runTask(store->refresh());
    EXPECT_EQ(store->preferredOutput(), (PreferredOutput{"uid-HDMI", "HDMI", false}));
    EXPECT_EQ(picker->count(), 3);
    QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
    QApplication::sendEvent(picker, &home);
    runTask(store->refresh());
    EXPECT_FALSE(store->preferredOutput().has_value());
    EXPECT_EQ(picker->currentIndex(), 0);
}

TEST_F(pages, help_lists_the_topics_and_opens_the_tools)
{
    start(snapshot({output(1, "Speakers")}, 1));
    int feedback = 0;
    DoctorHelpView page(*store, [&](bool unresolvedRepair) { feedback += unresolvedRepair ? 100 : 1; });
    EXPECT_EQ(page.findChildren<QWidget*>(QStringLiteral("help-topic")).size(), 9);
    find<QPushButton>(page, "help-open-sound-settings")->click();
    find<QPushButton>(page, "help-open-volume-control")->click();
    EXPECT_EQ(desktop.opened, (std::vector{SettingsPane::sound, SettingsPane::volumeControl}));
    find<QPushButton>(page, "send-feedback")->click();
    EXPECT_EQ(feedback, 1);
}

// Return presses the focused button, or the window's default one; Escape closes Settings.
TEST_F(pages, return_presses_the_focused_or_default_button_and_escape_closes_settings)
{
    start(snapshot({output(1, "Speakers")}, 1));
    ReturnPressesButtons returnKey;
    qApp->installEventFilter(&returnKey);
    const auto pressReturn = [](QWidget& window, QWidget* focus) {
        window.show();
        QApplication::setActiveWindow(&window);
        focus->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), focus);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(focus, &press);
        QElapsedTimer shown;  // a pressed button shows itself down for a moment
        shown.start();
        while (shown.elapsed() < 300)
            QApplication::processEvents();
    };
    DoctorSettingsView settingsView(*store);
    pressReturn(settingsView, find<QCheckBox>(settingsView, "monitor-toggle"));
    EXPECT_FALSE(store->monitoringEnabled());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(find<QCheckBox>(settingsView, "monitor-toggle"), &escape);
    EXPECT_FALSE(settingsView.isVisible());

    QWidget window;
    auto* field = new QLabel(QStringLiteral("Sent"), &window);
    field->setFocusPolicy(Qt::StrongFocus);
    auto* done = new QPushButton(QStringLiteral("Done"), &window);
    done->setDefault(true);
    int pressed = 0;
    QObject::connect(done, &QPushButton::clicked, [&] { ++pressed; });
    pressReturn(window, field);
    EXPECT_EQ(pressed, 1);
    qApp->removeEventFilter(&returnKey);
}

// The commands used most have their shortcuts in the menus.
TEST_F(pages, the_menus_offer_the_shortcuts)
{
    start(snapshot({output(1, "Speakers")}, 1));
    MainWindow main(*store, {});
    QStringList shortcuts;
    for (QAction* action : main.findChildren<QAction*>())
        if (!action->shortcut().isEmpty())
            shortcuts << action->text() + QLatin1Char('=') + action->shortcut().toString();
    for (const char* expected : {"Check Audio Again=Ctrl+R", "Quick Fix=Ctrl+Shift+R", "Mark a Crackle=Ctrl+Shift+M"})
        EXPECT_TRUE(shortcuts.contains(QLatin1String(expected))) << expected;
}

}  // namespace
