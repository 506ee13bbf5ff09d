#include "pulse/pulse_audio_system.h"

#include "audio/audio_repair_error.h"
#include "pulse/pipewire_bridge.h"
#include "pulse/pulse_mapping.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/ext-stream-restore.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <set>
#include <thread>

namespace sonorel {

using namespace pulse;

namespace {

const char* const unavailableText = "The audio service is unavailable. Try checking again or reset the audio service.";
// The stream-restore entry that routes event sounds (alerts).
const char* const alertEntryName = "sink-input-by-media-role:event";
constexpr auto changeCoalescing = std::chrono::milliseconds{100};
constexpr auto reconnectInterval = std::chrono::seconds{1};

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

Properties copyProperties(const pa_proplist* list)
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
    d.driver = info.driver ? info.driver : "";
    return d;
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
    return s;
}

void onSuccess(pa_context* context, int success, void* userdata)
{
    auto* waiter = static_cast<Waiter*>(userdata);
    waiter->succeeded = success != 0;
    if (!success)
        waiter->error = pa_context_errno(context);
    waiter->finish();
}

AudioRepairError rejected(int error)
{
    return AudioRepairError::system("The audio service rejected the change (" + std::to_string(error)
                                    + "). The device may have disconnected or be controlled by another app.");
}

Date now()
{
    return std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now());
}

std::optional<int> intProperty(const Properties& properties, const char* key)
{
    auto found = properties.find(key);
    if (found == properties.end())
        return std::nullopt;
    try {
        return std::stoi(found->second);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

struct PulseAudioSystem::Reading : Waiter {
    ServerRecord server;
    std::vector<DeviceRecord> devices;
    std::vector<StreamRecord> streams;
    std::optional<AlertEntry> alertEntry;
    bool streamRestoreRead = false;
    uint32_t ownClientIndex = PA_INVALID_INDEX;

    template <typename Info>
    static void onDevice(pa_context*, const Info* info, int eol, void* userdata)
    {
        auto* reading = static_cast<Reading*>(userdata);
        if (eol < 0)
            reading->failed = true;
        if (eol != 0) {
            reading->finish();
            return;
        }
        constexpr bool isSink = std::is_same_v<Info, pa_sink_info>;
        if constexpr (!isSink) {
            // Monitors mirror an output; they are not microphones.
            if (info->monitor_of_sink != PA_INVALID_INDEX)
                return;
        }
        reading->devices.push_back(copyDevice(*info, isSink));
    }

    template <typename Info>
    static void onStream(pa_context*, const Info* info, int eol, void* userdata)
    {
        auto* reading = static_cast<Reading*>(userdata);
        if (eol < 0)
            reading->failed = true;
        if (eol != 0) {
            reading->finish();
            return;
        }
        if constexpr (std::is_same_v<Info, pa_sink_input_info>)
            reading->streams.push_back(copyStream(*info, false, info->sink));
        else
            reading->streams.push_back(copyStream(*info, true, info->source));
    }

    static void onServer(pa_context*, const pa_server_info* info, void* userdata)
    {
        auto* reading = static_cast<Reading*>(userdata);
        if (!info) {
            reading->failed = true;
        } else {
            reading->server.serverName = info->server_name ? info->server_name : "";
            reading->server.defaultSink = info->default_sink_name ? info->default_sink_name : "";
            reading->server.defaultSource = info->default_source_name ? info->default_source_name : "";
        }
        reading->finish();
    }

    static void onStreamRestore(pa_context*, const pa_ext_stream_restore_info* info, int eol, void* userdata)
    {
        auto* reading = static_cast<Reading*>(userdata);
        if (eol != 0) {
            // Without the extension alerts follow the default output.
            reading->streamRestoreRead = eol > 0;
            reading->finish();
            return;
        }
        if (!info->name || std::string(info->name) != alertEntryName)
            return;
        AlertEntry entry;
        if (info->device && *info->device)
            entry.device = info->device;
        for (int i = 0; i < info->channel_map.channels; ++i)
            entry.channelPositions.push_back(int(info->channel_map.map[i]));
        entry.volumes.assign(info->volume.values, info->volume.values + info->volume.channels);
        entry.muted = info->mute != 0;
        reading->alertEntry = std::move(entry);
    }
};

PulseAudioSystem::PulseAudioSystem(Options options, QObject* parent) : QObject(parent), m_options(std::move(options))
{
    m_mainloop = pa_threaded_mainloop_new();
    pa_threaded_mainloop_start(m_mainloop);

    m_changeCoalescer.setSingleShot(true);
    m_changeCoalescer.setInterval(changeCoalescing);
    QObject::connect(&m_changeCoalescer, &QTimer::timeout, this, [this] {
        if (m_monitoring && m_onChange)
            m_onChange();
    });
    m_reconnectTimer.setInterval(reconnectInterval);
    QObject::connect(&m_reconnectTimer, &QTimer::timeout, this, [this] {
        if (connect()) {
            m_reconnectTimer.stop();
            m_changeCoalescer.start();
        }
    });
}

PulseAudioSystem::~PulseAudioSystem()
{
    m_monitoring = false;
    disconnect();
    pa_threaded_mainloop_stop(m_mainloop);
    pa_threaded_mainloop_free(m_mainloop);
}

void PulseAudioSystem::contextStateChanged()
{
    pa_threaded_mainloop_signal(m_mainloop, 0);
    const auto state = pa_context_get_state(m_context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!m_monitoring)
                    return;
                // Tell the store at once, then keep trying until the server is back.
                m_changeCoalescer.start();
                m_reconnectTimer.start();
            },
            Qt::QueuedConnection);
}

