#include "support/scripted_audio_system.h"

#include <algorithm>

namespace sonorel::testing {

void ScriptedAudioSystem::beforeRead(int read, std::function<void(AudioSnapshot&)> change)
{
    m_beforeRead[read].push_back(std::move(change));
}

void ScriptedAudioSystem::failRead(int read, std::string message)
{
    m_failingReads[read] = std::move(message);
}

void ScriptedAudioSystem::slowWrites(SettingFilter which, int hiddenReads)
{
    m_slow.emplace_back(std::move(which), hiddenReads);
}

void ScriptedAudioSystem::refuseWrites(SettingFilter which, AudioRepairError error)
{
    m_refused.emplace_back(std::move(which), std::move(error));
}

AudioSnapshot ScriptedAudioSystem::snapshot()
{
    ++reads;
    for (auto& change : m_beforeRead[reads])
        change(state);
    for (auto& pending : m_pending)
        if (pending.hiddenReads-- == 0)
            applyToState(state, pending.setting);
    std::erase_if(m_pending, [](const Pending& p) { return p.hiddenReads < 0; });

    if (auto failing = m_failingReads.find(reads); failing != m_failingReads.end()) {
        AudioSnapshot unreadable;
        unreadable.capturedAt = state.capturedAt;
        unreadable.readError = failing->second;
        return unreadable;
    }
    return state;
}

namespace {

const AudioDevice* aliveDevice(const AudioSnapshot& state, const std::string& uid)
{
    auto found = std::find_if(state.devices.begin(), state.devices.end(),
                              [&uid](const AudioDevice& d) { return d.isAlive && d.uid == uid; });
    return found == state.devices.end() ? nullptr : &*found;
}

const AudioChannelState* controlOf(const AudioDevice& device, AudioDirection side, uint32_t element,
                                   std::vector<AudioChannelState>& scratch)
{
    scratch = device.controls(side);
    auto found = std::find_if(scratch.begin(), scratch.end(),
                              [element](const AudioChannelState& c) { return c.element == element; });
    return found == scratch.end() ? nullptr : &*found;
}

const AppStream* streamOf(const AudioSnapshot& state, const AudioSetting& setting)
{
    const auto stream = setting.appStream();
    return stream ? state.appStream(stream->first, stream->second) : nullptr;
}

// The server's own refusals: unknown or dead device, card or stream, missing
// or read-only property, value out of range.
void validate(const AudioSnapshot& state, const AudioSetting& setting)
{
    if (const auto* profile = std::get_if<AudioSetting::Profile>(&setting.value)) {
        const AudioCard* card = state.card(profile->card);
        if (!card)
            throw AudioRepairError::deviceGone();
        const CardProfile* target = card->profile(profile->value);
        if (!target || !target->isAvailable)
            throw AudioRepairError::unsupported();
        return;
    }
    if (setting.appStream() && !streamOf(state, setting))
        throw AudioRepairError::streamGone();
    if (setting.uid().empty())
        return;
    const AudioDevice* device = aliveDevice(state, setting.uid());
    if (!device)
        throw AudioRepairError::deviceGone();
    std::vector<AudioChannelState> scratch;
    const bool supported = std::visit(
        [&](const auto& s) {
            using Case = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<Case, AudioSetting::Output> || std::is_same_v<Case, AudioSetting::AppOutput>)
                return device->outputChannels > 0;
            else if constexpr (std::is_same_v<Case, AudioSetting::Input>)
                return device->inputChannels > 0;
            else if constexpr (std::is_same_v<Case, AudioSetting::Alerts>)
                return device->outputChannels > 0 && state.canSetSystemOutput;
            else if constexpr (std::is_same_v<Case, AudioSetting::Volume>) {
                const auto* c = controlOf(*device, s.direction, s.element, scratch);
                return c && c->volume && c->canSetVolume && s.value >= 0 && s.value <= 1;
            } else if constexpr (std::is_same_v<Case, AudioSetting::Mute>) {
                const auto* c = controlOf(*device, s.direction, s.element, scratch);
                return c && c->isMuted && c->canSetMute;
            } else if constexpr (std::is_same_v<Case, AudioSetting::Balance>)
                return device->balance && device->canSetBalance;
            else if constexpr (std::is_same_v<Case, AudioSetting::Port>)
                return device->port(s.value) != nullptr;
            else if constexpr (std::is_same_v<Case, AudioSetting::Rate>)
                return device->canSetRate
                    && std::any_of(device->availableRates.begin(), device->availableRates.end(),
                                   [&](const ClosedRange<double>& r) { return r.contains(s.value); });
            else
                return false;
        },
        setting.value);
    if (!supported)
        throw AudioRepairError::unsupported();
}

}  // namespace

