#include "views/devices_view.h"

#include "model/text_format.h"
#include "store/doctor_store.h"
#include "views/disclosure_button.h"
#include "views/doctor_theme.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <tuple>

namespace sonorel {

namespace {

using theme::qs;

std::string bufferLine(const AudioDevice& device)
{
    const auto budget = device.latencyMilliseconds();
    return "Buffer: " + (device.bufferFrames ? std::to_string(*device.bufferFrames) + " frames" : "Unavailable")
           + " · Latency budget: " + (budget ? millisecondsText(*budget) : "Unavailable");
}

std::string exclusiveAccessLine(const AudioDevice& device, const AudioSnapshot& snapshot)
{
    if (!device.exclusiveOwnerPID)
        return "Exclusive access: unavailable";
    const ProcessID pid = *device.exclusiveOwnerPID;
    if (pid < 0)
        return "Exclusive access: no owner reported";
    const auto owner = std::find_if(snapshot.clients.begin(), snapshot.clients.end(),
                                    [pid](const AudioClient& client) { return client.pid == pid; });
    const std::string name = owner != snapshot.clients.end() ? owner->name : "Process " + std::to_string(pid);
    return "Exclusive access: " + name
           + ". Close or release this device in that app if needed. Activity alone does not prove a fault.";
}

std::string ratesLine(const AudioDevice& device)
{
    std::string rates;
    for (const auto& range : device.availableRates)
        rates += (rates.empty() ? "" : ", ")
                 + (range.lowerBound == range.upperBound
                        ? kilohertzText(range.lowerBound)
                        : kilohertzNumber(range.lowerBound) + "–" + kilohertzText(range.upperBound));
    return "Supported rates: " + (rates.empty() ? std::string("Unavailable") : rates);
}

std::string controlLine(AudioDirection side, const AudioChannelState& control)
{
    const std::string level = control.volume ? std::to_string(wholePercent(*control.volume)) + "%" : "Level unavailable";
    const std::string mute = !control.isMuted ? "Mute unavailable" : *control.isMuted ? "Muted" : "Unmuted";
    return capitalized(caseName(side)) + " " + elementName(control.element, control.name) + ": " + level + " · " + mute;
}

// No control of the output side can set a volume: the device's own keys or display do.
bool managesOwnVolume(const AudioDevice& device)
{
    const auto controls = device.controls(AudioDirection::output);
    return device.outputChannels > 0
           && std::none_of(controls.begin(), controls.end(), [](const AudioChannelState& c) { return c.canSetVolume; });
}

// Every connector of the device, the one in use and the unplugged ones marked:
// "Ports: Headphones (in use, not plugged in) · Speakers".
std::string portsLine(const AudioDevice& device)
{
    std::string line;
    for (const auto& port : device.ports) {
        std::vector<std::string> marks;
        if (port.name == device.activePort)
            marks.push_back("in use");
        if (port.availability == PortAvailability::unavailable)
            marks.push_back("not plugged in");
        line += (line.empty() ? "Ports: " : " · ") + port.description;
        for (size_t i = 0; i < marks.size(); ++i)
            line += (i == 0 ? " (" : ", ") + marks[i] + (i + 1 == marks.size() ? ")" : "");
    }
    return line;
}

// Muted or at 0 %: nothing is heard, whatever else is right.
bool isSilenced(const AudioDevice& device, AudioDirection side)
{
    const auto level = side == AudioDirection::output ? device.volume : device.inputVolume();
    const auto muted = side == AudioDirection::output ? device.isMuted : device.inputMuted();
    return muted == true || (level && wholePercent(*level) == 0);
}

// "Volume 50%", "Input level 0% · Muted"; empty when the server reports neither.
std::string levelLine(const AudioDevice& device, AudioDirection side)
{
    const bool output = side == AudioDirection::output;
    const auto level = output ? device.volume : device.inputVolume();
    const auto muted = output ? device.isMuted : device.inputMuted();
    if (!level && !muted)
        return {};
    std::string line = output ? "Volume " : "Input level ";
    line += level ? std::to_string(wholePercent(*level)) + "%" : std::string("unavailable");
    return muted == true ? line + " · Muted" : line;
}

// The repair the checks offer for the selected device's own mute or level.
std::optional<RepairAction> levelRepair(const std::vector<DiagnosticCheck>& checks, AudioDirection side)
{
    const CheckKind kind = side == AudioDirection::output ? CheckKind::volume : CheckKind::microphone;
    const RepairAction action = side == AudioDirection::output ? RepairAction::unmute : RepairAction::restoreInput;
    return offers(checks, kind, action) ? std::optional(action) : std::nullopt;
}

std::string subtitle(const AudioDevice& device, AudioDirection side)
{
    if (device.isPlaceholder)
        return "The audio service’s stand-in when no output works: it plays to nothing";
    const int channels = side == AudioDirection::input ? device.inputChannels : device.outputChannels;
    return std::string(label(device.transport)) + " · "
           + (device.sampleRate ? kilohertzText(*device.sampleRate) : "Unavailable") + " · "
           + channelsText(channels);
}


}  // namespace

DeviceDetailsView::DeviceDetailsView(DoctorStore& store, const AudioDevice& device, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("device-details-lines"));
    const AudioSnapshot& snapshot = store.snapshot();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(4);
    const auto line = [&](const std::string& text, const char* name = nullptr) {
        QLabel* note = theme::caption(qs(text), this);
        note->setTextInteractionFlags(Qt::TextSelectableByMouse);
        if (name)
            note->setObjectName(QLatin1String(name));
        layout->addWidget(note);
        return note;
    };
    line(bufferLine(device), "device-buffer");
    line("Device reports; not measured end-to-end latency.", "device-latency-explanation");
    if (device.bufferRange)
        line("Supported device buffer: " + std::to_string(device.bufferRange->lowerBound) + "…"
             + std::to_string(device.bufferRange->upperBound) + " frames");
    line("Overloads on selected output in last two minutes: "
         + (snapshot.outputID == device.id ? std::to_string(snapshot.recentOverloadCount()) : "Not monitored"));
    line("For recurring crackles under load, increase the affected audio app’s supported I/O buffer gradually. This "
         "increases latency. Doctor does not change an app-owned buffer or infer CPU causation.");
    line(exclusiveAccessLine(device, snapshot));
    QFont digits(QStringLiteral("monospace"));
    digits.setStyleHint(QFont::Monospace);
    digits.setPointSizeF(8.5);
    for (const auto& format : device.formats)
        line(capitalized(caseName(format.direction)) + ": " + format.label())->setFont(digits);
    line(ratesLine(device));
    for (const auto side : {AudioDirection::input, AudioDirection::output})
        for (const auto& control : device.controls(side))
            line(controlLine(side, control));
    if (managesOwnVolume(device))
        line("Volume is managed by this device. Use its display, receiver, or hardware controls. An audio service "
             "restart cannot add a missing volume-key control.");
    if (device.transport == AudioTransport::usb || device.transport == AudioTransport::display)
        line("Check the cable/dock, receiver input and speaker mapping. If this output disappears, reconnect it before "
             "selecting it. Inspect supported channels and physical formats in Volume Control; preserve intentional "
             "studio formats.");
    auto* inspect = new QPushButton(QStringLiteral("Inspect in Volume Control"), this);
    inspect->setObjectName(QStringLiteral("inspect-volume-control"));
    connect(inspect, &QPushButton::clicked, this, [&store] { store.openSettingsPane(SettingsPane::volumeControl); });
    layout->addWidget(inspect, 0, Qt::AlignLeft);
}

