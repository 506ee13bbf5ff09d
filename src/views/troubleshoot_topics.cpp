#include "views/troubleshoot_topics.h"

#include "model/text_format.h"
#include "store/doctor_store.h"
#include "views/compare_topic.h"
#include "views/disclosure_button.h"
#include "views/doctor_theme.h"
#include "views/level_meter.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLocale>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace sonorel {

using theme::qs;

TroubleshootTopic focusTopic(RepairIntent intent)
{
    return casesOf(troubleshootTopicNames)[size_t(intent)];
}

std::optional<std::string> balanceText(std::optional<float> balance)
{
    if (!balance || !std::isfinite(*balance))
        return std::nullopt;
    const auto percent = long(std::lround(std::fabs(double(*balance) - 0.5) * 200));
    if (percent == 0)
        return "Balance: centered";
    return "Balance: " + std::to_string(percent) + "% toward the " + (*balance < 0.5f ? "left" : "right");
}

std::string channelRowText(const AudioChannelState& channel, AudioDirection side)
{
    std::string text = channel.element != 0             ? elementName(channel.element, channel.name)
                       : side == AudioDirection::input ? "Input level"
                                                        : "Volume";
    text += ": ";
    text += channel.volume && std::isfinite(*channel.volume) ? std::to_string(wholePercent(*channel.volume)) + "%"
                                                              : "Level unavailable";
    text += " · ";
    text += !channel.isMuted ? "Mute unavailable" : *channel.isMuted ? "Muted" : "Unmuted";
    return text;
}

namespace {

const DiagnosticCheck* checkOf(const DoctorStore& store, CheckKind kind)
{
    for (const auto& check : store.checks())
        if (check.kind == kind)
            return &check;
    return nullptr;
}

bool offers(const DoctorStore& store, CheckKind kind, RepairAction action)
{
    return offers(store.checks(), kind, action);
}

bool needsAttention(const DoctorStore& store, CheckKind kind)
{
    const DiagnosticCheck* check = checkOf(store, kind);
    return check && (check->state == CheckState::issue || check->state == CheckState::warning);
}

bool isBluetoothOutput(const AudioSnapshot& snapshot)
{
    const AudioDevice* output = snapshot.outputDevice();
    return output && output->transport == AudioTransport::bluetooth;
}

QString shortDateTime(Date date)
{
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
    return QLocale().toString(QDateTime::fromMSecsSinceEpoch(milliseconds), QLocale::ShortFormat);
}

// The base of the seven topics: built once, then kept current from the
// store, so focus and open disclosures survive every refresh.
class TopicView : public QWidget {
public:
    TopicView(DoctorStore& store, bool emphasized, QWidget* parent) : QWidget(parent), m_store(store), m_emphasized(emphasized)
    {
        m_layout = new QVBoxLayout(this);
        m_layout->setContentsMargins(0, 4, 0, 4);
        m_layout->setSpacing(8);
        const auto update = [this] { refresh(); };
        for (auto signal : {&DoctorStore::readingChanged, &DoctorStore::repairStateChanged,
                            &DoctorStore::preferencesChanged, &DoctorStore::comparisonChanged})
            connect(&m_store, signal, this, update);
        connect(&m_store.tone(), &TestTonePlayer::isPlayingChanged, this, update);
        connect(&m_store.microphone(), &MicrophoneLevelTester::changed, this, update);
    }

protected:
    virtual void refresh() = 0;

    QLabel* headline()
    {
        auto* text = new QLabel(this);
        theme::setPointSize(text, 10, QFont::DemiBold);
        text->setWordWrap(true);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_layout->addWidget(text);
        return text;
    }
    QLabel* secondary(const QString& text = {}, qreal points = 9.5)
    {
        auto* label = theme::label(text, this, theme::secondaryText(palette()), points);
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_layout->addWidget(label);
        return label;
    }
    QLabel* caption(const QString& text) { return secondary(text, 8.5); }
    QHBoxLayout* buttonRow()
    {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        m_layout->addLayout(row);
        m_rows.push_back(row);
        return row;
    }
    TopicButton* topicButton(QHBoxLayout* row, const QString& title, const char* identifier, std::function<void()> action)
    {
        auto* button = new TopicButton(title, identifier, this);
        connect(button, &QPushButton::clicked, this, std::move(action));
        row->addWidget(button);
        return button;
    }
    QPushButton* plainButton(QHBoxLayout* row, const QString& title, std::function<void()> action)
    {
        auto* button = new QPushButton(title, this);
        connect(button, &QPushButton::clicked, this, std::move(action));
        row->addWidget(button);
        return button;
    }
    QPushButton* paneButton(QHBoxLayout* row, const QString& title, SettingsPane pane)
    {
        return plainButton(row, title, [this, pane] { m_store.openSettingsPane(pane); });
    }
    void moreAbout(const QString& text)
    {
        m_more = new MoreAbout(this);
        m_more->setText(text);
        m_layout->addWidget(m_more);
    }
    // Rows end in a stretch once their buttons are in.
    void finish()
    {
        for (auto* row : m_rows)
            row->addStretch();
        refresh();
    }
    void playTone() { m_store.playTestTone(); }
    // A repair runs from here; the button is disabled while one runs anyway.
    void run(RepairAction action) { m_store.perform(action); }

