#include "app/main_window.h"
#include "support/store_fixture.h"
#include "views/devices_view.h"
#include "views/disclosure_button.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::fixtures;
using namespace sonorel::testing;

namespace {

using devices_view = StoreFixture;

// Built-in speakers (current, 512-frame buffer, two recent overloads), an
// HDMI display with a fixed 48 kHz rate and an exclusive owner, Bluetooth
// headphones that are gone, and a microphone.
AudioSnapshot rig()
{
    auto speakers = output(1, "Speakers");
    speakers.volume = 0.799f;
    speakers.bufferFrames = 512;
    speakers.latencyFrames = 64;
    speakers.safetyOffsetFrames = 0;
    speakers.formats = {AudioStreamFormat{AudioDirection::output, 48000, 32, 2, true}};
    auto hdmi = output(3, "HDMI", AudioTransport::display);
    hdmi.availableRates = {{48000, 48000}};
    hdmi.canSetVolume = false;
    hdmi.bufferRange = ClosedRange<uint32_t>{32, 8192};
    hdmi.exclusiveOwnerPID = 4242;
    auto headphones = output(4, "Headphones", AudioTransport::bluetooth);
    headphones.isAlive = false;
    auto s = snapshot({speakers, hdmi, headphones, input(2, "Microphone")}, 1, 2);
    s.clients = {AudioClient{7, 4242, "Ardour", {}, {}, {3}, false, true, {}}};
    s.overloadDates = {at(990), at(995)};
    return s;
}

QWidget* row(QWidget& page, const char* kind, const QString& name)
{
    for (QWidget* candidate : page.findChildren<QWidget*>(QLatin1String(kind)))
        if (candidate->accessibleName() == name)
            return candidate;
    throw std::runtime_error("no row " + name.toStdString());
}

// Opens a row's details and returns their lines.
QStringList details(QWidget& page, const char* kind, const QString& name)
{
    QWidget* device = row(page, kind, name);
    auto* toggle = StoreFixture::find<DisclosureButton>(*device, "device-details");
    toggle->setOpen(true);
    QStringList lines;
    for (QLabel* line : StoreFixture::find<DeviceDetailsView>(*device, "device-details-lines")->findChildren<QLabel*>())
        lines << line->text();
    return lines;
}

TEST_F(devices_view, detail_lines_follow_what_the_server_reports)
{
    start(rig());
    DevicesView page(*store);
    const QStringList speakers = details(page, "output-device", "Speakers");
    EXPECT_EQ(speakers.value(0), "Buffer: 512 frames · Latency budget: 12.00 ms");
    EXPECT_EQ(speakers.filter("Supported device buffer").size(), 0);
    EXPECT_TRUE(speakers.contains("Overloads on selected output in last two minutes: 2"));
    EXPECT_TRUE(speakers.contains("Exclusive access: unavailable"));
    EXPECT_TRUE(speakers.contains("Output: 2 ch · 48 kHz · 32-bit float"));
    EXPECT_TRUE(speakers.contains("Supported rates: 44.1 kHz, 48 kHz"));
    // No per-channel controls: one Master line from the main volume, to the nearest percent.
    EXPECT_EQ(speakers.filter(QRegularExpression("^(Input|Output) ")).size(), 1);
    EXPECT_TRUE(speakers.contains("Output Master: 80% · Unmuted"));
    EXPECT_EQ(speakers.filter("Volume is managed").size(), 0);

    const QStringList hdmi = details(page, "output-device", "HDMI");
    EXPECT_TRUE(hdmi.contains("Buffer: Unavailable · Latency budget: Unavailable"));
    EXPECT_TRUE(hdmi.contains("Supported device buffer: 32…8192 frames"));
    EXPECT_TRUE(hdmi.contains("Overloads on selected output in last two minutes: Not monitored"));
    EXPECT_TRUE(hdmi.contains("Supported rates: 48 kHz"));
    EXPECT_EQ(hdmi.filter("Exclusive access: Ardour. Close or release").size(), 1);
    EXPECT_EQ(hdmi.filter("Volume is managed by this device.").size(), 1);
    EXPECT_EQ(hdmi.filter("Inspect supported channels and physical formats in Volume Control").size(), 1);

    server->state.devices[1].exclusiveOwnerPID = -1;
    server->state.devices[1].outputControls = {control(0, std::nullopt, std::nullopt, false, false),
                                               control(1, 0.5f, true, false, false)};
    server->state.devices[1].outputControls[1].name = "Front Left";
    runTask(store->refresh());
    // The open details stay open across a rebuild.
    const QStringList after = details(page, "output-device", "HDMI");
    EXPECT_TRUE(after.contains("Exclusive access: no owner reported"));
    EXPECT_TRUE(after.contains("Output Master: Level unavailable · Mute unavailable"));
    EXPECT_TRUE(after.contains("Output Front Left: 50% · Muted"));

    find<QPushButton>(*row(page, "output-device", "HDMI"), "inspect-volume-control")->click();
    EXPECT_EQ(desktop.opened, std::vector{SettingsPane::volumeControl});
}

TEST_F(devices_view, rows_banner_and_buttons_follow_the_store)
{
    start(rig());
    runTask(store->setPreferredOutput(PreferredOutput{"uid-Headphones", "Headphones", true}));
    store->setSelectedPage(DoctorPage::devices);
    screenshots("devices", {1060, 1400}, [&] {
        auto main = std::make_unique<MainWindow>(*store, WindowActions{});
        details(*main, "output-device", "HDMI");
        return main;
    });
    DevicesView page(*store);

    // Connected but dead counts as disconnected.
    auto* banner = find(page, "preferred-output-banner");
    EXPECT_FALSE(banner->isHidden());
    EXPECT_EQ(find<QLabel>(page, "preferred-output-missing")->text(), "Headphones is disconnected");
    EXPECT_FALSE(find(page, "banner-bluetooth-settings")->isHidden());
    QWidget* headphones = row(page, "output-device", "Headphones");
    EXPECT_EQ(find<QLabel>(*headphones, "device-tag")->text(), "Unavailable");
    EXPECT_FALSE(find<QPushButton>(*headphones, "use-device")->isEnabled());
    EXPECT_EQ(find<QLabel>(*row(page, "output-device", "Speakers"), "device-tag")->text(), "Selected");
    EXPECT_EQ(find<QLabel>(*row(page, "input-device", "Microphone"), "device-subtitle")->text(),
              "Built-in · 48 kHz · 1 channel");
    EXPECT_EQ(find<QLabel>(*row(page, "output-device", "Speakers"), "device-level")->text(), "Volume 80%");

    // Tab goes down the page: the rows come before the tools under them.
    details(page, "output-device", "Speakers");
    QStringList tabs;
    for (QWidget* w = find(page, "test-tone"); !tabs.contains("open-sound-settings") && tabs.size() < 40;
         w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus)
            tabs << w->objectName();
    EXPECT_EQ(tabs, QStringList({"test-tone", "banner-bluetooth-settings", "clear-preference", "prefer-output",
                                 "device-details", "inspect-volume-control", "prefer-output", "use-device",
                                 "device-details", "prefer-output", "use-device", "device-details", "device-details",
                                 "open-sound-settings"}));

    find<QPushButton>(page, "clear-preference")->click();
    runTask(store->refresh());
    EXPECT_FALSE(store->preferredOutput().has_value());
    EXPECT_TRUE(banner->isHidden());

    auto* star = find<QToolButton>(*row(page, "output-device", "HDMI"), "prefer-output");
    EXPECT_EQ(star->accessibleName(), "Prefer HDMI");
    star->click();
    runTask(store->refresh());
    EXPECT_EQ(store->preferredOutput(), (PreferredOutput{"uid-HDMI", "HDMI", false}));
    EXPECT_EQ(find<QToolButton>(*row(page, "output-device", "HDMI"), "prefer-output")->accessibleName(),
              "Clear preferred output HDMI");

    // While an app records, no input can be chosen; outputs still can.
    server->state.devices.push_back(input(5, "Headset mic", AudioTransport::usb));
    server->state.devices[3].isRunningInput = true;
    runTask(store->refresh());
    EXPECT_FALSE(find(page, "input-in-use")->isHidden());
    auto* useHeadset = find<QPushButton>(*row(page, "input-device", "Headset mic"), "use-device");
    EXPECT_FALSE(useHeadset->isEnabled());
    EXPECT_EQ(useHeadset->toolTip(), "Finish the call or recording before changing the input.");
    auto* useHdmi = find<QPushButton>(*row(page, "output-device", "HDMI"), "use-device");
    ASSERT_TRUE(useHdmi->isEnabled());
    page.show();
    QApplication::setActiveWindow(&page);
    useHdmi->setFocus();
    useHdmi->click();
    runTask(store->refresh());
    EXPECT_EQ(store->snapshot().outputID, AudioObjectID(3));
    // The pressed button is gone with the rebuilt row; focus stays on that device.
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "device-details");
    EXPECT_TRUE(row(page, "output-device", "HDMI")->isAncestorOf(QApplication::focusWidget()));
    EXPECT_EQ(find<QLabel>(page, "tone-output")->text(), "HDMI");
    EXPECT_EQ(find<QLabel>(*row(page, "output-device", "HDMI"), "selected-mark")->accessibleName(), "Selected");

    find<QPushButton>(page, "test-tone")->click();
    runTask(store->refresh());
    EXPECT_EQ(find<QPushButton>(page, "test-tone")->text(), "Stop test tone");

    server->state.outputID.reset();
    runTask(store->refresh());
    EXPECT_EQ(find<QLabel>(page, "tone-output")->text(), "No output");
    EXPECT_FALSE(find(page, "test-tone")->isEnabled());

    // A muted microphone reads as muted, next to the repair the checks offer.
    server->state.devices[3].isRunningInput = false;
    server->state.devices[3].inputControls = {control(0, 0.5f, true)};
    runTask(store->refresh());
    QWidget* microphone = row(page, "input-device", "Microphone");
    EXPECT_EQ(find<QLabel>(*microphone, "device-level")->text(), "Input level 50% · Muted");
    EXPECT_EQ(find<QPushButton>(*microphone, "device-repair")->text(), "Restore microphone");
}

}  // namespace
