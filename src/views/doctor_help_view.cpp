#include "views/doctor_help_view.h"

#include "store/doctor_store.h"
#include "views/doctor_theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace sonorel {

const DoctorHelpView::Topic DoctorHelpView::topics[9] = {
    {"Crackling, clicks, and pops", "waveform.path.ecg",
     "Start with Playback Quick Fix. Doctor repairs detected configuration faults and rechecks after each step. On a "
     "connected Bluetooth output it can gently reselect headphones through a muted temporary output. Otherwise Doctor "
     "restarts the audio service. Recovery of a device does not prove crackling stopped. Compare Doctor’s quiet tone "
     "with the affected app in Troubleshoot and mark intermittent problems in Activity."},
    {"Bluetooth sounds muffled", "headphones",
     "Headset microphone use can switch Bluetooth to call quality. Audio users in Troubleshoot lists input users when "
     "available. Finish calls or recordings before changing input or reselecting headphones. Use the built-in "
     "microphone if appropriate. Reselection applies to an already connected output; reconnect missing headphones in "
     "Bluetooth settings. Doctor does not measure radio strength or re-pair devices."},
    {"Microphone is silent or quiet", "mic",
     "Choose Microphone in the shared symptom selector. Restore microphone clears supported mute and zero gain "
     "explicitly; it preserves nonzero gain. Check input level in Sound settings and the affected app’s microphone "
     "permission. The optional ten-second test requests Doctor’s own permission, measures signal and clipping, and "
     "saves no audio. Stop the test or leave Troubleshoot to close capture."},
    {"One ear or speaker is silent", "ear.badge.waveform",
     "Troubleshoot shows reported channel levels, mute, and balance. Restore stereo centers supported balance and "
     "restores silent channel controls. Intentional hearing compensation is preserved by Playback Quick Fix. Use the "
     "quiet left/right tone to check each side; inspect speaker mapping in Volume Control for multichannel devices."},
    {"Music works but alerts are silent", "bell",
     "Alerts use a separate system sound route. Troubleshoot shows both media and alerts outputs and offers explicit "
     "alignment when supported. Also check sound effects volume, Do Not Disturb, notification permission, and the "
     "app’s sound preference. Doctor cannot inspect private app preferences."},
    {"No sound, HDMI, or USB volume keys", "speaker.slash",
     "Choose an available output in Devices. Reconnect a missing dock/interface, check the cable and receiver input, "
     "and inspect supported channels and physical formats. Displays and some interfaces own their volume controls; "
     "use the hardware. Restarting the audio service cannot add a missing volume-key control. Virtual devices need a "
     "destination configured by their owner."},
    {"Sample rates, buffers, and exclusive access", "waveform.path",
     "44.1 and 48 kHz are both normal. Independent devices can have different valid rates. Preserve intentional "
     "studio formats; inspect aggregates and mappings in Volume Control. Devices shows available buffer frames, "
     "formats, device-reported latency budget, and exclusive owners. These are not end-to-end measurements. For "
     "repeated overloads, increase the affected app’s supported buffer gradually, trading latency for stability. "
     "Close or release exclusive access in its owning app yourself."},
    {"Audio gets stuck after sleep", "moon.zzz",
     "Confirm an output sounds good in Troubleshoot to save its stable device identity. After waking or reconnecting "
     "a dock, Restore working output reselects that confirmed connected device. Listen again to confirm recovery. "
     "Monitoring records wake and device arrival/removal locally. Reopen an app or reselect its own output if it "
     "keeps a stale route."},
    {"What Doctor watches and stores", "lock.shield",
     "Monitoring reads the audio service settings, available audio-process identities, and overload notifications "
     "without capturing audio. Only the explicit microphone test opens input, for up to ten seconds without saving "
     "samples. Active or unknown input blocks disruptive repairs. Repairs never run automatically. Activity and "
     "confirmed routes stay on this computer; you control clearing, report export, and launch at login. Undo "
     "reverses eligible configuration changes only while their values still match; a service reset itself has no "
     "undo."},
};