    DoctorStore& m_store;
    const bool m_emphasized;
    QVBoxLayout* m_layout = nullptr;
    MoreAbout* m_more = nullptr;
    std::vector<QHBoxLayout*> m_rows;
};

// Labels under a headline that come and go with the reading.
class LineList final : public QWidget {
public:
    explicit LineList(QWidget* parent) : QWidget(parent)
    {
        m_layout = new QVBoxLayout(this);
        m_layout->setContentsMargins(0, 0, 0, 0);
        m_layout->setSpacing(2);
    }
    void setLines(const QStringList& lines)
    {
        if (lines == m_lines)
            return;
        m_lines = lines;
        qDeleteAll(findChildren<QLabel*>(Qt::FindDirectChildrenOnly));
        for (const auto& line : lines) {
            auto* label = new QLabel(line, this);
            label->setWordWrap(true);
            label->setTextInteractionFlags(Qt::TextSelectableByMouse);
            m_layout->addWidget(label);
        }
        setVisible(!lines.isEmpty());
    }

private:
    QVBoxLayout* m_layout = nullptr;
    QStringList m_lines;
};

QStringList channelRows(const std::vector<AudioChannelState>& controls, AudioDirection side)
{
    QStringList rows;
    for (const auto& channel : controls)
        rows << qs(channelRowText(channel, side));
    return rows;
}

class OutputTopic final : public TopicView {
public:
    OutputTopic(DoctorStore& store, bool emphasized, QWidget* parent) : TopicView(store, emphasized, parent)
    {
        m_name = headline();
        // Why nothing plays (the stand-in output, a card turned off, an unplugged connector).
        m_detail = new CheckDetail(CheckKind::output, this);
        m_layout->addWidget(m_detail);
        QHBoxLayout* row = buttonRow();
        m_restoreSound = topicButton(row, QStringLiteral("Restore sound"), "output-restore-sound",
                                     [this] { run(RepairAction::unmute); });
        m_restoreOutput = topicButton(row, QStringLiteral("Restore output"), "output-restore-output",
                                      [this] { run(RepairAction::restoreOutput); });
        m_turnOn = topicButton(row, qs(title(RepairAction::turnOnOutput)), "output-turn-on",
                               [this] { run(RepairAction::turnOnOutput); });
        m_switchPort = topicButton(row, qs(title(RepairAction::switchOutputPort)), "output-switch-port",
                                   [this] { run(RepairAction::switchOutputPort); });
        m_tone = topicButton(row, {}, "output-test-tone", [this] { playTone(); });
        plainButton(row, QStringLiteral("Choose another output"), [this] { m_store.setSelectedPage(DoctorPage::devices); });
        paneButton(row, QStringLiteral("Sound settings"), SettingsPane::sound);
        caption(QStringLiteral("If you hear the test tone, the computer’s sound works and the problem is in the app you "
                               "were using."));
        moreAbout(QStringLiteral(
            "Displays, TVs, and some audio interfaces control their own volume, so check the volume on the device itself "
            "and that it is set to the right input. A virtual output is silent until the app that owns it passes sound "
            "along. If nothing here explains the silence, Quick Fix restarts the computer’s sound service."));
        finish();
    }

private:
    void refresh() override
    {
        const AudioDevice* output = m_store.snapshot().outputDevice();
        const bool fixing = m_store.isFixing();
        m_name->setText(output ? qs(output->name) : QStringLiteral("No output selected"));
        m_detail->refresh(m_store);
        m_detail->setVisible(needsAttention(m_store, CheckKind::output));
        const bool sound = offers(m_store, CheckKind::volume, RepairAction::unmute);
        m_restoreSound->setVisible(sound);
        m_restoreSound->setProminent(m_emphasized);
        m_restoreSound->setEnabled(m_store.canPerform(RepairAction::unmute));
        // The output row offers at most one of these.
        bool restore = false;
        for (auto [button, action] : {std::pair{m_restoreOutput, RepairAction::restoreOutput},
                                      std::pair{m_turnOn, RepairAction::turnOnOutput},
                                      std::pair{m_switchPort, RepairAction::switchOutputPort}}) {
            const bool offered = offers(m_store, CheckKind::output, action);
            restore = restore || offered;
            button->setVisible(offered);
            button->setProminent(m_emphasized && !sound);
            button->setEnabled(m_store.canPerform(action));
        }
        m_tone->setText(m_store.tone().isPlaying() ? QStringLiteral("Stop tone") : QStringLiteral("Play test tone"));
        m_tone->setProminent(m_emphasized && !sound && !restore);
        m_tone->setEnabled(!fixing && output);
    }

