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

void PulseAudioSystem::apply(const AudioSetting& setting)
{
    std::visit(
        [this](const auto& s) {
            using Case = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<Case, AudioSetting::Volume> || std::is_same_v<Case, AudioSetting::Balance>) {
                // Out of range is refused before the device is looked up.
                if (!std::isfinite(s.value) || s.value < 0 || s.value > 1)
                    throw AudioRepairError::unsupported();
            }
            const DeviceRecord& device = liveDevice(s.uid);
            const std::string name = device.name;
            // PulseAudio sends the change event of a software volume some time
            // after the write's answer: our next reading asks for the object anyway.
            const auto refetch = qScopeGuard([this, isSink = device.isSink, index = device.index] {
                const MainloopLock lock(m_mainloop);
                m_cache->written(isSink, index, std::is_same_v<Case, AudioSetting::Alerts>);
            });
            if constexpr (std::is_same_v<Case, AudioSetting::Output>) {
                if (!device.isSink)
                    throw AudioRepairError::unsupported();
                writeDefault(true, name);
            } else if constexpr (std::is_same_v<Case, AudioSetting::Input>) {
                if (device.isSink)
                    throw AudioRepairError::unsupported();
                writeDefault(false, name);
            } else if constexpr (std::is_same_v<Case, AudioSetting::Alerts>) {
                if (!device.isSink || m_isPipeWire)
                    throw AudioRepairError::unsupported();
                writeAlertDevice(name);
            } else if constexpr (std::is_same_v<Case, AudioSetting::Volume>) {
                if (device.isSink != (s.direction == AudioDirection::output))
                    throw AudioRepairError::unsupported();
                writeVolumes(device, volumesAfterSetting(device.volumes, s.element, s.value));
            } else if constexpr (std::is_same_v<Case, AudioSetting::Balance>) {
                if (!device.isSink)
                    throw AudioRepairError::unsupported();
                writeVolumes(device, volumesWithBalance(device.channelPositions, device.volumes, s.value));
            } else if constexpr (std::is_same_v<Case, AudioSetting::Mute>) {
                // Mute exists on the main element only.
                if (s.element != 0 || device.isSink != (s.direction == AudioDirection::output))
                    throw AudioRepairError::unsupported();
                const int mute = s.value ? 1 : 0;
                const bool isSink = device.isSink;
                runCommand([&](void* w) {
                    return isSink ? pa_context_set_sink_mute_by_name(m_context, name.c_str(), mute, onSuccess, w)
                                  : pa_context_set_source_mute_by_name(m_context, name.c_str(), mute, onSuccess, w);
                });
            } else if constexpr (std::is_same_v<Case, AudioSetting::Profile>) {
                writeProfile(s.uid, device, s.value);
            } else {
                // The pulse server fixes a device's rate for its clients; PipeWire's graph clock can be forced.
                if (!m_isPipeWire)
                    throw AudioRepairError::unsupported();
                writeRate(device.rate, s.value);
            }
        },
        setting.value);
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

void PulseAudioSystem::writeProfile(const std::string& uid, const DeviceRecord& device, const std::string& profile)
{
    const auto card = m_cards.find(device.card);
    if (card == m_cards.end()
        || std::none_of(card->second.profiles.begin(), card->second.profiles.end(),
                        [&](const CardProfileRecord& p) { return p.name == profile; }))
        throw AudioRepairError::unsupported();
    const std::string cardName = card->second.name;
    const uint32_t cardIndex = card->first;
    const bool isSink = device.isSink;
    const bool wasDefault = defaultName(isSink) == device.name;
    runCommand([&](void* w) {
        return pa_context_set_card_profile_by_name(m_context, cardName.c_str(), profile.c_str(), onSuccess, w);
    });
    {
        const MainloopLock lock(m_mainloop);
        m_cache->cardWritten(cardIndex);
    }
    // PipeWire's bluez device makes its new nodes a moment after the answer:
    // wait (bounded) so that the caller's read-back sees the outcome. The
    // readings replace `device`.
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < defaultSettleTime) {
        const AudioSnapshot now = snapshot();
        if (now.readError)
            return;
        const AudioDevice* switched = now.deviceWithUID(uid);
        if (switched && switched->card && switched->card->activeProfile == profile)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The card's old sink or source is gone; a server that chose another
    // default meanwhile must not take the user's choice of this device away.
    const auto now = m_devices.find(uid);
    if (!wasDefault || now == m_devices.end())
        return;
    const std::string name = now->second.name;
    if (defaultName(isSink) != name)
        writeDefault(isSink, name);
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

void PulseAudioSystem::setCardProfile(const std::string& uid, const std::string& profile)
{
    apply(AudioSetting::Profile{uid, profile});
}

}  // namespace sonorel