DoctorHelpView::DoctorHelpView(DoctorStore& store, FeedbackOpener openFeedback, QWidget* parent)
    : QWidget(parent), m_store(store), m_openFeedback(std::move(openFeedback))
{
    QVBoxLayout* layout = theme::pageLayout(this, QStringLiteral("page-help"));
    layout->addWidget(theme::sectionHeading(QStringLiteral("Back to listening."),
                                            QStringLiteral("A few practical steps for the most common Linux audio "
                                                           "problems."),
                                            this));
    auto* list = new QVBoxLayout;
    list->setSpacing(0);
    for (const Topic& topic : topics) {
        list->addWidget(topicRow(topic));
        list->addWidget(theme::divider(this));
    }
    layout->addLayout(list);
    layout->addWidget(buildTools());
    layout->addWidget(buildFeedback());
    layout->addWidget(theme::caption(
        QStringLiteral("Feedback is optional. Pressing Send shares your message, category, optional email, and app and "
                       "system versions with our MurmexKit support inbox. You can review and choose a limited audio "
                       "settings summary. Audio recordings, device identities, running-app names, and the full local "
                       "report are never attached automatically."),
        this));
    layout->addStretch();
}

QWidget* DoctorHelpView::topicRow(const Topic& topic)
{
    auto* row = new QWidget(this);
    row->setObjectName(QStringLiteral("help-topic"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 12, 0, 12);
    layout->setSpacing(16);
    QLabel* symbol = theme::symbolLabel(topic.symbol, theme::warningColor(palette()), 22, row);
    symbol->setFixedWidth(30);
    symbol->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    layout->addWidget(symbol, 0, Qt::AlignTop);
    auto* text = new QVBoxLayout;
    text->setSpacing(4);
    auto* title = new QLabel(QString::fromUtf8(topic.title), row);
    theme::setPointSize(title, 9.5, QFont::DemiBold);
    QLabel* body = theme::label(QString::fromUtf8(topic.text), row, theme::secondaryText(palette()), 9.5);
    body->setWordWrap(true);
    body->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->addWidget(title);
    text->addWidget(body);
    layout->addLayout(text, 1);
    return row;
}

QWidget* DoctorHelpView::buildTools()
{
    auto* sound = new QPushButton(QStringLiteral("Open Sound settings"), this);
    sound->setObjectName(QStringLiteral("help-open-sound-settings"));
    connect(sound, &QPushButton::clicked, this, [this] { m_store.openSettingsPane(SettingsPane::sound); });
    auto* mixer = new QPushButton(QStringLiteral("Open Volume Control"), this);
    mixer->setObjectName(QStringLiteral("help-open-volume-control"));
    connect(mixer, &QPushButton::clicked, this, [this] { m_store.openSettingsPane(SettingsPane::volumeControl); });
    auto* report = new QPushButton(QStringLiteral("Copy diagnostic report"), this);
    report->setObjectName(QStringLiteral("help-copy-report"));
    connect(report, &QPushButton::clicked, this, [this] { m_store.copyReport(); });
    return theme::buttonRow(this, {sound, mixer, report});
}

QWidget* DoctorHelpView::buildFeedback()
{
    auto* box = new QWidget(this);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 6, 0, 0);
    row->setSpacing(12);
    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    auto* title = new QLabel(QStringLiteral("Still having trouble?"), box);
    theme::setPointSize(title, 10.5, QFont::DemiBold);
    text->addWidget(title);
    text->addWidget(theme::caption(QStringLiteral("Tell us what didn’t work so we can improve Doctor."), box));
    row->addLayout(text, 1);
    row->addWidget(new DoctorFeedbackButton(m_openFeedback, false, box), 0, Qt::AlignVCenter);
    return box;
}

}  // namespace sonorel
