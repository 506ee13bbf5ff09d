// Each window in the states the screenshots show: every label shows its whole text, no widget lies over
// a sibling, the window is within the screen, and every control is reachable with Tab, named, and worded
// for Linux. CTest runs this again on a screen at twice the scale.

#include "app/main_window.h"
#include "feedback/murmex_feedback_sender.h"
#include "support/store_fixture.h"
#include "views/doctor_settings_view.h"
#include "views/feedback_view.h"
#include "views/menu_bar_doctor_view.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTextDocumentFragment>

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::fixtures;
using namespace sonorel::testing;

namespace {

using layout = StoreFixture;

bool cutsItsText(QLabel* label)
{
    const QString text = Qt::mightBeRichText(label->text())
                             ? QTextDocumentFragment::fromHtml(label->text()).toPlainText()
                             : label->text();
    const int room = label->contentsRect().width() - 2 * label->margin() - std::max(label->indent(), 0);
    return label->heightForWidth(label->width()) > label->height()
        || (!label->wordWrap() && label->fontMetrics().size(0, text).width() > room);
}

QString described(QWidget* widget)
{
    auto* label = qobject_cast<QLabel*>(widget);
    return (widget->objectName().isEmpty() ? QLatin1String(widget->metaObject()->className()) : widget->objectName())
         + (label ? QStringLiteral(" \"%1\"").arg(label->text().left(40)) : QString());
}

// `window` shown, with what is wrong in it, one line each: texts cut short,
// siblings over one another, and controls (also those hidden for now) that a
// keyboard or a screen reader cannot use. Its screenshot is left in the build tree.
QStringList faultsShowing(QWidget& window, const QString& state)
{
    window.show();
    StoreFixture::screenshot(window, QStringLiteral("layout-") + state);
    QStringList found;
    const auto fault = [&](QWidget* widget, const QString& what) { found << state + u' ' + described(widget) + what; };
    if (const QRect frame = window.frameGeometry(); !window.screen()->availableGeometry().contains(frame))
        fault(&window, QStringLiteral(" is off the screen: %1,%2 to %3,%4")
                           .arg(frame.left()).arg(frame.top()).arg(frame.right()).arg(frame.bottom()));
    const auto shows = [&](QWidget* widget) { return !widget->isWindow() && widget->isVisibleTo(&window); };
    QList<QWidget*> widgets = window.findChildren<QWidget*>();
    widgets << &window;
    for (QWidget* widget : widgets) {
        auto* label = qobject_cast<QLabel*>(widget);
        if (label && !label->text().isEmpty() && shows(label) && cutsItsText(label))
            fault(label, QStringLiteral(" is cut short"));
        for (const char* word : {"Mac", "Core Audio", "Audio MIDI"})
            if (label && label->text().contains(QLatin1String(word)))
                fault(label, QStringLiteral(" is worded for macOS"));
        QList<QWidget*> siblings;
        for (QWidget* child : widget->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (shows(child))
                siblings << child;
        for (qsizetype i = 0; i < siblings.size(); ++i)
            for (qsizetype j = i + 1; j < siblings.size(); ++j)
                if (siblings[i]->geometry().intersects(siblings[j]->geometry()))
                    fault(siblings[i], QStringLiteral(" overlaps ") + described(siblings[j]));
        // A scroll area shows no focus: Tab passes it by.
        if (qobject_cast<QScrollArea*>(widget) && (widget->focusPolicy() & Qt::TabFocus))
            fault(widget, QStringLiteral(" is a Tab stop"));
        // Qt's own overflow buttons show only when a bar is too narrow.
        auto* button = qobject_cast<QAbstractButton*>(widget);
        const bool control = (button || qobject_cast<QComboBox*>(widget) || qobject_cast<QLineEdit*>(widget)
                              || qobject_cast<QPlainTextEdit*>(widget))
                          && !widget->objectName().startsWith(QLatin1String("qt_"));
        QString spoken = widget->accessibleName().isEmpty() && button ? button->text() : widget->accessibleName();
        // One Tab stop leads into a group of choices, arrows move within it.
        const bool reachable = (widget->focusPolicy() & Qt::TabFocus) || (button && button->group()
                                                                          && button->group()->exclusive());
        if (control && (!reachable || spoken.remove(u'&').trimmed().isEmpty()))
            fault(widget, QStringLiteral(" is out of Tab's reach or unnamed"));
    }
    return found;
}

TEST_F(layout, every_window_shows_whole_texts_apart_on_screen_and_controls_in_reach)
{
    auto usb = output(2, "USB Audio Interface", AudioTransport::usb);
    usb.canSetVolume = false;
    auto buds = output(4, "WH-1000XM4 Bluetooth Headphones", AudioTransport::bluetooth);
    buds.balance = 0.3f;
    buds.outputControls = {control(1, 0.8f, false), control(2, 0.4f, false)};
    start(snapshot({output(1, "Built-in Audio Analog Stereo"), usb, input(3, "Built-in Audio Analog Stereo"), buds},
                   1, 3));
    runTask(store->setPreferredOutput(PreferredOutput{"uid-Gone", "Gone", true}));
    runTask(store->markCrackle());
    store->addActivity("Repair failed", "The output did not change.", ActivityEntry::Kind::error);
    QStringList found;
    for (const bool dark : {false, true}) {
        usePalette(dark);
        const QString look =
            QStringLiteral("-%1@%2x").arg(QLatin1String(dark ? "dark" : "light")).arg(qApp->devicePixelRatio());
        // Muted, then unmuted: the notice and the question come while the panel is
        // open, from a tray item at the bottom right.
        store->setNotice(std::nullopt);
        store->dismissListeningQuestion();
        store->setSelectedPage(DoctorPage::overview);
        server->state.devices[0].isMuted = true;
        runTask(store->refresh());
        MainWindow main(*store, {});
        found += faultsShowing(main, QStringLiteral("muted") + look);
        MenuBarDoctorView panel(*store, {});
        panel.setWindowFlags(Qt::Popup);
        const QRect screen = panel.screen()->availableGeometry();
        panel.popUp(QRect(screen.bottomRight() - QPoint(30, 0), QSize(24, 24)));
        found += faultsShowing(panel, QStringLiteral("panel-muted") + look);
        runTask(store->perform(RepairAction::unmute));
        ASSERT_TRUE(store->notice() && store->awaitingFeedback());
        found += faultsShowing(panel, QStringLiteral("panel") + look);

        for (const char* page : {"nav-overview", "nav-devices", "nav-activity", "nav-help"}) {
            find<QPushButton>(main, page)->click();
            for (auto* details : main.findChildren<QAbstractButton*>(QStringLiteral("device-details")))
                if (details->isVisible())
                    details->click();
            found += faultsShowing(main, QLatin1String(page) + look);
        }
        find<QPushButton>(main, "nav-troubleshoot")->click();
        for (const auto& [intent, name] : repairIntentNames) {
            store->setIntent(intent);
            found += faultsShowing(main, QLatin1String(name.data(), qsizetype(name.size())) + look);
        }

        SupportFeedback feedback(*store, nullptr, QStringLiteral("help@example.org"));
        runTask(feedback.prepareFeedback(true));
        auto form = makeFeedbackWindow(feedback);
        find<QAbstractButton>(*form, "feedback-summary")->click();
        found += faultsShowing(*form, QStringLiteral("feedback") + look);
        DoctorSettingsView settingsView(*store);
        found += faultsShowing(settingsView, QStringLiteral("settings") + look);
    }
    usePalette(false);
    EXPECT_TRUE(found.isEmpty()) << found.join(QLatin1Char('\n')).toStdString();
}

}  // namespace
