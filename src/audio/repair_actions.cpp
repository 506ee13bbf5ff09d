#include "audio/audio_repair_error.h"
#include "audio/repair_coordinator.h"
#include "model/text_format.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace sonorel {

namespace {

// Level a silent output is raised to when unmuting.
constexpr float unmuteLevel = 0.25f;
constexpr float restoredInputLevel = 0.5f;
constexpr float minimumStereoLevel = 0.25f;
// Checks of a rate change: one at once, then one after each of nine pauses.
constexpr int rateChecks = 10;
constexpr int restartChecks = 20;

bool isSilent(std::optional<float> volume)
{
    return volume && *volume <= silenceThreshold;
}

// Unmutes every muted control and raises every silent one to `level`,
// leaving audible levels alone; refuses when a needed control is read-only.
std::vector<AudioSetting> restoreControls(const AudioDevice& device, AudioDirection side, float level,
                                          const std::optional<std::set<uint32_t>>& allowedElements = std::nullopt)
{
    std::vector<AudioSetting> settings;
    for (const auto& control : device.controls(side)) {
        if (allowedElements && !allowedElements->count(control.element))
            continue;
        if (control.isMuted == true) {
            if (!control.canSetMute)
                throw AudioRepairError::unsupported();
            settings.push_back(AudioSetting::Mute{device.uid, side, control.element, false});
        }
        if (isSilent(control.volume)) {
            if (!control.canSetVolume)
                throw AudioRepairError::unsupported();
            settings.push_back(AudioSetting::Volume{device.uid, side, control.element, level});
        }
    }
    return settings;
}

bool isVolumeSetting(const AudioSetting& setting)
{
    return std::holds_alternative<AudioSetting::Volume>(setting.value);
}

bool isDefaultOutput(const AudioSnapshot& snapshot, const std::string& uid)
{
    const AudioDevice* out = snapshot.outputDevice();
    return out && out->uid == uid;
}

bool isDefaultInput(const AudioSnapshot& snapshot, const std::string& uid)
{
    const AudioDevice* in = snapshot.inputDevice();
    return in && in->uid == uid;
}

// The card's output that plays: alive, with channels, not a stand-in.
const AudioDevice* outputOfCard(const AudioSnapshot& snapshot, const std::string& card)
{
    for (const AudioDevice* d : snapshot.outputDevices())
        if (d->cardName == card && !d->isPlaceholder)
            return d;
    return nullptr;
}

std::string isOrAre(const std::vector<std::string>& apps)
{
    return namesText(apps) + (apps.size() == 1 ? " is" : " are");
}

}  // namespace

std::string RepairCoordinator::restoreOutput(const AudioSnapshot& before,
                                             const std::optional<PreferredOutput>& preferredOutput)
{
    // A preferred output that is not connected has no fallback: the user asked for that one.
    const AudioDevice* target =
        preferredOutput ? before.connectedOutput(preferredOutput->uid) : before.fallbackOutput();
    if (!target)
        throw AudioRepairError::deviceGone();
    selectOutput(target->uid);
    if (!isDefaultOutput(m_audio.snapshot(), target->uid))
        throw AudioRepairError::recoveryFailed();
    return "Sound is routed to " + target->name + ".";
}