void PulseAudioSystem::serverEvent()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_monitoring)
                m_changeCoalescer.start();
        },
        Qt::QueuedConnection);
}

bool PulseAudioSystem::await(const std::function<std::vector<pa_operation*>()>& start, int& pending)
{
    const MainloopLock lock(m_mainloop);
    if (!m_context || pa_context_get_state(m_context) != PA_CONTEXT_READY)
        return false;
    const auto operations = start();

    struct Deadline {
        pa_threaded_mainloop* mainloop;
        bool passed = false;
    } deadline{m_mainloop};
    timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, pa_usec_t(std::chrono::microseconds(m_options.timeout).count()));
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_mainloop);
    pa_time_event* timer = api->time_new(
        api, &when,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
            auto* d = static_cast<Deadline*>(userdata);
            d->passed = true;
            pa_threaded_mainloop_signal(d->mainloop, 0);
        },
        &deadline);

    while (pending > 0 && !deadline.passed && pa_context_get_state(m_context) == PA_CONTEXT_READY)
        pa_threaded_mainloop_wait(m_mainloop);

    api->time_free(timer);
    // A cancelled operation never calls back, so nothing touches the waiter after this.
    for (pa_operation* operation : operations) {
        if (!operation)
            continue;
        if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
            pa_operation_cancel(operation);
        pa_operation_unref(operation);
    }
    return pending == 0;
}

bool PulseAudioSystem::connect()
{
    {
        const MainloopLock lock(m_mainloop);
        if (m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY)
            return true;
    }
    disconnect();

    const MainloopLock lock(m_mainloop);
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Sonorel Doctor");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "dev.mirthwork.SonorelDoctor");
    m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_mainloop), "Sonorel Doctor", properties);
    pa_proplist_free(properties);
    pa_context_set_state_callback(
        m_context, [](pa_context*, void* self) { static_cast<PulseAudioSystem*>(self)->contextStateChanged(); }, this);
    const char* server = m_options.server ? m_options.server->c_str() : nullptr;
    if (pa_context_connect(m_context, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return false;

    bool passed = false;
    struct Deadline {
        pa_threaded_mainloop* mainloop;
        bool* passed;
    } deadline{m_mainloop, &passed};
    timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, pa_usec_t(std::chrono::microseconds(m_options.timeout).count()));
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_mainloop);
    pa_time_event* timer = api->time_new(
        api, &when,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
            auto* d = static_cast<Deadline*>(userdata);
            *d->passed = true;
            pa_threaded_mainloop_signal(d->mainloop, 0);
        },
        &deadline);
    auto state = pa_context_get_state(m_context);
    while (!passed && PA_CONTEXT_IS_GOOD(state) && state != PA_CONTEXT_READY) {
        pa_threaded_mainloop_wait(m_mainloop);
        state = pa_context_get_state(m_context);
    }
    api->time_free(timer);
    if (state != PA_CONTEXT_READY)
        return false;

    pa_context_set_subscribe_callback(
        m_context,
        [](pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
            static_cast<PulseAudioSystem*>(self)->serverEvent();
        },
        this);
    if (m_monitoring) {
        // The subscription's outcome shows in the next change or reading; nobody waits on it here.
        const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE
                                                 | PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_CARD
                                                 | PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT);
        if (pa_operation* operation = pa_context_subscribe(m_context, mask, nullptr, nullptr))
            pa_operation_unref(operation);
    }
    return true;
}

