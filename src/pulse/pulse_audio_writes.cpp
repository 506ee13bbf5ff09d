#include "pulse/pulse_audio_system.h"

#include "pulse/pipewire_bridge.h"
#include "pulse/pulse_internal.h"
#include "pulse/pulse_mapping.h"
#include "pulse/server_cache.h"

#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <thread>

// The writes: each finds its device on a fresh reading, writes one value and
// reports a refusal as an AudioRepairError; verifying is the caller's job.

namespace sonorel {

namespace {

constexpr auto defaultSettleTime = std::chrono::seconds(3);
constexpr auto staleViewInterval = std::chrono::milliseconds(500);

}  // namespace

const DeviceRecord& PulseAudioSystem::liveDevice(const std::string& uid)
{
    const AudioSnapshot current = snapshot();
    if (current.readError)
        throw AudioRepairError::system(*current.readError);
    auto found = m_devices.find(uid);
    if (found == m_devices.end())
        throw AudioRepairError::deviceGone();
    return found->second;
}

void PulseAudioSystem::runCommand(const std::function<pa_operation*(void*)>& start)
{
    Waiter waiter;
    waiter.mainloop = m_mainloop;
    const bool complete = await(
        [&] {
            pa_operation* operation = start(&waiter);
            waiter.pending = operation ? 1 : 0;
            if (!operation)
                waiter.error = pa_context_errno(m_context);
            return std::vector<pa_operation*>{operation};
        },
        waiter.pending);
    if (!complete)
        throw AudioRepairError::system(unavailableText);
    if (!waiter.succeeded)
        throw commandRefusal(waiter.error);
}

const StreamRecord& PulseAudioSystem::liveStream(uint32_t stream, const std::string& app)
{
    const AudioSnapshot current = snapshot();
    if (current.readError)
        throw AudioRepairError::system(*current.readError);
    // Our own streams are never in the reading, so never written to.
    auto found = m_appStreams.find(stream);
    if (!current.appStream(stream, app) || found == m_appStreams.end())
        throw AudioRepairError::streamGone();
    return found->second;
}

void PulseAudioSystem::apply(const AudioSetting& setting)
{
    std::visit(
        [this, &setting](const auto& s) {
            using Case = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<Case, AudioSetting::Volume> || std::is_same_v<Case, AudioSetting::Balance>
                          || std::is_same_v<Case, AudioSetting::AppVolume>) {
                // Out of range is refused before the device is looked up.
                if (!std::isfinite(s.value) || s.value < 0 || s.value > 1)
                    throw AudioRepairError::unsupported();
            }
            if constexpr (std::is_same_v<Case, AudioSetting::Profile>)
                writeProfile(s.card, s.value);
            else if constexpr (std::is_same_v<Case, AudioSetting::AppVolume>
                               || std::is_same_v<Case, AudioSetting::AppMute>
                               || std::is_same_v<Case, AudioSetting::AppOutput>)
                writeAppStream(setting);
            else
                writeDevice(setting);
        },
        setting.value);
}