    QLabel* m_name = nullptr;
    CheckDetail* m_detail = nullptr;
    TopicButton* m_restoreSound = nullptr;
    TopicButton* m_restoreOutput = nullptr;
    TopicButton* m_turnOn = nullptr;
    TopicButton* m_switchPort = nullptr;
    TopicButton* m_tone = nullptr;
};

QString routeText(const AudioSnapshot& snapshot, const std::vector<AudioObjectID>& ids, bool running)
{
    const auto names = snapshot.deviceNames(ids);
    if (names.empty())
        return running ? QStringLiteral("Active, route unavailable") : QStringLiteral("None reported");
    QStringList shown;
    for (const auto& name : names)
        shown << qs(name);
    return shown.join(QStringLiteral(", "));
}

// An app's own stream as its mixer shows it: "In the mixer: HDMI · 40% · muted".
QString mixerText(const AudioSnapshot& snapshot, const AppStream& stream)
{
    const AudioDevice* output = snapshot.device(stream.outputID);
    return QStringLiteral("In the mixer: ") + (output ? qs(output->name) : QStringLiteral("no output"))
           + QStringLiteral(" · %1%").arg(wholePercent(stream.volume))
           + (stream.isMuted ? QStringLiteral(" · muted") : QString())
           + (stream.isCorked ? QStringLiteral(" · paused") : QString());
}

// One row per app: the clients using audio, then apps whose streams are all paused.
QStringList audioUserLines(const AudioSnapshot& snapshot)
{
    QStringList lines;
    std::vector<const AppStream*> shown;
    auto streamsOf = [&](ProcessID pid, const std::string& name) {
        QString text;
        for (const auto& stream : snapshot.appStreams)
            if (stream.appName == name && (stream.pid == pid || stream.pid == 0)) {
                text += QLatin1Char('\n') + mixerText(snapshot, stream);
                shown.push_back(&stream);
            }
        return text;
    };
    for (const auto& client : snapshot.clients) {
        QString line = qs(client.name) + QLatin1Char('\n') + QStringLiteral("Input: ")
                       + routeText(snapshot, client.inputDeviceIDs, client.isRunningInput)
                       + QStringLiteral(" · Output: ")
                       + routeText(snapshot, client.outputDeviceIDs, client.isRunningOutput);
        if (const auto captured = snapshot.deviceNames(client.capturedOutputIDs); !captured.empty())
            line += QStringLiteral(" · Records what ") + qs(namesText(captured)) + QStringLiteral(" plays");
        lines << line + streamsOf(client.pid, client.name);
    }
    for (const auto& stream : snapshot.appStreams)
        if (std::find(shown.begin(), shown.end(), &stream) == shown.end())
            lines << qs(stream.appName) + QLatin1Char('\n') + mixerText(snapshot, stream);
    return lines;
}

class AudioUsersTopic final : public TopicView {
public:
    AudioUsersTopic(DoctorStore& store, bool emphasized, QWidget* parent) : TopicView(store, emphasized, parent)
    {
        m_unknown = secondary(QStringLiteral("Some app activity is unavailable. Close calls or recording apps yourself "
                                             "before a repair that interrupts sound."),
                              8.5);
        QPalette orange = m_unknown->palette();
        orange.setColor(QPalette::WindowText, theme::stateColor(CheckState::warning, palette()));
        m_unknown->setPalette(orange);
        m_clients = new QWidget(this);
        m_clientRows = new QVBoxLayout(m_clients);
        m_clientRows->setContentsMargins(0, 0, 0, 0);
        m_clientRows->setSpacing(1);
        m_layout->addWidget(m_clients);
        QHBoxLayout* row = buttonRow();
        m_reselect = topicButton(row, QStringLiteral("Reselect connected headphones"), "reselect-headphones",
                                 [this] { run(RepairAction::reselectOutput); });
        m_note = caption(QStringLiteral("These apps are using your speakers or microphone. That alone does not show "
                                        "which one is at fault."));
        moreAbout({});
        finish();
    }

private:
    void refresh() override
    {
        const AudioSnapshot& snapshot = m_store.snapshot();
        m_unknown->setVisible(!snapshot.clientActivityKnown);
        const QStringList lines = audioUserLines(snapshot);
        if (lines != m_shown) {
            m_shown = lines;
            qDeleteAll(m_clients->findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
            if (lines.empty())
                m_clientRows->addWidget(new QLabel(QStringLiteral("No apps are using audio right now."), m_clients));
            for (const auto& line : lines) {
                const auto name = line.section(QLatin1Char('\n'), 0, 0);
                auto* title = new QLabel(name, m_clients);
                theme::setPointSize(title, 10, QFont::DemiBold);
                auto* routes = theme::label(line.section(QLatin1Char('\n'), 1), m_clients,
                                            theme::secondaryText(palette()), 8.5);
                routes->setWordWrap(true);
                routes->setContentsMargins(0, 0, 0, 6);
                m_clientRows->addWidget(title);
                m_clientRows->addWidget(routes);
            }
        }
        const bool bluetooth = isBluetoothOutput(snapshot);
        m_reselect->setVisible(bluetooth);
        m_reselect->setProminent(m_emphasized);
        m_reselect->setEnabled(m_store.canPerform(RepairAction::reselectOutput));
        m_note->setVisible(!snapshot.clients.empty());
        m_more->setText(QStringLiteral("Doctor sees each app’s own volume, mute and output in the mixer, but not individual "
                                       "browser tabs.")
                        + (bluetooth ? QStringLiteral(" Before reselecting headphones, finish any call or recording. The "
                                                      "computer’s speakers stay muted during the switch. Reconnect missing "
                                                      "headphones in Bluetooth settings.")
                                     : QString()));
    }

    QLabel* m_unknown = nullptr;
    QWidget* m_clients = nullptr;
    QVBoxLayout* m_clientRows = nullptr;
    QStringList m_shown{QStringLiteral("-")};
    TopicButton* m_reselect = nullptr;
    QLabel* m_note = nullptr;
};

class BluetoothTopic final : public TopicView {
public:
    BluetoothTopic(DoctorStore& store, bool emphasized, QWidget* parent) : TopicView(store, emphasized, parent)
    {
        m_name = headline();
        m_detail = new CheckDetail(CheckKind::bluetooth, this);
        m_layout->addWidget(m_detail);
        m_notPlaying = secondary(QStringLiteral("Sound is not playing through Bluetooth headphones right now. Connect them "
                                                "and choose them as the output first."));
        QHBoxLayout* row = buttonRow();
        m_useBuiltIn = topicButton(row, QStringLiteral("Use built-in microphone"), "bluetooth-use-mac-microphone",
                                   [this] { run(RepairAction::useBuiltInMic); });
        m_reselect = topicButton(row, QStringLiteral("Reselect connected headphones"), "bluetooth-reselect",
                                 [this] { run(RepairAction::reselectOutput); });
        paneButton(row, QStringLiteral("Bluetooth settings"), SettingsPane::bluetooth)
            ->setObjectName(QStringLiteral("bluetooth-settings"));
        m_promise = caption(QStringLiteral("Headphones sound muffled while their own microphone is in use. Using the "
                                           "built-in microphone gives the music its full quality back."));
        moreAbout(QStringLiteral("Finish any call or recording before switching the microphone or reselecting the "
                                 "headphones. The computer’s speakers stay muted during a reselect. Doctor cannot re-pair "
                                 "headphones or measure signal strength; reconnect missing headphones in Bluetooth "
                                 "settings."));
        finish();
    }

private:
    void refresh() override
    {
        const AudioSnapshot& snapshot = m_store.snapshot();
        const bool bluetooth = isBluetoothOutput(snapshot);
        m_name->setVisible(bluetooth);
        m_detail->setVisible(bluetooth);
        m_notPlaying->setVisible(!bluetooth);
        if (bluetooth)
            m_name->setText(qs(snapshot.outputDevice()->name));
        m_detail->refresh(m_store);
        const bool microphone = offers(m_store, CheckKind::bluetooth, RepairAction::useBuiltInMic);
        m_useBuiltIn->setVisible(microphone);
        m_useBuiltIn->setProminent(m_emphasized);
        m_useBuiltIn->setEnabled(m_store.canPerform(RepairAction::useBuiltInMic));
        // In call mode without a high-fidelity mode to go to, no switch restores quality: nothing promises it.
        const AudioDevice* output = snapshot.outputDevice();
        const AudioCard* card = output ? snapshot.cardOf(*output) : nullptr;
        const bool stuck = bluetooth && card && snapshot.isInCallMode(*output) && !card->bestHighFidelityProfile();
        m_reselect->setVisible(bluetooth && !stuck);
        m_reselect->setProminent(m_emphasized && !microphone);
        m_reselect->setEnabled(m_store.canPerform(RepairAction::reselectOutput));
        m_promise->setVisible(!stuck);
    }