std::string RepairCoordinator::unmute(const AudioSnapshot& before)
{
    const AudioDevice* out = before.outputDevice();
    if (!out)
        throw AudioRepairError::deviceGone();
    const auto controls = out->controls(AudioDirection::output);
    auto mainControls = [&controls](auto reports) {
        std::vector<AudioChannelState> chosen;
        std::copy_if(controls.begin(), controls.end(), std::back_inserter(chosen),
                     [&](const AudioChannelState& c) { return c.element == 0 && reports(c); });
        return chosen.empty() ? controls : chosen;
    };

    std::vector<AudioSetting> settings;
    if (out->isMuted == true) {
        for (const auto& c : mainControls([](const AudioChannelState& c) { return c.isMuted.has_value(); })) {
            if (c.isMuted != true)
                continue;
            if (!c.canSetMute)
                throw AudioRepairError::unsupported();
            settings.push_back(AudioSetting::Mute{out->uid, AudioDirection::output, c.element, false});
        }
    }
    if (isSilent(out->volume)) {
        for (const auto& c : mainControls([](const AudioChannelState& c) { return c.volume.has_value(); })) {
            if (!isSilent(c.volume))
                continue;
            if (!c.canSetVolume)
                throw AudioRepairError::unsupported();
            settings.push_back(AudioSetting::Volume{out->uid, AudioDirection::output, c.element, unmuteLevel});
        }
    }
    apply(settings);

    const AudioSnapshot after = m_audio.snapshot();
    const AudioDevice* now = after.outputDevice();
    if (!now || now->uid != out->uid || now->isMuted == true || isSilent(now->volume))
        throw AudioRepairError::recoveryFailed();
    // Only what was done: a volume left alone is not said to be raised.
    if (!std::ranges::any_of(settings, isVolumeSetting))
        return "Output is unmuted. Existing volume was preserved.";
    if (std::ranges::all_of(settings, isVolumeSetting))
        return "A zero output volume was raised to 25%.";
    return "Output is unmuted. A zero volume was raised to 25%.";
}

std::string RepairCoordinator::useBuiltInMic(const AudioSnapshot& before)
{
    guardInput(before);
    const AudioDevice* microphone = before.builtInMicrophone();
    if (!microphone)
        throw AudioRepairError::unsupported();
    selectInput(microphone->uid);
    if (!isDefaultInput(m_audio.snapshot(), microphone->uid))
        throw AudioRepairError::recoveryFailed();
    return microphone->name + " is selected. Bluetooth listening quality may take a moment to recover.";
}

QCoro::Task<std::string> RepairCoordinator::normalizeRate(AudioSnapshot before)
{
    guardInput(before);
    const AudioDevice* out = before.outputDevice();
    if (!out || !out->isPhysical() || out->transport == AudioTransport::bluetooth || !out->canSetRate
        || !out->standardRate())
        throw AudioRepairError::unsupported();
    const std::string uid = out->uid;
    const double target = *out->standardRate();
    m_audio.setNominalRate(uid, target);
    m_writtenSettings.push_back(AudioSetting::Rate{uid, target});

    for (int check = 0; check < rateChecks; ++check) {
        if (check > 0)
            co_await m_pause();
        const AudioSnapshot now = m_audio.snapshot();
        // A reading that failed says nothing about the rate; look again.
        if (now.readError)
            continue;
        const AudioDevice* current = now.outputDevice();
        if (!current || current->uid != uid)
            throw AudioRepairError::settingsChanged();
        if (current->sampleRate && std::abs(*current->sampleRate - target) < 1.0)
            co_return "Output format is now " + std::to_string(int(target / 1000)) + " kHz." + m_audio.rateChangeNote();
    }
    throw AudioRepairError::recoveryFailed();
}

QCoro::Task<std::string> RepairCoordinator::restartAudio(AudioSnapshot before, bool evenIfNotAnswering)
{
    // An unreadable configuration cannot say whether input activity is known.
    if (before.readError) {
        if (before.isInputActive())
            throw AudioRepairError::recordingActive();
    } else {
        guardInput(before);
        guardOutputCapture(before);
    }
    co_await m_restarter.restart(evenIfNotAnswering);

    for (int check = 0; check < restartChecks; ++check) {
        co_await m_pause();
        if (auto message = recoverAfterRestart(before))
            co_return *message;
    }
    throw AudioRepairError::recoveryFailed();
}