void PulseAudioSystem::writeDevice(const AudioSetting& setting)
{
    const DeviceRecord& device = liveDevice(setting.uid());
    const std::string name = device.name;
    const bool isSink = device.isSink;
    // PulseAudio sends the change event of a software volume some time
    // after the write's answer: our next reading asks for the object anyway.
    const auto refetch = qScopeGuard([this, isSink, index = device.index,
                                      alerts = std::holds_alternative<AudioSetting::Alerts>(setting.value)] {
        const MainloopLock lock(m_mainloop);
        m_cache->written(isSink, index, alerts);
    });
    std::visit(
        [&](const auto& s) {
            using Case = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<Case, AudioSetting::Output>) {
                if (!isSink)
                    throw AudioRepairError::unsupported();
                writeDefault(true, name);
            } else if constexpr (std::is_same_v<Case, AudioSetting::Input>) {
                if (isSink)
                    throw AudioRepairError::unsupported();
                writeDefault(false, name);
            } else if constexpr (std::is_same_v<Case, AudioSetting::Alerts>) {
                if (!isSink || m_isPipeWire)
                    throw AudioRepairError::unsupported();
                writeAlertDevice(name);
            } else if constexpr (std::is_same_v<Case, AudioSetting::Volume>) {
                if (isSink != (s.direction == AudioDirection::output))
                    throw AudioRepairError::unsupported();
                writeVolumes(device, volumesAfterSetting(device.volumes, s.element, s.value));
            } else if constexpr (std::is_same_v<Case, AudioSetting::Balance>) {
                if (!isSink)
                    throw AudioRepairError::unsupported();
                writeVolumes(device, volumesWithBalance(device.channelPositions, device.volumes, s.value));
            } else if constexpr (std::is_same_v<Case, AudioSetting::Mute>) {
                // Mute exists on the main element only.
                if (s.element != 0 || isSink != (s.direction == AudioDirection::output))
                    throw AudioRepairError::unsupported();
                const int mute = s.value ? 1 : 0;
                runCommand([&](void* w) {
                    return isSink ? pa_context_set_sink_mute_by_name(m_context, name.c_str(), mute, onSuccess, w)
                                  : pa_context_set_source_mute_by_name(m_context, name.c_str(), mute, onSuccess, w);
                });
            } else if constexpr (std::is_same_v<Case, AudioSetting::Port>) {
                if (isSink != (s.direction == AudioDirection::output)
                    || std::none_of(device.ports.begin(), device.ports.end(),
                                 [&](const PortRecord& p) { return p.name == s.value; }))
                    throw AudioRepairError::unsupported();
                runCommand([&](void* w) {
                    return isSink ? pa_context_set_sink_port_by_name(m_context, name.c_str(), s.value.c_str(),
                                                                     onSuccess, w)
                                  : pa_context_set_source_port_by_name(m_context, name.c_str(), s.value.c_str(),
                                                                       onSuccess, w);
                });
            } else if constexpr (std::is_same_v<Case, AudioSetting::Rate>) {
                // The pulse server fixes a device's rate for its clients; PipeWire's graph clock can be forced.
                if (!m_isPipeWire)
                    throw AudioRepairError::unsupported();
                writeRate(device.rate, s.value);
            } else {
                throw AudioRepairError::unsupported();
            }
        },
        setting.value);
}