    QLabel* m_name = nullptr;
    CheckDetail* m_detail = nullptr;
    QLabel* m_notPlaying = nullptr;
    TopicButton* m_useBuiltIn = nullptr;
    TopicButton* m_reselect = nullptr;
    QLabel* m_promise = nullptr;
};

class MicrophoneTopic final : public TopicView {
public:
    MicrophoneTopic(DoctorStore& store, bool emphasized, QWidget* parent) : TopicView(store, emphasized, parent)
    {
        m_name = headline();
        m_channels = new LineList(this);
        m_layout->addWidget(m_channels);
        // What keeps the microphone silent: an unplugged jack, the hardware held by another program.
        m_problems = new LineList(this);
        m_layout->addWidget(m_problems);
        QHBoxLayout* row = buttonRow();
        m_switchPort = topicButton(row, qs(title(RepairAction::switchInputPort)), "microphone-switch-port",
                                   [this] { run(RepairAction::switchInputPort); });
        m_restore = topicButton(row, QStringLiteral("Restore microphone"), "restore-microphone",
                                [this] { run(RepairAction::restoreInput); });
        m_test = topicButton(row, {}, "microphone-test", [this] {
            if (isTesting())
                m_store.microphone().stop();
            else
                m_store.startMicrophoneTest();
        });
        paneButton(row, QStringLiteral("Microphone permissions"), SettingsPane::microphonePrivacy);
        paneButton(row, QStringLiteral("Input level settings"), SettingsPane::sound);
        m_level = new LevelMeter(this);
        m_level->setObjectName(QStringLiteral("microphone-level"));
        m_level->setAccessibleName(QStringLiteral("Microphone level"));
        m_layout->addWidget(m_level);
        m_peak = caption({});
        m_peak->setObjectName(QStringLiteral("microphone-peak"));
        // The result is what the user came for: a line of body text, not a caption.
        m_detail = new QLabel(this);
        m_detail->setWordWrap(true);
        m_detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_detail->setObjectName(QStringLiteral("microphone-detail"));
        m_layout->addWidget(m_detail);
        moreAbout(QStringLiteral("The test asks for Doctor’s own microphone permission and measures level without saving "
                                 "audio. Other apps need their own permission. If the microphone is quiet but not silent, "
                                 "raise the input level in Sound settings and test again."));
        finish();
    }

private:
    bool isTesting() const
    {
        const auto state = m_store.microphone().state();
        return state == MicrophoneLevelTester::State::requesting || state == MicrophoneLevelTester::State::listening;
    }

