#include "model/audio_snapshot.h"

#include "model/text_format.h"

#include <algorithm>
#include <cmath>

namespace sonorel {

std::string AudioStreamFormat::label() const
{
    std::string text = std::to_string(channels) + " ch · " + kilohertzNumber(sampleRate) + " kHz · ";
    if (bitDepth == 0)
        return text + "encoded";
    return text + std::to_string(bitDepth) + "-bit" + (isFloat ? " float" : "");
}

bool AudioDevice::isPhysical() const
{
    return transport != AudioTransport::virtual_ && transport != AudioTransport::aggregate;
}

const AudioPort* AudioDevice::port(const std::optional<std::string>& portName) const
{
    if (!portName)
        return nullptr;
    auto found = std::find_if(ports.begin(), ports.end(), [&](const AudioPort& p) { return p.name == *portName; });
    return found == ports.end() ? nullptr : &*found;
}

bool AudioDevice::isActivePortUnavailable() const
{
    const AudioPort* active = port(activePort);
    return active && active->availability == PortAvailability::unavailable;
}

const AudioPort* AudioDevice::portToSwitchTo() const
{
    if (!isActivePortUnavailable())
        return nullptr;
    const AudioPort* best = nullptr;
    // Plugged in beats cannot tell (speakers have no jack to sense), then priority.
    auto rank = [](const AudioPort& p) {
        return std::pair(p.availability == PortAvailability::available, p.priority);
    };
    for (const auto& candidate : ports)
        if (candidate.availability != PortAvailability::unavailable && (!best || rank(candidate) > rank(*best)))
            best = &candidate;
    return best;
}

std::optional<double> AudioDevice::standardRate() const
{
    for (double rate : {48000.0, 44100.0}) {
        if (std::any_of(availableRates.begin(), availableRates.end(),
                        [rate](const ClosedRange<double>& range) { return range.contains(rate); }))
            return rate;
    }
    return std::nullopt;
}

std::optional<float> AudioDevice::inputVolume() const
{
    std::optional<float> loudest;
    for (const auto& control : inputControls) {
        if (control.element == 0 && control.volume)
            return control.volume;
        if (control.volume && (!loudest || *control.volume > *loudest))
            loudest = control.volume;
    }
    return loudest;
}

std::optional<bool> AudioDevice::inputMuted() const
{
    std::optional<bool> allMuted;
    for (const auto& control : inputControls) {
        if (control.element == 0 && control.isMuted)
            return control.isMuted;
        if (control.isMuted)
            allMuted = allMuted.value_or(true) && *control.isMuted;
    }
    return allMuted;
}

std::optional<double> AudioDevice::latencyMilliseconds() const
{
    if (!bufferFrames || !latencyFrames || !safetyOffsetFrames || !sampleRate || !std::isfinite(*sampleRate)
        || *sampleRate <= 0)
        return std::nullopt;
    const double frames = double(*bufferFrames) + double(*latencyFrames) + double(*safetyOffsetFrames);
    return frames / *sampleRate * 1000;
}

std::vector<AudioChannelState> AudioDevice::controls(AudioDirection direction) const
{
    if (direction == AudioDirection::input)
        return inputControls;
    if (!outputControls.empty())
        return outputControls;
    if (volume || isMuted)
        return {AudioChannelState{0, volume, isMuted, canSetVolume, canSetMute, {}}};
    return {};
}

std::string AudioDevice::symbolName() const
{
    switch (transport) {
    case AudioTransport::builtIn:
        return outputChannels > 0 ? "laptopcomputer" : "mic";
    case AudioTransport::bluetooth:
        return "headphones";
    case AudioTransport::usb:
        return "cable.connector";
    case AudioTransport::display:
        return "display";
    case AudioTransport::virtual_:
    case AudioTransport::aggregate:
        return "waveform.path";
    case AudioTransport::other:
        break;
    }
    return "speaker.wave.2";
}

const AudioDevice* AudioSnapshot::device(std::optional<AudioObjectID> id) const
{
    if (!id)
        return nullptr;
    auto found = std::find_if(devices.begin(), devices.end(), [id](const AudioDevice& d) { return d.id == *id; });
    return found == devices.end() ? nullptr : &*found;
}

namespace {

bool isOutput(const AudioDevice& d)
{
    return d.isAlive && d.outputChannels > 0;
}

}  // namespace

std::vector<const AudioDevice*> AudioSnapshot::outputDevices() const
{
    std::vector<const AudioDevice*> outputs;
    for (const auto& d : devices)
        if (isOutput(d))
            outputs.push_back(&d);
    return outputs;
}

const AudioDevice* AudioSnapshot::connectedOutput(const std::string& uid) const
{
    for (const auto& d : devices)
        if (isOutput(d) && d.uid == uid)
            return &d;
    return nullptr;
}

const AudioDevice* AudioSnapshot::deviceWithUID(const std::string& uid) const
{
    for (const auto& d : devices)
        if (d.uid == uid)
            return &d;
    return nullptr;
}

std::vector<std::string> AudioSnapshot::deviceNames(const std::vector<AudioObjectID>& ids) const
{
    std::vector<std::string> names;
    for (AudioObjectID id : ids)
        if (const AudioDevice* d = device(id))
            names.push_back(d->name);
    return names;
}

const AudioDevice* AudioSnapshot::reselectionAlternate() const
{
    const AudioDevice* target = outputDevice();
    if (!target || target->transport != AudioTransport::bluetooth)
        return nullptr;
    const auto outputs = outputDevices();
    auto alternate = std::find_if(outputs.begin(), outputs.end(), [target](const AudioDevice* d) {
        return d->transport == AudioTransport::builtIn && d->uid != target->uid;
    });
    if (alternate == outputs.end())
        return nullptr;
    const auto controls = (*alternate)->controls(AudioDirection::output);
    const bool hasMute = std::any_of(controls.begin(), controls.end(), [](const auto& c) { return c.isMuted; });
    const bool muteWritable =
        std::all_of(controls.begin(), controls.end(), [](const auto& c) { return !c.isMuted || c.canSetMute; });
    return hasMute && muteWritable ? *alternate : nullptr;
}

const AudioDevice* AudioSnapshot::builtInMicrophone() const
{
    for (const auto& d : devices)
        if (d.transport == AudioTransport::builtIn && d.inputChannels > 0 && d.isAlive)
            return &d;
    return nullptr;
}

const AudioDevice* AudioSnapshot::fallbackOutput() const
{
    // An output whose connector is unplugged plays nowhere.
    auto canPlay = [](const AudioDevice& d) { return isOutput(d) && !d.isActivePortUnavailable(); };
    for (const auto& d : devices)
        if (canPlay(d) && d.transport == AudioTransport::builtIn)
            return &d;
    for (const auto& d : devices)
        if (canPlay(d) && d.isPhysical())
            return &d;
    return nullptr;
}

std::vector<std::string> appNames(const std::vector<const AppStream*>& streams)
{
    std::vector<std::string> apps;
    for (const AppStream* stream : streams)
        if (std::find(apps.begin(), apps.end(), stream->appName) == apps.end())
            apps.push_back(stream->appName);
    return apps;
}

bool isRecent(Date date, Date capturedAt)
{
    const auto age = capturedAt - date;
    return age >= std::chrono::seconds{0} && age < std::chrono::seconds{120};
}

int AudioSnapshot::recentOverloadCount() const
{
    return int(std::count_if(overloadDates.begin(), overloadDates.end(),
                             [this](Date date) { return isRecent(date, capturedAt); }));
}

std::vector<const AudioClient*> AudioSnapshot::outputCaptureClients() const
{
    std::vector<const AudioClient*> capturing;
    for (const auto& client : clients)
        if (!client.capturedOutputIDs.empty())
            capturing.push_back(&client);
    return capturing;
}

const AudioCard* AudioSnapshot::card(const std::optional<std::string>& name) const
{
    if (!name)
        return nullptr;
    auto found = std::find_if(cards.begin(), cards.end(), [&](const AudioCard& c) { return c.name == *name; });
    return found == cards.end() ? nullptr : &*found;
}

bool AudioSnapshot::isInCallMode(const AudioDevice& device) const
{
    if (device.transport != AudioTransport::bluetooth)
        return false;
    if (const AudioCard* c = cardOf(device))
        return c->activeKind() == CardProfileKind::call;
    return device.sampleRate && *device.sampleRate < 44100;
}

std::optional<std::string> AudioSnapshot::highFidelityProfileToRestore(const AudioDevice& device) const
{
    const AudioCard* c = cardOf(device);
    if (device.transport != AudioTransport::bluetooth || !c || c->activeKind() != CardProfileKind::call)
        return std::nullopt;
    const CardProfile* best = c->bestHighFidelityProfile();
    return best ? std::optional(best->name) : std::nullopt;
}

bool AudioSnapshot::hasNoRealOutput() const
{
    const AudioDevice* out = outputDevice();
    return !out || !isOutput(*out) || out->isPlaceholder;
}

std::optional<AudioSnapshot::CardSwitch> AudioSnapshot::cardOutputToTurnOn() const
{
    for (const auto& c : cards) {
        const bool hasOutput = std::any_of(devices.begin(), devices.end(), [&](const AudioDevice& d) {
            return isOutput(d) && d.cardName == c.name;
        });
        if (c.playsOutput() && hasOutput)
            continue;
        if (const CardProfile* profile = c.bestOutputProfile())
            return CardSwitch{&c, profile};
    }
    return std::nullopt;
}

const AppStream* AudioSnapshot::appStream(uint32_t index, const std::string& appName) const
{
    auto found = std::find_if(appStreams.begin(), appStreams.end(),
                              [&](const AppStream& s) { return s.index == index && s.appName == appName; });
    return found == appStreams.end() ? nullptr : &*found;
}

std::vector<const AppStream*> AudioSnapshot::mutedAppStreams() const
{
    std::vector<const AppStream*> streams;
    for (const auto& stream : appStreams)
        if (stream.isMuted)
            streams.push_back(&stream);
    return streams;
}

std::vector<const AppStream*> AudioSnapshot::silentAppStreams() const
{
    std::vector<const AppStream*> streams;
    for (const auto& stream : appStreams)
        if (stream.volume <= silenceThreshold && stream.canSetVolume)
            streams.push_back(&stream);
    return streams;
}

std::vector<const AppStream*> AudioSnapshot::appStreamsElsewhere() const
{
    std::vector<const AppStream*> streams;
    if (hasNoRealOutput())
        return streams;
    for (const auto& stream : appStreams)
        if (stream.outputID != outputID)
            streams.push_back(&stream);
    return streams;
}

bool AudioSnapshot::isInputActive() const
{
    return inputIOActive || std::any_of(devices.begin(), devices.end(), [](const AudioDevice& d) {
               return d.inputChannels > 0 && d.isRunningInput;
           });
}

namespace {

void appendControlSettings(std::vector<AudioSetting>& settings, const std::string& uid, AudioDirection side,
                           const std::vector<AudioChannelState>& controls)
{
    for (const auto& control : controls) {
        if (control.volume)
            settings.push_back(AudioSetting::Volume{uid, side, control.element, *control.volume});
        if (control.isMuted)
            settings.push_back(AudioSetting::Mute{uid, side, control.element, *control.isMuted});
    }
}

}  // namespace

std::vector<AudioSetting> AudioSnapshot::settings() const
{
    std::vector<AudioSetting> result;
    if (const auto* out = outputDevice())
        result.push_back(AudioSetting::Output{out->uid});
    if (const auto* in = inputDevice())
        result.push_back(AudioSetting::Input{in->uid});
    if (const auto* alerts = systemOutputDevice())
        result.push_back(AudioSetting::Alerts{alerts->uid});

    for (const auto& d : devices) {
        if (!d.isAlive)
            continue;
        appendControlSettings(result, d.uid, AudioDirection::input, d.controls(AudioDirection::input));
        appendControlSettings(result, d.uid, AudioDirection::output, d.controls(AudioDirection::output));
        if (d.balance)
            result.push_back(AudioSetting::Balance{d.uid, *d.balance});
        if (d.sampleRate)
            result.push_back(AudioSetting::Rate{d.uid, *d.sampleRate});
        if (d.activePort)
            result.push_back(AudioSetting::Port{
                d.uid, d.outputChannels > 0 ? AudioDirection::output : AudioDirection::input, *d.activePort});
    }
    for (const auto& c : cards)
        result.push_back(AudioSetting::Profile{c.name, c.activeProfile});
    for (const auto& stream : appStreams) {
        result.push_back(AudioSetting::AppVolume{stream.index, stream.appName, stream.volume});
        result.push_back(AudioSetting::AppMute{stream.index, stream.appName, stream.isMuted});
        if (const AudioDevice* out = device(stream.outputID))
            result.push_back(AudioSetting::AppOutput{stream.index, stream.appName, out->uid});
    }
    return result;
}

bool AudioSnapshot::confirms(const AudioSetting& setting) const
{
    if (readError)
        return false;
    for (const auto& current : settings())
        if (current.isSameTarget(setting))
            return setting.matches(current);
    return false;
}

}  // namespace sonorel
