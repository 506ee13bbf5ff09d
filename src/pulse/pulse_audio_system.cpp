#include "pulse/pulse_audio_system.h"

#include "audio/audio_log.h"

#include "pulse/pipewire_bridge.h"
#include "pulse/pulse_internal.h"
#include "pulse/pulse_mapping.h"
#include "pulse/server_cache.h"

#include <pulse/error.h>
#include <pulse/subscribe.h>
#include <pulse/timeval.h>

#include <QLoggingCategory>
#include <QMetaObject>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>

namespace sonorel {

namespace {

// Nobody waits on a subscription; a refused one is worth a line in the journal,
// since every reading then lists everything and changes arrive only with it.
void logRefusedSubscription(pa_context* context, int success)
{
    if (!success)
        qCWarning(audioLog) << "The audio service refused a change subscription:"
                            << pa_strerror(pa_context_errno(context));
}

// Events that come while a reading waits are asked for in one more round; a
// server that keeps changing gets the reading as of the last one.
constexpr int maximumRounds = 3;

// A value no other connection carries, so the PipeWire bridge can find ours.
std::string newConnectionTag()
{
    std::random_device random;
    std::string tag;
    for (int i = 0; i < 4; ++i) {
        char word[9];
        std::snprintf(word, sizeof word, "%08x", unsigned(random()));
        tag += word;
    }
    return tag;
}

constexpr auto changeCoalescing = std::chrono::milliseconds{100};
constexpr auto kernelCardsLifetime = std::chrono::seconds{2};
constexpr auto reconnectInterval = std::chrono::seconds{1};

}  // namespace

PulseAudioSystem::PulseAudioSystem(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_connectionTag(newConnectionTag()),
      m_cache(std::make_unique<ServerCache>())
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
            reportChange();
        }
    });
}

void PulseAudioSystem::reportChange()
{
    // The first event of a burst sets the deadline; later ones never move it,
    // so a stream of events closer than the coalescing time is still read.
    if (m_monitoring && !m_changeCoalescer.isActive())
        m_changeCoalescer.start();
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
    if (state == PA_CONTEXT_READY && !m_cache->subscriptionAsked) {
        // Whichever path made the connection usable, even one a caller gave up
        // waiting for (a server that thawed after a hang): its events are asked for.
        subscribe();
        QMetaObject::invokeMethod(this, [this] { reportChange(); }, Qt::QueuedConnection);
    } else if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!m_monitoring)
                    return;
                // Tell the store at once, then keep trying until the server is back.
                reportChange();
                m_reconnectTimer.start();
            },
            Qt::QueuedConnection);
    }
}

void PulseAudioSystem::serverEvent()
{
    QMetaObject::invokeMethod(this, [this] { reportChange(); }, Qt::QueuedConnection);
}

bool PulseAudioSystem::await(const std::function<std::vector<pa_operation*>()>& start, int& pending)
{
    const MainloopLock lock(m_mainloop);
    if (!m_context || pa_context_get_state(m_context) != PA_CONTEXT_READY)
        return false;
    const auto operations = start();

    {
        const Deadline deadline(m_mainloop, m_options.timeout);
        while (pending > 0 && !deadline.passed() && pa_context_get_state(m_context) == PA_CONTEXT_READY)
            pa_threaded_mainloop_wait(m_mainloop);
    }
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
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, clientName);
    pa_proplist_sets(properties, connectionTagKey, m_connectionTag.c_str());
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "dev.mirthwork.SonorelDoctor");
    m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_mainloop), clientName, properties);
    pa_proplist_free(properties);
    pa_context_set_state_callback(
        m_context, [](pa_context*, void* self) { static_cast<PulseAudioSystem*>(self)->contextStateChanged(); }, this);
    const char* server = m_options.server ? m_options.server->c_str() : nullptr;
    if (pa_context_connect(m_context, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return false;

    auto state = pa_context_get_state(m_context);
    {
        const Deadline deadline(m_mainloop, m_options.timeout);
        while (!deadline.passed() && PA_CONTEXT_IS_GOOD(state) && state != PA_CONTEXT_READY) {
            pa_threaded_mainloop_wait(m_mainloop);
            state = pa_context_get_state(m_context);
        }
    }
    if (state != PA_CONTEXT_READY)
        return false;
    if (const char* address = pa_context_get_server(m_context))
        m_serverAddress = address;
    return true;
}

void PulseAudioSystem::subscribe()
{
    m_cache->subscriptionAsked = true;
    // Always on: the cache lives on these events; monitoring only decides
    // whether the store hears of them.
    pa_context_set_subscribe_callback(
        m_context,
        [](pa_context*, pa_subscription_event_type_t type, uint32_t index, void* self) {
            auto* system = static_cast<PulseAudioSystem*>(self);
            system->m_cache->event(type, index);
            system->serverEvent();
        },
        this);
    const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE
                                             | PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_CARD
                                             | PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT);
    auto subscribed = [](pa_context* context, int success, void* self) {
        static_cast<PulseAudioSystem*>(self)->m_cache->subscribed = success != 0;
        logRefusedSubscription(context, success);
    };
    if (pa_operation* operation = pa_context_subscribe(m_context, mask, subscribed, this))
        pa_operation_unref(operation);

    pa_ext_stream_restore_set_subscribe_cb(
        m_context,
        [](pa_context*, void* self) {
            auto* system = static_cast<PulseAudioSystem*>(self);
            system->m_cache->alertsChanged = true;
            system->serverEvent();
        },
        this);
    // PipeWire's pulse server may not offer the extension's events; the entry is then read every time.
    auto restoreSubscribed = [](pa_context*, int success, void* self) {
        static_cast<PulseAudioSystem*>(self)->m_cache->streamRestoreSubscribed = success != 0;
    };
    if (pa_operation* operation = pa_ext_stream_restore_subscribe(m_context, 1, restoreSubscribed, this))
        pa_operation_unref(operation);
}

