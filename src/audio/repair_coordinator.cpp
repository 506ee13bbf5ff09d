#include "audio/repair_coordinator.h"

#include "audio/audio_repair_error.h"

#include <algorithm>

namespace sonorel {

void guardInput(const AudioSnapshot& snapshot)
{
    if (snapshot.isInputActive())
        throw AudioRepairError::recordingActive();
    if (!snapshot.inputActivityKnown)
        throw AudioRepairError::inputActivityUnknown();
}

bool isInputAffecting(const AudioSetting& setting)
{
    return std::visit(
        [](const auto& s) {
            using Case = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<Case, AudioSetting::Input> || std::is_same_v<Case, AudioSetting::Rate>
                          || std::is_same_v<Case, AudioSetting::Profile>)
                return true;
            else if constexpr (std::is_same_v<Case, AudioSetting::Volume> || std::is_same_v<Case, AudioSetting::Mute>
                               || std::is_same_v<Case, AudioSetting::Port>)
                return s.direction == AudioDirection::input;
            else
                return false;
        },
        setting.value);
}

RepairCoordinator::RepairCoordinator(AudioSystem& audio, AudioRestarting& restarter, Pause pause)
    : m_audio(audio), m_restarter(restarter), m_pause(std::move(pause))
{
}

QCoro::Task<std::string> RepairCoordinator::perform(RepairAction action, std::optional<PreferredOutput> preferredOutput,
                                                    std::optional<PreferredOutput> lastWorkingOutput,
                                                    bool restartUnanswered)
{
    const AudioSnapshot before = m_audio.snapshot();
    m_lastChanges.clear();
    m_writtenSettings.clear();
    try {
        std::string message = co_await runProcedure(action, before, std::move(preferredOutput),
                                                    std::move(lastWorkingOutput), restartUnanswered);
        recordChanges(before);
        co_return message;
    } catch (...) {
        // A half-finished repair stays undoable.
        recordChanges(before);
        throw;
    }
}

QCoro::Task<std::string> RepairCoordinator::runProcedure(RepairAction action, AudioSnapshot before,
                                                         std::optional<PreferredOutput> preferredOutput,
                                                         std::optional<PreferredOutput> lastWorkingOutput,
                                                         bool restartUnanswered)
{
    if (before.readError && action != RepairAction::restartAudio)
        throw AudioRepairError::system(*before.readError);

    switch (action) {
    case RepairAction::restoreOutput:
        co_return restoreOutput(before, preferredOutput);
    case RepairAction::unmute:
        co_return unmute(before);
    case RepairAction::useBuiltInMic:
        co_return useBuiltInMic(before);
    case RepairAction::normalizeRate:
        co_return co_await normalizeRate(std::move(before));
    case RepairAction::restartAudio:
        co_return co_await restartAudio(std::move(before), restartUnanswered);
    case RepairAction::openBluetooth:
        // Opening settings is the store's business, not a configuration change.
        throw AudioRepairError::unsupported();
    case RepairAction::restoreInput:
        co_return restoreInput(before);
    case RepairAction::restoreStereo:
        co_return restoreStereo(before);
    case RepairAction::alignAlerts:
        co_return alignAlerts(before);
    case RepairAction::reselectOutput:
        co_return co_await reselectOutput(std::move(before));
    case RepairAction::restoreLastOutput:
        co_return restoreLastOutput(before, lastWorkingOutput);
    case RepairAction::turnOnOutput:
        co_return co_await turnOnOutput(std::move(before));
    case RepairAction::switchOutputPort:
        co_return switchPort(before, AudioDirection::output);
    case RepairAction::switchInputPort:
        co_return switchPort(before, AudioDirection::input);
    case RepairAction::unmuteApp:
        co_return unmuteApps(before);
    case RepairAction::raiseAppVolume:
        co_return raiseAppVolume(before);
    case RepairAction::moveAppToOutput:
        co_return moveAppsToOutput(before);
    }
    throw AudioRepairError::unsupported();
}

void RepairCoordinator::apply(const std::vector<AudioSetting>& settings)
{
    if (settings.empty())
        throw AudioRepairError::unsupported();
    for (const auto& setting : settings) {
        if (isInputAffecting(setting))
            guardInput(m_audio.snapshot());
        m_audio.apply(setting);
        m_writtenSettings.push_back(setting);
    }
    for (const auto& setting : settings)
        if (!m_audio.snapshot().confirms(setting))
            throw AudioRepairError::recoveryFailed();
}