DevicesView::DevicesView(DoctorStore& store, QWidget* parent) : QWidget(parent), m_store(store)
{
    QVBoxLayout* layout = theme::pageLayout(this, QStringLiteral("page-devices"));
    layout->addWidget(theme::sectionHeading(QStringLiteral("Find the right sound path."),
                                            QStringLiteral("Choose where you listen, and which microphone your "
                                                           "computer uses."),
                                            this));
    layout->addWidget(buildToneRow());
    m_banner = buildBanner();
    layout->addWidget(m_banner);

    const auto section = [&](const QString& title, QWidget* badge) {
        auto* header = new QHBoxLayout;
        header->setSpacing(10);
        header->addWidget(theme::sectionTitle(title, this));
        if (badge)
            header->addWidget(badge);
        header->addStretch();
        auto* box = new QVBoxLayout;
        box->setSpacing(6);
        box->addLayout(header);
        auto* rows = new QVBoxLayout;
        rows->setSpacing(0);
        box->addLayout(rows);
        layout->addLayout(box);
        return rows;
    };
    m_outputs = section(QStringLiteral("Output devices"), nullptr);
    m_inputBadge = new QWidget(this);
    m_inputBadge->setObjectName(QStringLiteral("input-in-use"));
    m_inputBadge->setAccessibleName(QStringLiteral("Input in use"));
    auto* badge = new QHBoxLayout(m_inputBadge);
    badge->setContentsMargins(0, 0, 0, 0);
    badge->setSpacing(4);
    const QColor orange = theme::warningColor(palette());
    badge->addWidget(theme::symbolLabel("mic.fill", orange, 14, m_inputBadge));
    badge->addWidget(theme::label(QStringLiteral("Input in use"), m_inputBadge, orange, 8.5, QFont::DemiBold));
    m_inputs = section(QStringLiteral("Input devices"), m_inputBadge);

    layout->addSpacing(10);
    layout->addWidget(buildTools());
    layout->addWidget(theme::caption(QStringLiteral("Apps with their own audio-device setting can override the system "
                                                    "route. Doctor changes the system default."),
                                     this));
    layout->addStretch();

    connect(&m_store, &DoctorStore::readingChanged, this, &DevicesView::refresh);
    connect(&m_store, &DoctorStore::repairStateChanged, this, &DevicesView::refresh);
    connect(&m_store, &DoctorStore::preferencesChanged, this, &DevicesView::refresh);
    connect(&m_store.tone(), &TestTonePlayer::isPlayingChanged, this, &DevicesView::refreshTone);
    refresh();
}