void PulseAudioSystem::disconnect()
{
    const MainloopLock lock(m_mainloop);
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_ext_stream_restore_set_subscribe_cb(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
    // A new connection starts with a full listing.
    *m_cache = ServerCache{};
}

std::optional<ServerReading> PulseAudioSystem::read()
{
    if (!connect())
        return std::nullopt;
    ServerReading reading;
    for (int round = 0; round < maximumRounds; ++round) {
        CacheRound request;
        request.mainloop = m_mainloop;
        request.cache = m_cache.get();
        const bool first = round == 0;
        const bool complete = await(
            [&] {
                if (first)
                    reading.ownClientIndex = pa_context_get_index(m_context);
                return request.start(m_context, first);
            },
            request.pending);
        if (!complete || request.failed) {
            disconnect();
            return std::nullopt;
        }
        const MainloopLock lock(m_mainloop);
        if (first)
            reading.server = request.server;
        // A listing taken before the events were confirmed cannot be kept current.
        if (request.listed)
            m_cache->primed = m_cache->subscribed;
        if (!m_cache->primed || !m_cache->hasChanges())
            break;
    }
    const MainloopLock lock(m_mainloop);
    reading.devices = m_cache->devices();
    reading.streams = m_cache->streams();
    reading.monitors = m_cache->monitoredSinks();
    reading.cards = m_cache->cards;
    reading.alertEntry = m_cache->alertEntry;
    reading.streamRestoreRead = m_cache->streamRestoreRead;
    return reading;
}

AudioSnapshot PulseAudioSystem::unreadable(const std::string& message) const
{
    AudioSnapshot snapshot;
    snapshot.capturedAt = systemNow();
    snapshot.readError = message;
    return snapshot;
}

AudioSnapshot PulseAudioSystem::snapshot()
{
    auto reading = read();
    if (!reading) {
        m_devices.clear();
        m_cards.clear();
        m_appStreams.clear();
        m_graphClock.reset();
        return unreadable(unavailableText);
    }
    m_isPipeWire = reading->server.serverName.find("PipeWire") != std::string::npos;
    m_graphClock.reset();
    if (m_isPipeWire)
        takePipeWireDefaults(reading->server, reading->devices);

    AudioSnapshot snapshot = snapshotOf(*reading, m_isPipeWire);
    m_devices.clear();
    for (size_t i = 0; i < snapshot.devices.size(); ++i) {
        const DeviceRecord& record = reading->devices[i];
        AudioDevice& device = snapshot.devices[i];
        const auto alsaCard = intProperty(record.properties, "alsa.card");
        const auto pcm = intProperty(record.properties, "alsa.device");
        if (alsaCard && pcm)
            device.exclusiveOwnerPID =
                exclusiveOwner(m_options.asoundRoot, m_options.procRoot, *alsaCard, *pcm, record.isSink);
        // Looked up by uid; written to by the server's own name.
        m_devices[device.uid] = record;
    }
    snapshot.hardwareCards = kernelCards();
    m_cards = std::move(reading->cards);
    m_appStreams.clear();
    for (const auto& stream : reading->streams)
        if (!stream.isRecording && !isOwnStream(stream, reading->ownClientIndex))
            m_appStreams[stream.index] = stream;
    m_alertEntry = reading->alertEntry;
    if (m_graphClock)
        for (auto& device : snapshot.devices)
            applyGraphClock(device, *m_graphClock);
    if (m_isPipeWire && m_monitoring)
        pipeWire().watch(reading->server.defaultSink);
    m_overloads.showIn(snapshot);
    snapshot.capturedAt = systemNow();
    return snapshot;
}

const std::vector<HardwareCard>& PulseAudioSystem::kernelCards()
{
    // A few dozen files a look: readings that follow each other under a burst
    // of stream events share one.
    const auto now = std::chrono::steady_clock::now();
    if (!m_kernelCardsReadAt || now - *m_kernelCardsReadAt > kernelCardsLifetime) {
        m_kernelCards = hardwareCards(m_options.asoundRoot, m_options.procRoot);
        m_kernelCardsReadAt = now;
    }
    return m_kernelCards;
}

PipeWireBridge& PulseAudioSystem::pipeWire()
{
    if (!m_pipeWire)
        m_pipeWire = std::make_unique<PipeWireBridge>(
            pipeWireRemoteFor(m_serverAddress), m_connectionTag, m_options.timeout,
            [this](const PipeWireBridge::Overload& overload) { overloaded(overload.sink); },
            [this] { reportChange(); });
    return *m_pipeWire;
}

void PulseAudioSystem::takePipeWireDefaults(ServerRecord& server, const std::vector<DeviceRecord>& devices)
{
    // Without the graph's settings the pulse view stands, and rates stay fixed.
    m_graphClock = pipeWire().clock();
    for (const bool isSink : {true, false}) {
        const auto node = pipeWireDefault(isSink, [&](const std::string& name) {
            return std::any_of(devices.begin(), devices.end(),
                               [&](const DeviceRecord& d) { return d.isSink == isSink && d.name == name; });
        });
        if (node)
            (isSink ? server.defaultSink : server.defaultSource) = *node;
    }
}

std::optional<std::string> PulseAudioSystem::pipeWireDefault(bool isSink,
                                                             const std::function<bool(const std::string&)>& exists)
{
    // pipewire-pulse can show a long-lived connection another app's new
    // default seconds late; PipeWire's own metadata has it at once.
    std::string node = defaultNodeOf(pipeWire().defaultsMetadata(), isSink ? "audio.sink" : "audio.source", exists);
    if (node.empty() || !exists(node))
        return std::nullopt;
    return node;
}

void PulseAudioSystem::overloaded(const std::string& sink)
{
    if (!m_monitoring)
        return;
    // A report about an output that is no longer the default is not shown against the new one.
    const auto current = defaultName(true);
    if (!current || *current != sink) {
        if (current && m_pipeWire)
            m_pipeWire->watch(*current);
        return;
    }
    const Date at = systemNow();
    m_overloads.record(at, uidOf(true, *current));
    if (m_onOverload)
        m_onOverload(at);
}

void PulseAudioSystem::forgetOverloads()
{
    m_overloads = {};
}

std::optional<ServerRecord> PulseAudioSystem::readServer()
{
    if (!connect())
        return std::nullopt;
    CacheRound request;
    request.mainloop = m_mainloop;
    request.cache = m_cache.get();
    const bool complete =
        await([&] { return request.start(m_context, true, false); }, request.pending);
    if (!complete || request.failed)
        return std::nullopt;
    return request.server;
}

std::optional<std::string> PulseAudioSystem::defaultName(bool isSink)
{
    const auto server = readServer();
    if (!server)
        return std::nullopt;
    if (m_isPipeWire)
        if (auto node = pipeWireDefault(isSink, [&](const std::string& name) { return known(isSink, name); }))
            return node;
    const std::string& name = isSink ? server->defaultSink : server->defaultSource;
    if (name.empty())
        return std::nullopt;
    return name;
}

bool PulseAudioSystem::known(bool isSink, const std::string& name) const
{
    return std::any_of(m_devices.begin(), m_devices.end(),
                       [&](const auto& entry) { return entry.second.isSink == isSink && entry.second.name == name; });
}

std::string PulseAudioSystem::uidOf(bool isSink, const std::string& name) const
{
    for (const auto& [uid, record] : m_devices)
        if (record.isSink == isSink && record.name == name)
            return uid;
    return name;
}

void PulseAudioSystem::startMonitoring(std::function<void()> onChange, std::function<void(Date)> onOverload)
{
    m_onChange = std::move(onChange);
    m_onOverload = std::move(onOverload);
    m_monitoring = true;
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
}

}  // namespace sonorel