// One look after the restart: puts the old output (and input, when no
// recording would be interrupted) back once they are there again.
std::optional<std::string> RepairCoordinator::recoverAfterRestart(const AudioSnapshot& before)
{
    const AudioSnapshot now = m_audio.snapshot();
    if (now.readError || !now.inputActivityKnown)
        return std::nullopt;

    const AudioDevice* oldOutput = before.outputDevice();
    if (!oldOutput) {
        const AudioDevice* fallback = now.fallbackOutput();
        if (!fallback)
            return std::nullopt;
        selectOutput(fallback->uid);
        if (!isDefaultOutput(m_audio.snapshot(), fallback->uid))
            return std::nullopt;
        return "The audio service restarted and " + fallback->name
               + " is selected. Play your audio again to check the result.";
    }

    if (!now.connectedOutput(oldOutput->uid))
        return std::nullopt;
    if (!isDefaultOutput(now, oldOutput->uid))
        selectOutput(oldOutput->uid);

    std::string note;
    if (const AudioDevice* oldInput = before.inputDevice()) {
        const AudioDevice* returned = now.deviceWithUID(oldInput->uid);
        if (returned && returned->isAlive && !isDefaultInput(now, oldInput->uid)) {
            if (now.isInputBusy())
                note = " Your microphone was not switched back to " + oldInput->name + " because an input is in use.";
            else
                selectInput(oldInput->uid);
        }
    }

    if (!isDefaultOutput(m_audio.snapshot(), oldOutput->uid))
        return std::nullopt;
    return "The audio service restarted and " + oldOutput->name + " recovered." + note
           + " Play your audio again to check whether the crackling stopped.";
}

std::string RepairCoordinator::restoreInput(const AudioSnapshot& before)
{
    guardInput(before);
    const AudioDevice* in = before.inputDevice();
    if (!in)
        throw AudioRepairError::deviceGone();
    const auto settings = restoreControls(*in, AudioDirection::input, restoredInputLevel);
    apply(settings);
    const auto raised = std::ranges::count_if(settings, isVolumeSetting);
    const auto levels = std::ranges::count_if(in->controls(AudioDirection::input),
                                              [](const AudioChannelState& c) { return c.volume.has_value(); });
    const char* levelsText = raised == 0        ? " Nonzero input levels were preserved."
                             : raised < levels ? " Nonzero input levels were preserved; zero levels were raised to 50%."
                                               : " Zero input levels were raised to 50%.";
    return std::string("Microphone controls restored.") + levelsText
           + " Test your voice and the affected app's permission.";
}

std::string RepairCoordinator::restoreStereo(const AudioSnapshot& before)
{
    const AudioDevice* out = before.outputDevice();
    if (!out || out->outputChannels < 2)
        throw AudioRepairError::unsupported();
    const std::set<uint32_t> pair = out->stereoChannels.size() == 2
                                        ? std::set<uint32_t>(out->stereoChannels.begin(), out->stereoChannels.end())
                                        : std::set<uint32_t>{1, 2};
    // A silent side is raised to match the other, so intentional levels survive.
    float level = minimumStereoLevel;
    for (const auto& control : out->controls(AudioDirection::output))
        if (pair.count(control.element) && control.volume)
            level = std::max(level, *control.volume);

    auto settings = restoreControls(*out, AudioDirection::output, level, pair);
    if (out->balance && std::abs(*out->balance - 0.5f) > 0.01f) {
        if (!out->canSetBalance)
            throw AudioRepairError::unsupported();
        settings.push_back(AudioSetting::Balance{out->uid, 0.5f});
    }
    apply(settings);
    return "Supported stereo controls restored. Play the left/right test to check both sides.";
}

std::string RepairCoordinator::alignAlerts(const AudioSnapshot& before)
{
    const AudioDevice* out = before.outputDevice();
    if (!before.canSetSystemOutput || !out)
        throw AudioRepairError::unsupported();
    apply({AudioSetting::Alerts{out->uid}});
    if (!isDefaultOutput(m_audio.snapshot(), out->uid))
        throw AudioRepairError::settingsChanged();
    return "Alerts now use " + out->name
           + ". Check alert volume, Do Not Disturb, and the affected app's notification settings if they are still "
             "silent.";
}

std::string RepairCoordinator::restoreLastOutput(const AudioSnapshot& before,
                                                 const std::optional<PreferredOutput>& lastWorkingOutput)
{
    guardInput(before);
    if (!lastWorkingOutput || !before.connectedOutput(lastWorkingOutput->uid))
        throw AudioRepairError::deviceGone();
    apply({AudioSetting::Output{lastWorkingOutput->uid}});
    return lastWorkingOutput->name
           + " is selected using its saved device identity. Listen again to confirm recovery after sleep.";
}