void ScriptedAudioSystem::apply(const AudioSetting& setting)
{
    for (const auto& [which, error] : m_refused)
        if (which(setting))
            throw error;
    validate(state, setting);
    writes.push_back(setting);
    for (const auto& [which, hiddenReads] : m_slow) {
        if (which(setting)) {
            m_pending.push_back({setting, hiddenReads});
            return;
        }
    }
    applyToState(state, setting);
}

namespace {

// A Bluetooth card keeps its devices (and their uids) and changes their rate;
// the microphone lives only in a call profile.
void switchBluetoothProfile(AudioSnapshot& state, const std::string& card, CardProfileKind kind)
{
    for (auto& d : state.devices) {
        if (d.cardName != card)
            continue;
        // A new sink or source, which stays the default where the old one was.
        const AudioObjectID renewed = d.id + 100;
        for (auto* id : {&state.outputID, &state.inputID, &state.systemOutputID})
            if (*id == d.id)
                *id = renewed;
        d.id = renewed;
        if (d.outputChannels > 0 && kind != CardProfileKind::other)
            d.sampleRate = kind == CardProfileKind::highFidelity ? 48000 : 16000;
        if (d.inputChannels > 0)
            d.isAlive = kind == CardProfileKind::call;
    }
}

// Any other card makes its devices anew: the old profile's sink and source
// go, the new profile's come, named after the card and profile. A default
// that went away (or stood in as the placeholder) moves to the new device.
void switchSoundCardProfile(AudioSnapshot& state, const AudioCard& card)
{
    const CardProfile* profile = card.profile(card.activeProfile);
    std::erase_if(state.devices, [&](const AudioDevice& d) { return d.cardName == card.name; });
    AudioObjectID next = 1;
    for (const auto& d : state.devices)
        next = std::max(next, d.id + 1);
    const AudioTransport transport = card.bus == "usb" ? AudioTransport::usb : AudioTransport::builtIn;
    auto add = [&](bool output) {
        AudioDevice d;
        d.id = next++;
        d.uid = card.name + "." + card.activeProfile + (output ? ".output" : ".input");
        d.name = card.description + " " + profile->description;
        d.transport = transport;
        d.isAlive = true;
        d.sampleRate = 48000;
        d.availableRates = {{48000, 48000}};
        d.cardName = card.name;
        if (output) {
            d.outputChannels = 2;
            d.volume = 0.5f;
            d.isMuted = false;
            d.canSetVolume = d.canSetMute = true;
        } else {
            d.inputChannels = 2;
            d.inputControls = {AudioChannelState{0, 0.5f, false, true, true, {}}};
        }
        state.devices.push_back(d);
        auto* id = output ? &state.outputID : &state.inputID;
        const AudioDevice* current = state.device(*id);
        if (!current || current->isPlaceholder)
            *id = d.id;
    };
    if (profile && profile->sinks > 0)
        add(true);
    if (profile && profile->sources > 0)
        add(false);
}

void switchCardProfile(AudioSnapshot& state, const std::string& cardName, const std::string& profile)
{
    auto card = std::find_if(state.cards.begin(), state.cards.end(),
                             [&](const AudioCard& c) { return c.name == cardName; });
    if (card == state.cards.end())
        return;
    card->activeProfile = profile;
    if (card->bus == "bluetooth")
        switchBluetoothProfile(state, cardName, cardProfileKind(profile));
    else
        switchSoundCardProfile(state, *card);
}

}  // namespace