    void refresh() override
    {
        const AudioSnapshot& snapshot = m_store.snapshot();
        const AudioDevice* input = snapshot.inputDevice();
        m_name->setText(input ? qs(input->name) : QStringLiteral("No microphone selected"));
        m_channels->setLines(input ? channelRows(input->inputControls, AudioDirection::input) : QStringList());
        QStringList problems;
        for (CheckKind kind : {CheckKind::microphone, CheckKind::deviceAccess})
            if (needsAttention(m_store, kind))
                problems << qs(checkOf(m_store, kind)->detail);
        m_problems->setLines(problems);
        const bool switchPort = offers(m_store, CheckKind::microphone, RepairAction::switchInputPort);
        m_switchPort->setVisible(switchPort);
        m_switchPort->setProminent(m_emphasized);
        m_switchPort->setEnabled(m_store.canPerform(RepairAction::switchInputPort));
        const bool restore = offers(m_store, CheckKind::microphone, RepairAction::restoreInput);
        m_restore->setVisible(restore);
        m_restore->setProminent(m_emphasized);
        m_restore->setEnabled(m_store.canPerform(RepairAction::restoreInput));
        m_test->setText(isTesting() ? QStringLiteral("Stop microphone test") : QStringLiteral("Test microphone · 10 seconds"));
        m_test->setProminent(m_emphasized && !restore && !switchPort);
        m_test->setEnabled(!m_store.isFixing());

        const MicrophoneLevelTester& tester = m_store.microphone();
        const bool listening = tester.state() == MicrophoneLevelTester::State::listening;
        const bool measurable = std::isfinite(tester.level()) && std::isfinite(tester.peak());
        m_level->setVisible(listening);
        m_peak->setVisible(listening && measurable);
        if (listening && measurable) {
            m_level->setLevels(tester.level(), tester.peak());
            const double peak = decibelsOf(tester.peak());
            const QString band = peak < LevelMeter::targetLow    ? QStringLiteral("quieter than speech should be")
                                 : peak > LevelMeter::targetHigh ? QStringLiteral("louder than speech should be")
                                                                  : QStringLiteral("where speech should be");
            m_peak->setText(QStringLiteral("Level %1 · Peak %2, %3 · Clipped samples: %4")
                                .arg(decibelsText(decibelsOf(tester.level())), decibelsText(peak), band)
                                .arg(tester.clippedSamples()));
            m_level->setAccessibleDescription(m_peak->text());
        } else {
            m_level->setLevels(0, 0);
            m_level->setAccessibleDescription({});
        }
        m_detail->setText(qs(tester.detail()));
        m_detail->setVisible(!tester.detail().empty());
    }