void guardOutputCapture(const AudioSnapshot& snapshot)
{
    std::vector<std::string> apps;
    for (const AudioClient* client : snapshot.outputCaptureClients())
        apps.push_back(client->name);
    if (!apps.empty())
        throw AudioRepairError::outputCaptureActive(namesText(apps));
}

QCoro::Task<std::string> RepairCoordinator::turnOnOutput(AudioSnapshot before)
{
    const auto target = before.cardOutputToTurnOn();
    if (!target)
        throw AudioRepairError::unsupported();
    const std::string card = target->card->name;
    const std::string cardDescription = target->card->description;
    const std::string previousProfile = target->card->activeProfile;
    co_await switchCardProfile(card, target->profile->name);

    // The card's new output shows a moment after its profile.
    AudioSnapshot now = m_audio.snapshot();
    const AudioDevice* output = outputOfCard(now, card);
    for (int check = 1; !output && check < profileChecks; ++check) {
        co_await m_pause();
        now = m_audio.snapshot();
        output = outputOfCard(now, card);
    }
    if (!output) {
        // A profile that gives no output is no repair: put the card back as it was.
        try {
            m_audio.setCardProfile(card, previousProfile);
        } catch (const AudioRepairError&) {
        }
        throw AudioRepairError::recoveryFailed();
    }
    const std::string uid = output->uid;
    const std::string name = output->name;
    if (!isDefaultOutput(now, uid))
        selectOutput(uid);
    if (!isDefaultOutput(m_audio.snapshot(), uid))
        throw AudioRepairError::recoveryFailed();
    co_return cardDescription + " is on again. Sound plays through " + name + ".";
}

std::string RepairCoordinator::switchPort(const AudioSnapshot& before, AudioDirection side)
{
    const AudioDevice* device = side == AudioDirection::output ? before.outputDevice() : before.inputDevice();
    if (!device)
        throw AudioRepairError::deviceGone();
    const AudioPort* port = device->portToSwitchTo();
    const AudioPort* unplugged = device->port(device->activePort);
    if (!port || !unplugged)
        throw AudioRepairError::unsupported();
    apply({AudioSetting::Port{device->uid, side, port->name}});
    return device->name + (side == AudioDirection::output ? " now plays through " : " now listens through ")
           + port->description + " instead of " + unplugged->description + ", which is not plugged in.";
}

std::string RepairCoordinator::unmuteApps(const AudioSnapshot& before)
{
    const auto streams = before.mutedAppStreams();
    std::vector<AudioSetting> settings;
    for (const AppStream* stream : streams)
        settings.push_back(AudioSetting::AppMute{stream->index, stream->appName, false});
    apply(settings);
    return isOrAre(appNames(streams)) + " no longer muted in the mixer.";
}

std::string RepairCoordinator::raiseAppVolume(const AudioSnapshot& before)
{
    const auto streams = before.silentAppStreams();
    std::vector<AudioSetting> settings;
    for (const AppStream* stream : streams)
        settings.push_back(AudioSetting::AppVolume{stream->index, stream->appName, 1.0f});
    apply(settings);
    return isOrAre(appNames(streams)) + " back at 100% in the mixer; it was at 0%.";
}

std::string RepairCoordinator::moveAppsToOutput(const AudioSnapshot& before)
{
    const AudioDevice* out = before.outputDevice();
    const auto streams = before.appStreamsElsewhere();
    if (!out)
        throw AudioRepairError::deviceGone();
    std::vector<AudioSetting> settings;
    for (const AppStream* stream : streams)
        settings.push_back(AudioSetting::AppOutput{stream->index, stream->appName, out->uid});
    apply(settings);
    const auto apps = appNames(streams);
    return namesText(apps) + (apps.size() == 1 ? " plays" : " play") + " through " + out->name + " again.";
}

}  // namespace sonorel
