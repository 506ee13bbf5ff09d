#include "views/app_mixer_box.h"

#include "model/text_format.h"
#include "store/doctor_store.h"
#include "views/doctor_theme.h"
#include "views/troubleshoot_topics.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace sonorel {

using theme::qs;

namespace {

// What silences apps in the mixer, one sentence per cause.
QStringList problemLines(const AudioSnapshot& snapshot)
{
    QStringList lines;
    const auto sentence = [](const std::vector<const AppStream*>& streams, const std::string& single,
                             const std::string& plural) {
        const auto apps = appNames(streams);
        return qs(namesText(apps) + (apps.size() == 1 ? single : plural));
    };
    if (const auto muted = snapshot.mutedAppStreams(); !muted.empty())
        lines << sentence(muted, " is muted in the mixer.", " are muted in the mixer.");
    if (const auto silent = snapshot.silentAppStreams(); !silent.empty())
        lines << sentence(silent, " plays at 0% in the mixer.", " play at 0% in the mixer.");
    for (const std::string& app : appNames(snapshot.appStreamsElsewhere()))
        for (const AppStream* stream : snapshot.appStreamsElsewhere())
            if (stream->appName == app && snapshot.outputDevice()) {
                const AudioDevice* elsewhere = snapshot.device(stream->outputID);
                lines << qs(app + " plays through " + (elsewhere ? elsewhere->name : "another output") + ", not "
                            + snapshot.outputDevice()->name + ".");
                break;
            }
    return lines;
}

}  // namespace

AppMixerBox::AppMixerBox(DoctorStore& store, bool emphasized, QWidget* parent)
    : QWidget(parent), m_store(store), m_emphasized(emphasized)
{
    setObjectName(QStringLiteral("app-mixer"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    m_lines = new QLabel(this);
    m_lines->setObjectName(QStringLiteral("app-mixer-state"));
    m_lines->setWordWrap(true);
    m_lines->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_lines);
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    const auto button = [&](RepairAction action, const char* identifier) {
        auto* repair = new TopicButton(qs(title(action)), identifier, this);
        connect(repair, &QPushButton::clicked, this, [this, action] { m_store.perform(action); });
        row->addWidget(repair);
        return repair;
    };
    m_unmute = button(RepairAction::unmuteApp, "app-unmute");
    m_raise = button(RepairAction::raiseAppVolume, "app-raise-volume");
    m_move = button(RepairAction::moveAppToOutput, "app-move-to-output");
    row->addStretch();
    layout->addLayout(row);
    for (auto signal : {&DoctorStore::readingChanged, &DoctorStore::repairStateChanged})
        connect(&m_store, signal, this, &AppMixerBox::refresh);
    refresh();
}

bool AppMixerBox::offersRepair() const
{
    const AudioSnapshot& snapshot = m_store.snapshot();
    return !problemLines(snapshot).isEmpty();
}

void AppMixerBox::refresh()
{
    const AudioSnapshot& snapshot = m_store.snapshot();
    QStringList lines = problemLines(snapshot);
    if (lines.isEmpty())
        lines << (snapshot.appStreams.empty()
                      ? QStringLiteral("No app is playing right now. Doctor sees an app’s own volume, mute and output "
                                       "only while it plays: play something in the silent app, then look again.")
                      : QStringLiteral("No app is muted, at zero, or sent to another output in the mixer."));
    m_lines->setText(lines.join(QLatin1Char(' ')));
    const bool fixing = m_store.isFixing();
    bool leading = m_emphasized;
    for (auto [repair, shown] : {std::pair{m_unmute, !snapshot.mutedAppStreams().empty()},
                                 std::pair{m_raise, !snapshot.silentAppStreams().empty()},
                                 std::pair{m_move, !snapshot.appStreamsElsewhere().empty()}}) {
        repair->setVisible(shown);
        repair->setProminent(leading && shown);
        leading = leading && !shown;
        repair->setEnabled(!fixing);
    }
}

}  // namespace sonorel