void RepairCoordinator::selectOutput(const std::string& uid)
{
    m_audio.setDefaultOutput(uid);
    m_writtenSettings.push_back(AudioSetting::Output{uid});
}

void RepairCoordinator::selectInput(const std::string& uid)
{
    m_audio.setDefaultInput(uid);
    m_writtenSettings.push_back(AudioSetting::Input{uid});
}

void RepairCoordinator::recordChanges(const AudioSnapshot& before)
{
    const AudioSnapshot after = m_audio.snapshot();
    m_lastChanges.clear();
    // Changes another app made meanwhile are not ours to undo.
    for (auto& change : AudioConfigurationChange::changes(before, after))
        if (std::any_of(m_writtenSettings.begin(), m_writtenSettings.end(),
                        [&change](const AudioSetting& written) { return change.after.matches(written); }))
            m_lastChanges.push_back(std::move(change));
}

namespace {

// The setting of the same target in a reading, if any.
const AudioSetting* currentSetting(const std::vector<AudioSetting>& settings, const AudioSetting& target)
{
    auto found = std::find_if(settings.begin(), settings.end(),
                              [&target](const AudioSetting& s) { return s.isSameTarget(target); });
    return found == settings.end() ? nullptr : &*found;
}

bool isOutputChange(const AudioConfigurationChange& change)
{
    return std::holds_alternative<AudioSetting::Output>(change.before.value);
}

// The card, the device or the app stream a setting is about (and the device
// it names) is still there.
bool hasTarget(const AudioSnapshot& snapshot, const AudioSetting& setting)
{
    if (const auto* profile = std::get_if<AudioSetting::Profile>(&setting.value))
        return snapshot.card(profile->card) != nullptr;
    if (const auto stream = setting.appStream(); stream && !snapshot.appStream(stream->first, stream->second))
        return false;
    if (setting.uid().empty())
        return true;
    const AudioDevice* device = snapshot.deviceWithUID(setting.uid());
    return device && device->isAlive;
}

}  // namespace

void RepairCoordinator::undo(const std::vector<AudioConfigurationChange>& changes)
{
    if (changes.empty())
        throw AudioRepairError::unsupported();

    // A reading that fails is said as it is: it is nobody's edit to look for.
    const auto read = [this] {
        AudioSnapshot reading = m_audio.snapshot();
        if (reading.readError)
            throw AudioRepairError::system(*reading.readError);
        return reading;
    };
    const AudioSnapshot current = read();
    // A stream of the same number but another app is never touched.
    for (const auto& change : changes)
        if (const auto stream = change.before.appStream(); stream && !current.appStream(stream->first, stream->second))
            throw AudioRepairError::streamGone();
    const auto settings = current.settings();
    for (const auto& change : changes) {
        const AudioSetting* now = currentSetting(settings, change.after);
        if (!now || !now->matches(change.after))
            throw AudioRepairError::settingsChanged();
    }
    for (const auto& change : changes)
        if (!hasTarget(current, change.before))
            throw AudioRepairError::deviceGone();

    // Default outputs first, then everything else from the last change back.
    std::vector<AudioConfigurationChange> order;
    std::copy_if(changes.begin(), changes.end(), std::back_inserter(order), isOutputChange);
    std::copy_if(changes.rbegin(), changes.rend(), std::back_inserter(order),
                 [](const auto& change) { return !isOutputChange(change); });
    if (std::any_of(order.begin(), order.end(), [](const AudioConfigurationChange& change) {
            return isOutputChange(change) || isInputAffecting(change.before);
        }))
        guardInput(current);

    for (const auto& change : order) {
        const AudioSnapshot beforeWrite = read();
        // Coupled settings (a balance is made of channel levels) can be back
        // already through an earlier step; there is nothing left to write.
        if (beforeWrite.confirms(change.before) && !beforeWrite.confirms(change.after))
            continue;
        if (!beforeWrite.confirms(change.after))
            throw AudioRepairError::settingsChanged();
        if (isInputAffecting(change.before))
            guardInput(beforeWrite);
        m_audio.apply(change.before);
        if (!read().confirms(change.before))
            throw AudioRepairError::recoveryFailed();
    }
    const AudioSnapshot after = read();
    for (const auto& change : changes)
        if (!after.confirms(change.before))
            throw AudioRepairError::recoveryFailed();
}

}  // namespace sonorel