QWidget* DevicesView::buildToneRow()
{
    auto* box = new QWidget(this);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addWidget(theme::symbolLabel("speaker.wave.2", theme::secondaryText(palette()), 18, box));
    m_toneOutput = new QLabel(box);
    m_toneOutput->setObjectName(QStringLiteral("tone-output"));
    theme::setPointSize(m_toneOutput, m_toneOutput->font().pointSizeF(), QFont::Medium);
    row->addWidget(m_toneOutput, 1);
    m_tone = new QPushButton(box);
    m_tone->setObjectName(QStringLiteral("test-tone"));
    connect(m_tone, &QPushButton::clicked, this, [this] { m_store.playTestTone(); });
    row->addWidget(m_tone);
    column->addLayout(row);
    column->addWidget(theme::caption(QStringLiteral("The quiet two-second test plays a tone on the left, then the "
                                                    "right. On mono devices you’ll hear both from one speaker."),
                                     box));
    return box;
}

QFrame* DevicesView::buildBanner()
{
    auto* banner = new QFrame(this);
    banner->setObjectName(QStringLiteral("preferred-output-banner"));
    banner->setFrameShape(QFrame::StyledPanel);
    auto* row = new QHBoxLayout(banner);
    row->setContentsMargins(14, 12, 12, 12);
    row->setSpacing(12);
    row->addWidget(theme::symbolLabel("headphones", theme::warningColor(palette()), 22, banner), 0, Qt::AlignTop);
    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    m_bannerTitle = new QLabel(banner);
    m_bannerTitle->setObjectName(QStringLiteral("preferred-output-missing"));
    m_bannerTitle->setWordWrap(true);
    theme::setPointSize(m_bannerTitle, m_bannerTitle->font().pointSizeF(), QFont::DemiBold);
    text->addWidget(m_bannerTitle);
    text->addWidget(theme::caption(QStringLiteral("Reconnect it, or clear the preference to follow the system’s "
                                                  "current output."),
                                   banner));
    row->addLayout(text, 1);
    m_bannerBluetooth = new QPushButton(QStringLiteral("Bluetooth settings"), banner);
    m_bannerBluetooth->setObjectName(QStringLiteral("banner-bluetooth-settings"));
    connect(m_bannerBluetooth, &QPushButton::clicked, this,
            [this] { m_store.openSettingsPane(SettingsPane::bluetooth); });
    m_bannerClear = new QPushButton(QStringLiteral("Clear preference"), banner);
    m_bannerClear->setObjectName(QStringLiteral("clear-preference"));
    connect(m_bannerClear, &QPushButton::clicked, this, [this] { m_store.setPreferredOutput(std::nullopt); });
    row->addWidget(m_bannerBluetooth, 0, Qt::AlignVCenter);
    row->addWidget(m_bannerClear, 0, Qt::AlignVCenter);
    return banner;
}

