#pragma once

// What the reads and the writes of PulseAudioSystem share: the main loop
// lock, the waiter that counts running operations, and the callbacks that
// copy a reading out of libpulse. Internal to src/pulse.

#include "audio/audio_repair_error.h"
#include "pulse/pulse_audio_system.h"
#include "pulse/pulse_records.h"

#include <pulse/context.h>
#include <pulse/def.h>
#include <pulse/ext-stream-restore.h>
#include <pulse/introspect.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <chrono>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace sonorel {
namespace pulse {

// Wakes the main loop's waiter once `timeout` has passed. Created and
// destroyed with the main loop locked; its time event fires on libpulse's thread.
class Deadline {
public:
    Deadline(pa_threaded_mainloop* mainloop, std::chrono::milliseconds timeout)
        : m_mainloop(mainloop), m_api(pa_threaded_mainloop_get_api(mainloop))
    {
        timeval when;
        pa_gettimeofday(&when);
        pa_timeval_add(&when, pa_usec_t(std::chrono::microseconds(timeout).count()));
        m_event = m_api->time_new(m_api, &when, &Deadline::fire, this);
    }
    ~Deadline() { m_api->time_free(m_event); }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    bool passed() const { return m_passed; }

private:
    static void fire(pa_mainloop_api*, pa_time_event*, const timeval*, void* self)
    {
        auto* deadline = static_cast<Deadline*>(self);
        deadline->m_passed = true;
        pa_threaded_mainloop_signal(deadline->m_mainloop, 0);
    }

    pa_threaded_mainloop* m_mainloop;
    pa_mainloop_api* m_api;
    pa_time_event* m_event = nullptr;
    bool m_passed = false;
};

inline const char* const unavailableText =
    "The audio service is unavailable. Try checking again or reset the audio service.";
// The stream-restore entry that routes event sounds (alerts).
inline const char* const alertEntryName = "sink-input-by-media-role:event";

class MainloopLock {
public:
    explicit MainloopLock(pa_threaded_mainloop* mainloop) : m_mainloop(mainloop) { pa_threaded_mainloop_lock(m_mainloop); }
    ~MainloopLock() { pa_threaded_mainloop_unlock(m_mainloop); }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

private:
    pa_threaded_mainloop* m_mainloop;
};

// Counts the operations still running; callbacks run on libpulse's thread
// with the main loop locked, as does every access from the waiting side.
struct Waiter {
    pa_threaded_mainloop* mainloop = nullptr;
    int pending = 0;
    bool failed = false;
    bool succeeded = false;
    int error = 0;

    void finish()
    {
        --pending;
        pa_threaded_mainloop_signal(mainloop, 0);
    }
};

inline Properties copyProperties(const pa_proplist* list)
{
    Properties properties;
    void* state = nullptr;
    while (const char* key = pa_proplist_iterate(list, &state))
        if (const char* value = pa_proplist_gets(list, key))
            properties[key] = value;
    return properties;
}

template <typename Info>
DeviceRecord copyDevice(const Info& info, bool isSink)
{
    DeviceRecord d;
    d.isSink = isSink;
    d.index = info.index;
    d.name = info.name ? info.name : "";
    d.description = info.description ? info.description : "";
    d.properties = copyProperties(info.proplist);
    d.rate = info.sample_spec.rate;
    d.bitsPerSample = uint32_t(pa_sample_size(&info.sample_spec) * 8);
    d.isFloat = info.sample_spec.format == PA_SAMPLE_FLOAT32LE || info.sample_spec.format == PA_SAMPLE_FLOAT32BE;
    for (int i = 0; i < info.channel_map.channels; ++i)
        d.channelPositions.push_back(int(info.channel_map.map[i]));
    d.volumes.assign(info.volume.values, info.volume.values + info.volume.channels);
    d.muted = info.mute != 0;
    d.latencyUsec = info.latency;
    d.configuredLatencyUsec = info.configured_latency;
    if (info.active_port && info.active_port->name)
        d.activePort = info.active_port->name;
    for (uint32_t i = 0; info.ports && i < info.n_ports; ++i) {
        const auto* port = info.ports[i];
        if (!port || !port->name)
            continue;
        d.ports.push_back({port->name, port->description ? port->description : "", port->priority,
                           PortAvailable(port->available), int(port->type)});
    }
    d.driver = info.driver ? info.driver : "";
    d.card = info.card;
    if constexpr (std::is_same_v<Info, pa_source_info>)
        d.monitorOf = info.monitor_of_sink;
    return d;
}

inline CardRecord copyCard(const pa_card_info& info)
{
    CardRecord c;
    c.index = info.index;
    c.name = info.name ? info.name : "";
    if (info.active_profile2 && info.active_profile2->name)
        c.activeProfile = info.active_profile2->name;
    for (uint32_t i = 0; info.profiles2 && i < info.n_profiles; ++i) {
        const pa_card_profile_info2* profile = info.profiles2[i];
        if (!profile || !profile->name)
            continue;
        c.profiles.push_back({profile->name, profile->description ? profile->description : "", profile->priority,
                              profile->available != 0, profile->n_sinks, profile->n_sources});
    }
    c.properties = copyProperties(info.proplist);
    return c;
}

template <typename Info>
StreamRecord copyStream(const Info& info, bool isRecording, uint32_t deviceIndex)
{
    StreamRecord s;
    s.isRecording = isRecording;
    s.index = info.index;
    s.clientIndex = info.client;
    s.deviceIndex = deviceIndex;
    s.corked = info.corked != 0;
    s.properties = copyProperties(info.proplist);
    s.rate = info.sample_spec.rate;
    s.resampleMethod = info.resample_method ? info.resample_method : "";
    if (info.has_volume)
        s.volumes.assign(info.volume.values, info.volume.values + info.volume.channels);
    s.muted = info.mute != 0;
    s.volumeWritable = info.has_volume && info.volume_writable;
    return s;
}

inline void onSuccess(pa_context* context, int success, void* userdata)
{
    auto* waiter = static_cast<Waiter*>(userdata);
    waiter->succeeded = success != 0;
    if (!success)
        waiter->error = pa_context_errno(context);
    waiter->finish();
}

inline AudioRepairError rejected(int error)
{
    return AudioRepairError::system("The audio service rejected the change (" + std::to_string(error)
                                    + "). The device may have disconnected or be controlled by another app.");
}

// A libpulse error for a refused command. "No such entity" means the device
// went away between our lookup and the write.
inline AudioRepairError commandRefusal(int paError)
{
    return paError == PA_ERR_NOENTITY ? AudioRepairError::deviceGone() : rejected(paError);
}

}  // namespace pulse

using namespace pulse;

}  // namespace sonorel
