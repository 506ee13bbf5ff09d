#pragma once

// A store over a scripted server on the test's thread, for the widget tests:
// repairs wait in their pause until the test lets them go on.

#include "audio/run_task.h"
#include "store/doctor_store.h"
#include "support/quiet_listening.h"
#include "support/scripted_audio_system.h"
#include "support/snapshot_fixtures.h"

#include <QApplication>
#include <QDir>
#include <QFuture>
#include <QPromise>
#include <QSettings>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QWidget>

#include <QCoro/QCoroFuture>

#include <gtest/gtest.h>

#include <stdexcept>

namespace sonorel::testing {

// Records what the views asked of the desktop.
struct NoDesktop final : DesktopServices {
    std::vector<std::string> copied;
    std::vector<SettingsPane> opened;
    void copyText(const std::string& text) override { copied.push_back(text); }
    std::optional<QString> chooseReportFile(const QString&) override { return std::nullopt; }
    bool openSettingsPane(SettingsPane pane) override
    {
        opened.push_back(pane);
        return true;
    }
};

// The control exists and would be on screen with `root`.
inline bool shows(QWidget& root, const char* name)
{
    auto* widget = root.findChild<QWidget*>(QLatin1String(name));
    return widget && widget->isVisibleTo(&root);
}

// Light and dark, as a desktop would set them.
inline void usePalette(bool dark)
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette = QApplication::style()->standardPalette();
    if (dark) {
        palette.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
        palette.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
        palette.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
        palette.setColor(QPalette::AlternateBase, QColor(0x33, 0x33, 0x33));
        palette.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
        palette.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
        palette.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xe8));
        palette.setColor(QPalette::Mid, QColor(0x55, 0x55, 0x55));
        // As dark desktop themes do: disabled controls read as disabled.
        for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x80));
    }
    QApplication::setPalette(palette);
}

class StoreFixture : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QSettings settings{dir.filePath("sonorel-doctor.conf"), QSettings::IniFormat};
    NoDesktop desktop;
    ScriptedAudioSystem* server = nullptr;
    std::shared_ptr<QPromise<void>> pauseGate;
    std::unique_ptr<AudioThread> audio;
    std::unique_ptr<DoctorStore> store;
    std::optional<LaunchAtLogin> launchAtLogin;  // set before start() to offer it

    void start(AudioSnapshot initial, bool refreshed = true)
    {
        audio = std::make_unique<AudioThread>(
            [&] {
                auto scripted = std::make_unique<ScriptedAudioSystem>(std::move(initial));
                server = scripted.get();
                return AudioThread::Parts{std::move(scripted), std::make_unique<ScriptedRestarter>(),
                                          [this]() -> QCoro::Task<> {
                                              if (pauseGate)
                                                  co_await pauseGate->future();
                                          }};
            },
            AudioThread::Placement::callerThread);
        StoreServices services;
        services.now = [] { return fixtures::at(786902400); };
        services.desktop = &desktop;
        services.launchAtLogin = launchAtLogin;
        services.tonePlayback = [] { return std::make_unique<InstantPlayback>(); };
        services.microphoneCapture = [] { return std::make_unique<SilentCapture>(); };
        services.microphonePermission = []() -> QCoro::Task<bool> { co_return true; };
        store = std::make_unique<DoctorStore>(*audio, settings, std::move(services), false);
        if (refreshed)
            runTask(store->refresh());
    }
    void TearDown() override
    {
        if (pauseGate)
            pauseGate->finish();
        if (store)
            runTask(store->refresh());
    }

public:
    template <typename T = QWidget>
    static T* find(QWidget& root, const char* name)
    {
        T* found = root.findChild<T*>(QLatin1String(name));
        if (!found)
            throw std::runtime_error(std::string("no control named ") + name);
        return found;
    }
    // `make()`'s widget in both palettes, as NAME-light and NAME-dark; the light palette stays.
    template <typename Make>
    static void screenshots(const QString& name, QSize size, Make make)
    {
        for (const bool dark : {false, true}) {
            usePalette(dark);
            auto widget = make();
            widget->resize(size);
            screenshot(*widget, name + (dark ? QStringLiteral("-dark") : QStringLiteral("-light")));
        }
        usePalette(false);
    }
    // Saved under the build tree, to be looked at.
    static void screenshot(QWidget& widget, const QString& name)
    {
        const QString folder = QStringLiteral(SONOREL_BINARY_DIR "/screenshots");
        QDir().mkpath(folder);
        // Widgets added to a shown window appear through queued calls.
        QApplication::sendPostedEvents();
        widget.ensurePolished();
        for (int pass = 0; pass < 3; ++pass)
            QCoreApplication::processEvents();  // layouts settle as they would on screen
        EXPECT_TRUE(widget.grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png")));
    }
};

}  // namespace sonorel::testing