QWidget* DevicesView::buildTools()
{
    const std::tuple<const char*, const char*, const char*, SettingsPane> tools[] = {
        {"Sound settings", "speaker.wave.2", "open-sound-settings", SettingsPane::sound},
        {"Bluetooth settings", "headphones", "open-bluetooth-settings", SettingsPane::bluetooth},
        {"Volume Control", "waveform.path", "open-volume-control", SettingsPane::volumeControl},
    };
    QList<QWidget*> buttons;
    for (const auto& [text, symbol, name, pane] : tools) {
        auto* button = new QPushButton(theme::symbolIcon(symbol, palette().color(QPalette::ButtonText)),
                                       QString::fromUtf8(text), this);
        button->setObjectName(QLatin1String(name));
        const SettingsPane opened = pane;
        connect(button, &QPushButton::clicked, this, [this, opened] { m_store.openSettingsPane(opened); });
        buttons.append(button);
    }
    m_firstTool = buttons.front();
    return theme::buttonRow(this, buttons);
}

void DevicesView::refresh()
{
    refreshTone();
    refreshBanner();
    refreshDevices();
}

void DevicesView::refreshTone()
{
    const AudioDevice* output = m_store.snapshot().outputDevice();
    m_toneOutput->setText(output ? QString::fromStdString(output->name) : QStringLiteral("No output"));
    const bool playing = m_store.tone().isPlaying();
    m_tone->setText(playing ? QStringLiteral("Stop test tone") : QStringLiteral("Play test tone"));
    theme::showSymbol(m_tone, playing ? "stop.fill" : "play.fill", palette().color(QPalette::ButtonText));
    m_tone->setEnabled(!m_store.isFixing() && output);
}

void DevicesView::refreshBanner()
{
    const auto& preferred = m_store.preferredOutput();
    // Only an alive output counts as connected.
    const bool missing = preferred && !m_store.snapshot().connectedOutput(preferred->uid);
    m_banner->setVisible(missing);
    if (!missing)
        return;
    m_bannerTitle->setText(QString::fromStdString(preferred->name) + QStringLiteral(" is disconnected"));
    m_bannerBluetooth->setVisible(preferred->isBluetooth);
}

void DevicesView::refreshDevices()
{
    const AudioSnapshot& snapshot = m_store.snapshot();
    Shown shown{snapshot.devices,
                snapshot.clients,
                snapshot.outputID,
                snapshot.inputID,
                snapshot.isInputActive(),
                snapshot.recentOverloadCount(),
                m_store.isFixing(),
                m_store.preferredOutput()};
    if (m_shown == shown)
        return;
    m_shown = std::move(shown);
    m_inputBadge->setVisible(m_shown->inputActive);
    // Keyboard users keep their place: the same control of the same device, or that row's first.
    QWidget* focused = QApplication::focusWidget();
    QWidget* focusedRow = focused && isAncestorOf(focused) ? focused : nullptr;
    while (focusedRow && !focusedRow->property("uid").isValid())
        focusedRow = focusedRow->parentWidget();
    const QString rowName = focusedRow ? focusedRow->objectName() : QString();
    const QVariant rowUID = focusedRow ? focusedRow->property("uid") : QVariant();
    const QString controlName = focusedRow ? focused->objectName() : QString();
    fillSection(m_outputs, AudioDirection::output,
                QStringLiteral("No output devices are connected. Connect a speaker or headphones."));
    fillSection(m_inputs, AudioDirection::input, QStringLiteral("No input devices are connected."));
    orderTabs();
    if (!focusedRow)
        return;
    for (QWidget* row : findChildren<QWidget*>(rowName)) {
        if (row->property("uid") != rowUID)
            continue;
        QWidget* control = row->findChild<QWidget*>(controlName);
        if (!control || !control->isEnabled())
            control = row->findChild<QWidget*>(QStringLiteral("device-details"));
        control->setFocus(Qt::OtherFocusReason);
    }
}