void PulseAudioSystem::writeAppStream(const AudioSetting& setting)
{
    const auto [index, app] = *setting.appStream();
    const StreamRecord& stream = liveStream(index, app);
    const auto refetch = qScopeGuard([this, index = index] {
        const MainloopLock lock(m_mainloop);
        m_cache->streamWritten(index);
    });
    std::visit(
        [&](const auto& s) {
            using Case = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<Case, AudioSetting::AppVolume>) {
                const auto volumes = volumesAfterSetting(stream.volumes, 0, s.value);
                if (!stream.volumeWritable || !volumes)
                    throw AudioRepairError::unsupported();
                pa_cvolume cv;
                pa_cvolume_init(&cv);
                cv.channels = uint8_t(volumes->size());
                std::copy(volumes->begin(), volumes->end(), cv.values);
                runCommand([&](void* w) { return pa_context_set_sink_input_volume(m_context, index, &cv, onSuccess, w); });
            } else if constexpr (std::is_same_v<Case, AudioSetting::AppMute>) {
                runCommand([&](void* w) {
                    return pa_context_set_sink_input_mute(m_context, index, s.value ? 1 : 0, onSuccess, w);
                });
            } else if constexpr (std::is_same_v<Case, AudioSetting::AppOutput>) {
                auto target = m_devices.find(s.uid);
                if (target == m_devices.end())
                    throw AudioRepairError::deviceGone();
                if (!target->second.isSink)
                    throw AudioRepairError::unsupported();
                const uint32_t sink = target->second.index;
                runCommand([&](void* w) {
                    return pa_context_move_sink_input_by_index(m_context, index, sink, onSuccess, w);
                });
            }
        },
        setting.value);
    // WirePlumber, not pipewire-pulse, moves the stream a moment after the
    // answer, and pipewire-pulse shows a stream's new mute or volume only once
    // its node has applied it, later on a busy machine: wait (bounded) so the
    // caller's read-back sees the change.
    if (!m_isPipeWire && !std::holds_alternative<AudioSetting::AppOutput>(setting.value))
        return;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < defaultSettleTime) {
        const AudioSnapshot now = snapshot();
        if (now.readError || !now.appStream(index, app) || now.confirms(setting))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void PulseAudioSystem::writeDefault(bool isSink, const std::string& name)
{
    const auto write = [&] {
        runCommand([&](void* w) {
            return isSink ? pa_context_set_default_sink(m_context, name.c_str(), onSuccess, w)
                          : pa_context_set_default_source(m_context, name.c_str(), onSuccess, w);
        });
    };
    write();
    // WirePlumber, not pipewire-pulse, decides the default a moment after the
    // write, later still on a busy machine, and PipeWire's metadata may show
    // it later than pipewire-pulse: wait (bounded) so that the caller's
    // read-back sees the outcome. A frozen server ends the wait at
    // its first unanswered look.
    if (!m_isPipeWire)
        return;
    const auto start = std::chrono::steady_clock::now();
    auto lastConnect = start;
    bool writtenAgain = false;
    while (std::chrono::steady_clock::now() - start < defaultSettleTime) {
        // A session manager that was still settling (restoring its saved
        // defaults) can overrule the first write; the user's choice is made once more.
        if (!writtenAgain && std::chrono::steady_clock::now() - start > defaultSettleTime / 2) {
            writtenAgain = true;
            write();
        }
        const auto server = readServer();
        if (!server)
            return;
        // PipeWire's metadata, which readings follow, must show it too.
        if ((isSink ? server->defaultSink : server->defaultSource) == name) {
            pipeWire().clock();
            const auto node =
                pipeWireDefault(isSink, [&](const std::string& n) { return n == name || known(isSink, n); });
            if (!node || *node == name)
                return;
        }
        if (std::chrono::steady_clock::now() - lastConnect > staleViewInterval) {
            // pipewire-pulse can keep showing one connection the old default; a
            // fresh connection sees what WirePlumber decided.
            disconnect();
            if (!connect())
                return;
            lastConnect = std::chrono::steady_clock::now();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void PulseAudioSystem::writeVolumes(const DeviceRecord& device, const std::optional<std::vector<uint32_t>>& volumes)
{
    if (!volumes)
        throw AudioRepairError::unsupported();
    pa_cvolume cv;
    pa_cvolume_init(&cv);
    cv.channels = uint8_t(volumes->size());
    std::copy(volumes->begin(), volumes->end(), cv.values);
    const std::string name = device.name;
    const bool isSink = device.isSink;
    runCommand([&](void* w) {
        return isSink ? pa_context_set_sink_volume_by_name(m_context, name.c_str(), &cv, onSuccess, w)
                      : pa_context_set_source_volume_by_name(m_context, name.c_str(), &cv, onSuccess, w);
    });
}

void PulseAudioSystem::writeAlertDevice(const std::string& sinkName)
{
    // The entry's saved volume and mute are written back unchanged.
    pa_ext_stream_restore_info entry{};
    entry.name = alertEntryName;
    entry.device = sinkName.c_str();
    pa_channel_map_init(&entry.channel_map);
    pa_cvolume_init(&entry.volume);
    if (m_alertEntry) {
        entry.channel_map.channels = uint8_t(m_alertEntry->channelPositions.size());
        for (size_t i = 0; i < m_alertEntry->channelPositions.size(); ++i)
            entry.channel_map.map[i] = pa_channel_position_t(m_alertEntry->channelPositions[i]);
        entry.volume.channels = uint8_t(m_alertEntry->volumes.size());
        std::copy(m_alertEntry->volumes.begin(), m_alertEntry->volumes.end(), entry.volume.values);
        entry.mute = m_alertEntry->muted ? 1 : 0;
    }
    runCommand([&](void* w) {
        return pa_ext_stream_restore_write(m_context, PA_UPDATE_REPLACE, &entry, 1, 1, onSuccess, w);
    });
}

void PulseAudioSystem::writeRate(uint32_t unforcedRate, double rate)
{
    // The reading that found the device has just read the clock too.
    if (!m_graphClock)
        throw AudioRepairError::system(unavailableText);
    const auto forced =
        forceRateFor(rate, *m_graphClock, unforcedRate > 0 ? std::optional(unforcedRate) : std::nullopt);
    if (!forced)
        throw AudioRepairError::unsupported();
    if (const int result = pipeWire().forceRate(*forced); result == -EPIPE || result == -ETIMEDOUT)
        throw AudioRepairError::system(unavailableText);
    else if (result < 0)
        throw rejected(-result);
}

namespace {

// How many of a reading's devices, in one direction, belong to a card.
size_t devicesOf(const AudioSnapshot& snapshot, const std::string& card, bool outputs)
{
    return size_t(std::count_if(snapshot.devices.begin(), snapshot.devices.end(), [&](const AudioDevice& d) {
        return d.cardName == card && (outputs ? d.outputChannels > 0 : d.inputChannels > 0);
    }));
}

bool isCardsDevice(const AudioDevice* device, const std::string& card)
{
    return device && device->cardName == card;
}

}  // namespace

void PulseAudioSystem::writeProfile(const std::string& cardName, const std::string& profile)
{
    const AudioSnapshot before = snapshot();
    if (before.readError)
        throw AudioRepairError::system(*before.readError);
    const auto card = std::find_if(m_cards.begin(), m_cards.end(),
                                   [&](const auto& entry) { return entry.second.name == cardName; });
    if (card == m_cards.end())
        throw AudioRepairError::deviceGone();
    const auto& profiles = card->second.profiles;
    const auto target = std::find_if(profiles.begin(), profiles.end(),
                                     [&](const CardProfileRecord& p) { return p.name == profile; });
    if (target == profiles.end())
        throw AudioRepairError::unsupported();
    const uint32_t cardIndex = card->first;
    const uint32_t sinks = target->sinks, sources = target->sources;
    const bool hadOutput = isCardsDevice(before.outputDevice(), cardName);
    const bool hadInput = isCardsDevice(before.inputDevice(), cardName);
    runCommand([&](void* w) {
        return pa_context_set_card_profile_by_index(m_context, cardIndex, profile.c_str(), onSuccess, w);
    });
    {
        const MainloopLock lock(m_mainloop);
        m_cache->cardWritten(cardIndex);
    }
    // The server (PipeWire's bluez and ALSA devices all the more) makes the
    // profile's sinks and sources a moment after the answer: wait (bounded) so
    // that the caller's read-back sees the outcome.
    AudioSnapshot now;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < defaultSettleTime) {
        now = snapshot();
        if (now.readError)
            return;
        const AudioCard* switched = now.card(cardName);
        if (switched && switched->activeProfile == profile && devicesOf(now, cardName, true) == sinks
            && devicesOf(now, cardName, false) == sources)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The card's old sink or source is gone; a server that chose another
    // default meanwhile must not take the user's choice of this card away.
    for (const bool isSink : {true, false}) {
        if (!(isSink ? hadOutput : hadInput) || isCardsDevice(isSink ? now.outputDevice() : now.inputDevice(), cardName))
            continue;
        for (const auto& d : now.devices)
            if (d.cardName == cardName && (isSink ? d.outputChannels : d.inputChannels) > 0) {
                writeDefault(isSink, m_devices.at(d.uid).name);
                break;
            }
    }
}

std::string PulseAudioSystem::rateChangeNote() const
{
    return m_isPipeWire ? " PipeWire runs the whole audio graph at this rate, so every device uses it." : "";
}

void PulseAudioSystem::setDefaultOutput(const std::string& uid)
{
    apply(AudioSetting::Output{uid});
}

void PulseAudioSystem::setDefaultInput(const std::string& uid)
{
    apply(AudioSetting::Input{uid});
}

void PulseAudioSystem::setNominalRate(const std::string& uid, double rate)
{
    apply(AudioSetting::Rate{uid, rate});
}

void PulseAudioSystem::setCardProfile(const std::string& card, const std::string& profile)
{
    apply(AudioSetting::Profile{card, profile});
}

}  // namespace sonorel