    QLabel* m_name = nullptr;
    LineList* m_channels = nullptr;
    LineList* m_problems = nullptr;
    TopicButton* m_switchPort = nullptr;
    TopicButton* m_restore = nullptr;
    TopicButton* m_test = nullptr;
    LevelMeter* m_level = nullptr;
    QLabel* m_peak = nullptr;
    QLabel* m_detail = nullptr;
};

class StereoTopic final : public TopicView {
public:
    StereoTopic(DoctorStore& store, bool emphasized, QWidget* parent) : TopicView(store, emphasized, parent)
    {
        m_balance = new LineList(this);
        m_balance->setObjectName(QStringLiteral("stereo-balance"));
        m_layout->addWidget(m_balance);
        QHBoxLayout* row = buttonRow();
        m_restore = topicButton(row, QStringLiteral("Restore stereo"), "restore-stereo",
                                [this] { run(RepairAction::restoreStereo); });
        m_tone = topicButton(row, {}, "stereo-test", [this] { playTone(); });
        paneButton(row, QStringLiteral("Speaker mapping"), SettingsPane::volumeControl);
        caption(QStringLiteral("The quiet test plays a tone on the left, then the right."));
        moreAbout(QStringLiteral("Restore stereo centers the balance and turns silent channels back on. Use it for "
                                 "unexpected one-sided sound. Playback Quick Fix leaves an intentional balance alone."));
        finish();
    }

private:
    void refresh() override
    {
        const AudioDevice* output = m_store.snapshot().outputDevice();
        QStringList lines;
        if (output) {
            if (auto text = balanceText(output->balance))
                lines << qs(*text);
            lines << channelRows(output->outputControls, AudioDirection::output);
        }
        m_balance->setLines(lines);
        const bool restore = offers(m_store, CheckKind::stereo, RepairAction::restoreStereo);
        m_restore->setVisible(restore);
        m_restore->setProminent(m_emphasized);
        m_restore->setEnabled(m_store.canPerform(RepairAction::restoreStereo));
        m_tone->setText(m_store.tone().isPlaying() ? QStringLiteral("Stop tone") : QStringLiteral("Quiet left/right test"));
        m_tone->setProminent(m_emphasized && !restore);
        m_tone->setEnabled(!m_store.isFixing() && output);
    }