void applyToState(AudioSnapshot& state, const AudioSetting& setting)
{
    if (const auto* profile = std::get_if<AudioSetting::Profile>(&setting.value))
        return switchCardProfile(state, profile->card, profile->value);
    if (const auto stream = setting.appStream()) {
        auto found = std::find_if(state.appStreams.begin(), state.appStreams.end(), [&](const AppStream& s) {
            return s.index == stream->first && s.appName == stream->second;
        });
        if (found == state.appStreams.end())
            return;
        if (const auto* volume = std::get_if<AudioSetting::AppVolume>(&setting.value))
            found->volume = volume->value;
        else if (const auto* mute = std::get_if<AudioSetting::AppMute>(&setting.value))
            found->isMuted = mute->value;
        else if (const auto* target = state.deviceWithUID(std::get<AudioSetting::AppOutput>(setting.value).uid))
            found->outputID = target->id;
        return;
    }
    auto device = std::find_if(state.devices.begin(), state.devices.end(),
                               [&](const AudioDevice& d) { return d.uid == setting.uid(); });
    if (device == state.devices.end())
        return;
    auto& d = *device;
    auto control = [&d](AudioDirection side, uint32_t element) -> AudioChannelState* {
        auto& list = side == AudioDirection::input ? d.inputControls : d.outputControls;
        auto found = std::find_if(list.begin(), list.end(), [element](const auto& c) { return c.element == element; });
        return found == list.end() ? nullptr : &*found;
    };
    // The output's main element is the device's main volume and mute.
    auto isMain = [](AudioDirection side, uint32_t element) { return side == AudioDirection::output && element == 0; };
    std::visit(
        [&](const auto& s) {
            using Case = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<Case, AudioSetting::Output>)
                state.outputID = d.id;
            else if constexpr (std::is_same_v<Case, AudioSetting::Input>)
                state.inputID = d.id;
            else if constexpr (std::is_same_v<Case, AudioSetting::Alerts>)
                state.systemOutputID = d.id;
            else if constexpr (std::is_same_v<Case, AudioSetting::Volume>) {
                if (auto* c = control(s.direction, s.element))
                    c->volume = s.value;
                if (isMain(s.direction, s.element))
                    d.volume = s.value;
            } else if constexpr (std::is_same_v<Case, AudioSetting::Mute>) {
                if (auto* c = control(s.direction, s.element))
                    c->isMuted = s.value;
                if (isMain(s.direction, s.element))
                    d.isMuted = s.value;
            } else if constexpr (std::is_same_v<Case, AudioSetting::Balance>)
                d.balance = s.value;
            else if constexpr (std::is_same_v<Case, AudioSetting::Rate>)
                d.sampleRate = s.value;
            else if constexpr (std::is_same_v<Case, AudioSetting::Port>)
                d.activePort = s.value;
        },
        setting.value);
}

QCoro::Task<void> ScriptedRestarter::restart(bool evenIfNotAnswering)
{
    ++restarts;
    if (onRestart)
        onRestart();
    if (unanswered && !evenIfNotAnswering)
        throw AudioRepairError::serverNotAnswering();
    if (error)
        throw *error;
    co_return;
}

QCoro::Task<> ScriptedPause::operator()()
{
    ++count;
    if (auto action = m_actions.find(count); action != m_actions.end())
        action->second();
    if (auto error = m_errors.find(count); error != m_errors.end())
        std::rethrow_exception(error->second);
    co_return;
}

}  // namespace sonorel::testing