// Rows are made after the tools below them: Tab follows the page from top to bottom instead.
void DevicesView::orderTabs()
{
    QList<QWidget*> chain{m_tone, m_bannerBluetooth, m_bannerClear};
    for (QVBoxLayout* section : {m_outputs, m_inputs})
        for (int i = 0; i < section->count(); ++i)
            if (QWidget* row = section->itemAt(i)->widget())
                for (QWidget* control : row->findChildren<QWidget*>())
                    if (control->focusPolicy() & Qt::TabFocus)
                        chain.append(control);
    chain.append(m_firstTool);
    for (qsizetype i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
}

void DevicesView::fillSection(QVBoxLayout* section, AudioDirection side, const QString& emptyText)
{
    theme::discardRows(section);
    for (const auto& device : m_store.snapshot().devices) {
        const int channels = side == AudioDirection::input ? device.inputChannels : device.outputChannels;
        if (channels <= 0)
            continue;
        if (section->count() > 0)
            section->addWidget(theme::divider(this, 40));
        section->addWidget(deviceRow(device, side));
    }
    if (section->count() == 0)
        section->addWidget(theme::caption(emptyText, this));
}

QWidget* DevicesView::deviceRow(const AudioDevice& device, AudioDirection side)
{
    const bool output = side == AudioDirection::output;
    const AudioSnapshot& snapshot = m_store.snapshot();
    const bool current = (output ? snapshot.outputID : snapshot.inputID) == device.id;
    auto* row = new QWidget(this);
    row->setObjectName(output ? QStringLiteral("output-device") : QStringLiteral("input-device"));
    row->setAccessibleName(QString::fromStdString(device.name));
    row->setProperty("uid", QString::fromStdString(device.uid));
    auto* column = new QVBoxLayout(row);
    column->setContentsMargins(0, 10, 0, 8);
    column->setSpacing(4);
    auto* top = new QHBoxLayout;
    top->setSpacing(0);
    QLabel* symbol = theme::symbolLabel(output ? device.symbolName() : "mic", theme::secondaryText(palette()), 24, row);
    symbol->setFixedWidth(40);
    top->addWidget(symbol, 0, Qt::AlignTop);

    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    auto* nameRow = new QHBoxLayout;
    nameRow->setSpacing(8);
    auto* name = new QLabel(QString::fromStdString(device.name), row);
    theme::setPointSize(name, 10.5, QFont::DemiBold);
    nameRow->addWidget(name);
    if (current || !device.isAlive) {
        // Selected but silenced is not a state to show in green.
        const CheckState state = current && !isSilenced(device, side) ? CheckState::passed : CheckState::warning;
        QLabel* tag = theme::label(current ? QStringLiteral("Selected") : QStringLiteral("Unavailable"), row,
                                   theme::stateColor(state, palette()), 8.5, QFont::Medium);
        tag->setObjectName(QStringLiteral("device-tag"));
        nameRow->addWidget(tag);
    }
    nameRow->addStretch();
    text->addLayout(nameRow);
    QLabel* detail = theme::label(qs(subtitle(device, side)), row, theme::secondaryText(palette()));
    detail->setObjectName(QStringLiteral("device-subtitle"));
    detail->setWordWrap(true);
    text->addWidget(detail);
    if (const std::string line = levelLine(device, side); !line.empty()) {
        QLabel* level = theme::label(qs(line), row,
                                     isSilenced(device, side) ? theme::warningColor(palette())
                                                              : theme::secondaryText(palette()));
        level->setObjectName(QStringLiteral("device-level"));
        text->addWidget(level);
    }
    if (!device.ports.empty()) {
        QLabel* ports = theme::label(qs(portsLine(device)), row, theme::secondaryText(palette()));
        ports->setObjectName(QStringLiteral("device-ports"));
        ports->setWordWrap(true);
        text->addWidget(ports);
    }
    top->addLayout(text, 1);
    top->addWidget(rowTrailer(device, side, row), 0, Qt::AlignVCenter);
    column->addLayout(top);
    column->addWidget(disclosure(device, row));
    return row;
}

// The star of an output, then "Use output"/"Use input" or the selected mark.
QWidget* DevicesView::rowTrailer(const AudioDevice& device, AudioDirection side, QWidget* row)
{
    auto* trailer = new QWidget(row);
    auto* layout = new QHBoxLayout(trailer);
    layout->setContentsMargins(12, 0, 0, 0);
    layout->setSpacing(8);
    const AudioSnapshot& snapshot = m_store.snapshot();
    const QString name = QString::fromStdString(device.name);
    if (side == AudioDirection::output) {
        const bool preferred = m_store.preferredOutput() && m_store.preferredOutput()->uid == device.uid;
        auto* star = new QToolButton(trailer);
        star->setObjectName(QStringLiteral("prefer-output"));
        star->setAutoRaise(true);
        star->setIcon(preferred ? theme::symbolIcon("star.fill", theme::warningColor(palette()))
                                : theme::symbolIcon("star", theme::secondaryText(palette())));
        star->setToolTip(QStringLiteral("Remember this as your preferred output"));
        star->setAccessibleName(preferred ? QStringLiteral("Clear preferred output ") + name
                                          : QStringLiteral("Prefer ") + name);
        std::optional<PreferredOutput> next;
        if (!preferred)
            next = PreferredOutput{device.uid, device.name, device.transport == AudioTransport::bluetooth};
        connect(star, &QToolButton::clicked, this, [this, next] { m_store.setPreferredOutput(next); });
        layout->addWidget(star);
    }
    const bool current = (side == AudioDirection::output ? snapshot.outputID : snapshot.inputID) == device.id;
    if (current) {
        if (const auto repair = levelRepair(m_store.checks(), side); repair && isSilenced(device, side)) {
            auto* button = new QPushButton(qs(title(*repair)), trailer);
            button->setObjectName(QStringLiteral("device-repair"));
            button->setAccessibleDescription(name);
            button->setEnabled(m_store.canPerform(*repair));
            const RepairAction action = *repair;
            connect(button, &QPushButton::clicked, this, [this, action] { m_store.perform(action); });
            layout->addWidget(button);
        }
        const CheckState state = isSilenced(device, side) ? CheckState::warning : CheckState::passed;
        QLabel* mark = theme::symbolLabel("checkmark.circle.fill", theme::stateColor(state, palette()),
                                          20, trailer);
        mark->setObjectName(QStringLiteral("selected-mark"));
        mark->setAccessibleName(QStringLiteral("Selected"));
        layout->addWidget(mark);
        return trailer;
    }
    const bool input = side == AudioDirection::input;
    auto* use = new QPushButton(input ? QStringLiteral("Use input") : QStringLiteral("Use output"), trailer);
    use->setObjectName(QStringLiteral("use-device"));
    use->setAccessibleDescription(name);
    // A disabled button says why, to the pointer and to screen readers.
    QString why;
    if (m_store.isFixing())
        why = QStringLiteral("Wait for the repair to finish.");
    else if (!device.isAlive)
        why = QStringLiteral("This device is not available.");
    else if (input && snapshot.isInputActive())
        why = QStringLiteral("Finish the call or recording before changing the input.");
    use->setEnabled(why.isEmpty());
    use->setToolTip(why);
    if (!why.isEmpty())
        use->setAccessibleDescription(name + QStringLiteral(": ") + why);
    const std::string uid = device.uid;
    connect(use, &QPushButton::clicked, this, [this, uid, input] {
        if (input)
            m_store.selectInput(uid);
        else
            m_store.selectOutput(uid);
    });
    layout->addWidget(use);
    return trailer;
}

QWidget* DevicesView::disclosure(const AudioDevice& device, QWidget* row)
{
    auto* box = new QWidget(row);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(40, 0, 0, 0);
    layout->setSpacing(0);
    auto* toggle = new DisclosureButton(QStringLiteral("Inspect channels, formats, and buffer"), box);
    toggle->setObjectName(QStringLiteral("device-details"));
    theme::setPointSize(toggle, 8.5);
    layout->addWidget(toggle, 0, Qt::AlignLeft);
    const std::string uid = device.uid;
    const auto show = [this, layout, box, device](bool open) {
        auto* details = box->findChild<DeviceDetailsView*>();
        if (open && !details)
            layout->addWidget(new DeviceDetailsView(m_store, device, box));
        else if (!open)
            delete details;
    };
    const bool open = m_expandedDetails.count(uid) > 0;
    toggle->setOpen(open);
    show(open);
    connect(toggle, &DisclosureButton::openChanged, this, [this, uid, show](bool opened) {
        if (opened)
            m_expandedDetails.insert(uid);
        else
            m_expandedDetails.erase(uid);
        show(opened);
        orderTabs();
    });
    return box;
}

}  // namespace sonorel