    LineList* m_balance = nullptr;
    TopicButton* m_restore = nullptr;
    TopicButton* m_tone = nullptr;
};

class AlertsTopic final : public TopicView {
public:
    AlertsTopic(DoctorStore& store, bool emphasized, QWidget* parent) : TopicView(store, emphasized, parent)
    {
        m_routes = new QLabel(this);
        m_routes->setObjectName(QStringLiteral("alerts-routes"));
        m_routes->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_layout->addWidget(m_routes);
        QHBoxLayout* row = buttonRow();
        m_align = topicButton(row, QStringLiteral("Use listening output for alerts"), "align-alerts",
                              [this] { run(RepairAction::alignAlerts); });
        m_notifications = topicButton(row, QStringLiteral("Notifications settings"), "alerts-notifications",
                                      [this] { m_store.openSettingsPane(SettingsPane::notifications); });
        paneButton(row, QStringLiteral("Alert volume"), SettingsPane::sound);
        moreAbout(QStringLiteral("When music works but alerts do not, check the alert volume, Do Not Disturb, and the "
                                 "app’s own notification permission and sound setting. A separate alerts output can be "
                                 "intentional."));
        finish();
    }

private:
    void refresh() override
    {
        const AudioSnapshot& snapshot = m_store.snapshot();
        const AudioDevice* media = snapshot.outputDevice();
        const AudioDevice* alerts = snapshot.systemOutputDevice();
        m_routes->setText(QStringLiteral("Media: ") + (media ? qs(media->name) : QStringLiteral("None"))
                          + QStringLiteral("\nAlerts: ") + (alerts ? qs(alerts->name) : QStringLiteral("Unavailable")));
        const bool align = offers(m_store, CheckKind::alerts, RepairAction::alignAlerts);
        m_align->setVisible(align);
        m_align->setProminent(m_emphasized);
        m_align->setEnabled(m_store.canPerform(RepairAction::alignAlerts));
        m_notifications->setProminent(m_emphasized && !align);
    }

    QLabel* m_routes = nullptr;
    TopicButton* m_align = nullptr;
    TopicButton* m_notifications = nullptr;
};

class AfterWakeTopic final : public TopicView {
public:
    AfterWakeTopic(DoctorStore& store, bool emphasized, QWidget* parent) : TopicView(store, emphasized, parent)
    {
        m_facts = new QLabel(this);
        m_facts->setObjectName(QStringLiteral("after-wake-facts"));
        m_facts->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_layout->addWidget(m_facts);
        QHBoxLayout* row = buttonRow();
        m_restore = topicButton(row, QStringLiteral("Restore working output"), "restore-working-output",
                                [this] { run(RepairAction::restoreLastOutput); });
        m_confirm = topicButton(row, QStringLiteral("This output sounds good"), "confirm-working-output",
                                [this] { m_store.confirmWorkingOutput(); });
        caption(QStringLiteral("Doctor saves a working output only when you confirm you can hear it."));
        moreAbout(QStringLiteral("Reconnect missing devices first. Some apps remember their own output and need it "
                                 "chosen again after the computer wakes."));
        finish();
    }

private:
    void refresh() override
    {
        const AudioSnapshot& snapshot = m_store.snapshot();
        const auto& working = m_store.lastWorkingOutput();
        const auto wake = m_store.lastWake();
        m_facts->setText(QStringLiteral("Last wake: ") + (wake ? shortDateTime(*wake) : QStringLiteral("Not observed"))
                         + QStringLiteral("\nConfirmed working output: ")
                         + (working ? qs(working->name) : QStringLiteral("Not yet confirmed")));
        const AudioDevice* output = snapshot.outputDevice();
        const bool connected = working && snapshot.connectedOutput(working->uid);
        const bool restoreNeeded = connected && (!output || output->uid != working->uid);
        const bool fixing = m_store.isFixing();
        m_restore->setVisible(working.has_value());
        m_restore->setProminent(m_emphasized && restoreNeeded);
        m_restore->setEnabled(m_store.canPerform(RepairAction::restoreLastOutput) && connected);
        m_confirm->setProminent(m_emphasized && !restoreNeeded);
        m_confirm->setEnabled(!fixing && output);
    }