void PulseAudioSystem::disconnect()
{
    const MainloopLock lock(m_mainloop);
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

std::optional<PulseAudioSystem::Reading> PulseAudioSystem::read()
{
    if (!connect())
        return std::nullopt;
    Reading reading;
    reading.mainloop = m_mainloop;
    const bool complete = await(
        [&] {
            reading.ownClientIndex = pa_context_get_index(m_context);
            std::vector<pa_operation*> operations = {
                pa_context_get_server_info(m_context, Reading::onServer, &reading),
                pa_context_get_sink_info_list(m_context, Reading::onDevice<pa_sink_info>, &reading),
                pa_context_get_source_info_list(m_context, Reading::onDevice<pa_source_info>, &reading),
                pa_context_get_sink_input_info_list(m_context, Reading::onStream<pa_sink_input_info>, &reading),
                pa_context_get_source_output_info_list(m_context, Reading::onStream<pa_source_output_info>, &reading),
                pa_ext_stream_restore_read(m_context, Reading::onStreamRestore, &reading),
            };
            reading.pending = int(std::count_if(operations.begin(), operations.end(), [](auto* op) { return op; }));
            return operations;
        },
        reading.pending);
    if (!complete || reading.failed) {
        disconnect();
        return std::nullopt;
    }
    return reading;
}

AudioSnapshot PulseAudioSystem::unreadable(const std::string& message) const
{
    AudioSnapshot snapshot;
    snapshot.capturedAt = now();
    snapshot.readError = message;
    return snapshot;
}

AudioSnapshot PulseAudioSystem::snapshot()
{
    auto reading = read();
    if (!reading) {
        m_devices.clear();
        m_graphClock.reset();
        return unreadable(unavailableText);
    }
    m_isPipeWire = reading->server.serverName.find("PipeWire") != std::string::npos;

    AudioSnapshot snapshot;
    std::set<uint32_t> runningSources;
    for (const auto& stream : reading->streams) {
        if (!stream.isRecording || stream.corked || stream.clientIndex == reading->ownClientIndex)
            continue;
        runningSources.insert(stream.deviceIndex);
        snapshot.inputIOActive = true;
    }

    m_devices.clear();
    for (const auto& record : reading->devices) {
        AudioDevice device = toAudioDevice(record, !record.isSink && runningSources.count(record.index));
        const auto card = intProperty(record.properties, "alsa.card");
        const auto pcm = intProperty(record.properties, "alsa.device");
        if (card && pcm)
            device.exclusiveOwnerPID =
                exclusiveOwner(m_options.asoundRoot, m_options.procRoot, *card, *pcm, record.isSink);
        if (record.name == reading->server.defaultSink)
            snapshot.outputID = device.id;
        if (record.name == reading->server.defaultSource)
            snapshot.inputID = device.id;
        m_devices[record.name] = record;
        snapshot.devices.push_back(std::move(device));
    }

    m_alertEntry = reading->alertEntry;
    const std::string alertSink =
        m_alertEntry && !m_alertEntry->device.empty() ? m_alertEntry->device : reading->server.defaultSink;
    for (const auto& device : snapshot.devices)
        if (device.uid == alertSink && device.outputChannels > 0)
            snapshot.systemOutputID = device.id;
    // pipewire-pulse accepts a new alert device but never routes by it.
    snapshot.canSetSystemOutput = reading->streamRestoreRead && !m_isPipeWire;

    snapshot.clients = clientsOf(reading->streams, reading->ownClientIndex);
    snapshot.clientActivityKnown = true;
    snapshot.inputActivityKnown = true;
    m_graphClock.reset();
    if (m_isPipeWire)
        addPipeWireReadings(snapshot, reading->server.defaultSink);
    m_overloads.showIn(snapshot);
    snapshot.capturedAt = now();
    return snapshot;
}

PipeWireBridge& PulseAudioSystem::pipeWire()
{
    if (!m_pipeWire)
        m_pipeWire = std::make_unique<PipeWireBridge>(
            pipeWireRemoteFor(m_options.server), m_options.timeout,
            [this](const PipeWireBridge::Overload& overload) { overloaded(overload.sink); });
    return *m_pipeWire;
}

void PulseAudioSystem::addPipeWireReadings(AudioSnapshot& snapshot, const std::string& defaultSink)
{
    // Without the graph's settings the pulse view stands, and rates stay fixed.
    m_graphClock = pipeWire().clock();
    if (m_graphClock)
        for (auto& device : snapshot.devices)
            applyGraphClock(device, *m_graphClock);
    if (m_monitoring)
        pipeWire().watch(defaultSink);
}

void PulseAudioSystem::overloaded(const std::string& sink)
{
    if (!m_monitoring)
        return;
    // A report about an output that is no longer the default is not shown against the new one.
    const auto current = defaultSinkName();
    if (!current || *current != sink) {
        if (current && m_pipeWire)
            m_pipeWire->watch(*current);
        return;
    }
    const Date at = now();
    m_overloads.record(at, current);
    if (m_onOverload)
        m_onOverload(at);
}

std::optional<std::string> PulseAudioSystem::defaultSinkName()
{
    if (!connect())
        return std::nullopt;
    Reading reading;
    reading.mainloop = m_mainloop;
    const bool complete = await(
        [&] {
            pa_operation* operation = pa_context_get_server_info(m_context, Reading::onServer, &reading);
            reading.pending = operation ? 1 : 0;
            return std::vector{operation};
        },
        reading.pending);
    if (!complete || reading.failed || reading.server.defaultSink.empty())
        return std::nullopt;
    return reading.server.defaultSink;
}

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
        throw rejected(waiter.error);
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
            if constexpr (std::is_same_v<Case, AudioSetting::Output>) {
                if (!device.isSink)
                    throw AudioRepairError::unsupported();
                runCommand([&](void* w) { return pa_context_set_default_sink(m_context, name.c_str(), onSuccess, w); });
                awaitDefault(true, name);
            } else if constexpr (std::is_same_v<Case, AudioSetting::Input>) {
                if (device.isSink)
                    throw AudioRepairError::unsupported();
                runCommand(
                    [&](void* w) { return pa_context_set_default_source(m_context, name.c_str(), onSuccess, w); });
                awaitDefault(false, name);
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
            } else {
                // The pulse server fixes a device's rate for its clients; PipeWire's graph clock can be forced.
                if (!m_isPipeWire)
                    throw AudioRepairError::unsupported();
                writeRate(device.rate, s.value);
            }
        },
        setting.value);
}

