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

// The server's own refusals: unknown or dead device, missing or read-only
// property, value out of range.
void validate(const AudioSnapshot& state, const AudioSetting& setting)
{
    const AudioDevice* device = aliveDevice(state, setting.uid());
    if (!device)
        throw AudioRepairError::deviceGone();
    std::vector<AudioChannelState> scratch;
    const bool supported = std::visit(
        [&](const auto& s) {
            using Case = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<Case, AudioSetting::Output>)
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
            else if constexpr (std::is_same_v<Case, AudioSetting::Profile>)
                return device->card
                    && std::any_of(device->card->profiles.begin(), device->card->profiles.end(),
                                   [&](const CardProfile& p) { return p.name == s.value && p.isAvailable; });
            else
                return device->canSetRate
                    && std::any_of(device->availableRates.begin(), device->availableRates.end(),
                                   [&](const ClosedRange<double>& r) { return r.contains(s.value); });
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

void switchCardProfile(AudioSnapshot& state, const std::string& card, const std::string& profile)
{
    const CardProfileKind kind = cardProfileKind(profile);
    for (auto& d : state.devices) {
        if (!d.card || d.card->name != card)
            continue;
        d.card->activeProfile = profile;
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

}  // namespace

void applyToState(AudioSnapshot& state, const AudioSetting& setting)
{
    auto device = std::find_if(state.devices.begin(), state.devices.end(),
                               [&](const AudioDevice& d) { return d.uid == setting.uid(); });
    if (device == state.devices.end())
        return;
    auto& d = *device;
    if (const auto* profile = std::get_if<AudioSetting::Profile>(&setting.value)) {
        if (d.card)
            switchCardProfile(state, d.card->name, profile->value);
        return;
    }
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
        },
        setting.value);
}

QCoro::Task<void> ScriptedRestarter::restart()
{
    ++restarts;
    if (onRestart)
        onRestart();
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