    QLabel* m_facts = nullptr;
    TopicButton* m_restore = nullptr;
    TopicButton* m_confirm = nullptr;
};

}  // namespace

std::string topicSummary(TroubleshootTopic topic, const DoctorStore& store)
{
    const AudioSnapshot& snapshot = store.snapshot();
    const AudioDevice* output = snapshot.outputDevice();
    switch (topic) {
    case TroubleshootTopic::output:
        return output ? output->name : "No output selected";
    case TroubleshootTopic::audioUsers: {
        const size_t count = snapshot.clients.size();
        return count == 0 ? "No apps using audio"
               : count == 1 ? "1 app using audio"
                            : std::to_string(count) + " apps using audio";
    }
    case TroubleshootTopic::bluetooth: {
        if (!isBluetoothOutput(snapshot))
            return "Not in use";
        const DiagnosticCheck* check = checkOf(store, CheckKind::bluetooth);
        return check ? std::string(label(check->state)) : "Connected";
    }
    case TroubleshootTopic::microphone: {
        const AudioDevice* input = snapshot.inputDevice();
        return input ? input->name : "No microphone selected";
    }
    case TroubleshootTopic::stereo: {
        const auto text = output ? balanceText(output->balance) : std::nullopt;
        return text.value_or("Balance unavailable");
    }
    case TroubleshootTopic::alerts: {
        const AudioDevice* alerts = snapshot.systemOutputDevice();
        return "Alerts: " + (alerts ? alerts->name : std::string("Unavailable"));
    }
    case TroubleshootTopic::afterWake: {
        const auto& working = store.lastWorkingOutput();
        return working ? "Confirmed: " + working->name : "No output confirmed yet";
    }
    case TroubleshootTopic::compare: {
        const auto reference = store.isolation().reference;
        return reference == AppIsolation::Result::notTested ? "Not tested"
                                                            : "Doctor’s tone: " + std::string(label(reference));
    }
    }
    return {};
}

TopicButton::TopicButton(const QString& title, const char* identifier, QWidget* parent) : QPushButton(title, parent)
{
    setObjectName(QLatin1String(identifier));
}

void TopicButton::setProminent(bool prominent)
{
    if (prominent == m_prominent)
        return;
    m_prominent = prominent;
    if (prominent) {
        theme::makePrimary(this);
    } else {
        setProperty("primary", false);
        setStyleSheet({});
    }
}

MoreAbout::MoreAbout(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    m_toggle = new DisclosureButton(QStringLiteral("More about this"), this);
    m_toggle->setObjectName(QStringLiteral("more-about"));
    theme::setPointSize(m_toggle, 9.5);
    m_text = theme::label({}, this, theme::secondaryText(palette()), 9.5);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->hide();
    layout->addWidget(m_toggle, 0, Qt::AlignLeft);
    layout->addWidget(m_text);
    connect(m_toggle, &DisclosureButton::openChanged, m_text, &QLabel::setVisible);
}

void MoreAbout::setText(const QString& text)
{
    m_text->setText(text);
}

CheckDetail::CheckDetail(CheckKind kind, QWidget* parent) : QLabel(parent), m_kind(kind)
{
    setWordWrap(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    theme::setPointSize(this, 9.5);
    QPalette secondary = palette();
    secondary.setColor(QPalette::WindowText, theme::secondaryText(secondary));
    setPalette(secondary);
}

void CheckDetail::refresh(const DoctorStore& store)
{
    const DiagnosticCheck* check = checkOf(store, m_kind);
    setText(check ? qs(check->detail) : QStringLiteral("Check again."));
}

TroubleshootTopicContent::TroubleshootTopicContent(DoctorStore& store, TroubleshootTopic topic, bool emphasized,
                                                   QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    QWidget* view = nullptr;
    switch (topic) {
    case TroubleshootTopic::output:
        view = new OutputTopic(store, emphasized, this);
        break;
    case TroubleshootTopic::audioUsers:
        view = new AudioUsersTopic(store, emphasized, this);
        break;
    case TroubleshootTopic::bluetooth:
        view = new BluetoothTopic(store, emphasized, this);
        break;
    case TroubleshootTopic::microphone:
        view = new MicrophoneTopic(store, emphasized, this);
        break;
    case TroubleshootTopic::stereo:
        view = new StereoTopic(store, emphasized, this);
        break;
    case TroubleshootTopic::alerts:
        view = new AlertsTopic(store, emphasized, this);
        break;
    case TroubleshootTopic::afterWake:
        view = new AfterWakeTopic(store, emphasized, this);
        break;
    case TroubleshootTopic::compare:
        view = new CompareTopic(store, emphasized, this);
        break;
    }
    layout->addWidget(view);
}

}  // namespace sonorel