void PulseAudioSystem::awaitDefault(bool isSink, const std::string& name)
{
    // WirePlumber, not pipewire-pulse, decides the default a moment after the
    // write; wait (bounded) so that the caller's read-back sees the outcome.
    if (!m_isPipeWire)
        return;
    const auto deadline = std::chrono::steady_clock::now() + m_options.timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        Reading reading;
        reading.mainloop = m_mainloop;
        reading.pending = 1;
        if (!await([&] { return std::vector{pa_context_get_server_info(m_context, Reading::onServer, &reading)}; },
                   reading.pending))
            return;
        if ((isSink ? reading.server.defaultSink : reading.server.defaultSource) == name)
            return;
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

void PulseAudioSystem::startMonitoring(std::function<void()> onChange, std::function<void(Date)> onOverload)
{
    m_onChange = std::move(onChange);
    m_onOverload = std::move(onOverload);
    m_monitoring = true;
    // A fresh connection subscribes as it comes up.
    disconnect();
    if (!connect())
        m_reconnectTimer.start();
}

void PulseAudioSystem::stopMonitoring()
{
    m_monitoring = false;
    m_reconnectTimer.stop();
    m_changeCoalescer.stop();
    m_onChange = nullptr;
    m_onOverload = nullptr;
    if (m_pipeWire)
        m_pipeWire->stopWatching();
    const MainloopLock lock(m_mainloop);
    if (m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY)
        if (pa_operation* operation = pa_context_subscribe(m_context, PA_SUBSCRIPTION_MASK_NULL, nullptr, nullptr))
            pa_operation_unref(operation);
}

}  // namespace sonorel
