#include "pulse/pipewire_bridge.h"

// PipeWire's headers are C: the casts (and the null checks GCC cannot see) in their
// inline functions and method macros are theirs, not ours. The macros are
// wrapped in functions here so that they expand inside this region.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <pipewire/extensions/metadata.h>
#include <pipewire/extensions/profiler.h>
#include <pipewire/impl-module.h>
#include <pipewire/pipewire.h>
#include <spa/param/profiler.h>
#include <spa/pod/iter.h>
#include <spa/pod/parser.h>
#include <spa/utils/dict.h>

namespace {

void addCoreListener(pw_core* core, spa_hook* hook, const pw_core_events* events, void* data)
{
    pw_core_add_listener(core, hook, events, data);
}

void addRegistryListener(pw_registry* registry, spa_hook* hook, const pw_registry_events* events, void* data)
{
    pw_registry_add_listener(registry, hook, events, data);
}

void addMetadataListener(pw_metadata* metadata, spa_hook* hook, const pw_metadata_events* events, void* data)
{
    pw_metadata_add_listener(metadata, hook, events, data);
}

void addClientListener(pw_client* client, spa_hook* hook, const pw_client_events* events, void* data)
{
    pw_client_add_listener(client, hook, events, data);
}

int syncCore(pw_core* core)
{
    return pw_core_sync(core, PW_ID_CORE, 0);
}

int setMetadataProperty(pw_metadata* metadata, const char* key, const char* type, const char* value)
{
    return pw_metadata_set_property(metadata, 0, key, type, value);
}

}  // namespace
#pragma GCC diagnostic pop

#include <QMetaObject>

#include <cerrno>
#include <string_view>

namespace sonorel {

using namespace pulse;

struct PipeWireBridge::ClientProbe {
    pw_proxy* proxy = nullptr;
    spa_hook hook{};
};

struct PipeWireBridge::Hooks {
    spa_hook core{};
    spa_hook registry{};
    spa_hook profiler{};
};

// One bound metadata object and the values of its subject 0.
struct PipeWireBridge::Metadata {
    Metadata(PipeWireBridge* owner, std::string_view metadataName) : bridge(owner), name(metadataName) {}

    PipeWireBridge* bridge = nullptr;
    std::string_view name;
    pw_metadata* proxy = nullptr;
    uint32_t id = 0;
    spa_hook hook{};
    std::map<std::string, std::string> values;
};

class PipeWireBridge::Lock {
public:
    explicit Lock(pw_thread_loop* loop) : m_loop(loop) { pw_thread_loop_lock(m_loop); }
    ~Lock() { pw_thread_loop_unlock(m_loop); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    pw_thread_loop* m_loop;
};

namespace {

PipeWireBridge* bridge(void* self)
{
    return static_cast<PipeWireBridge*>(self);
}

// Event tables start zeroed: the events we do not handle stay null.
const pw_core_events coreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.done = [](void* self, uint32_t id, int seq) { bridge(self)->coreDone(id, seq); };
    events.error = [](void* self, uint32_t id, int, int res, const char*) { bridge(self)->coreError(id, res); };
    return events;
}();

const pw_registry_events registryEvents = [] {
    pw_registry_events events{};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global = [](void* self, uint32_t id, uint32_t, const char* type, uint32_t, const spa_dict* props) {
        bridge(self)->globalAdded(id, type, props);
    };
    events.global_remove = [](void* self, uint32_t id) { bridge(self)->globalRemoved(id); };
    return events;
}();

const pw_metadata_events metadataEvents = [] {
    pw_metadata_events events{};
    events.version = PW_VERSION_METADATA_EVENTS;
    events.property = [](void* data, uint32_t subject, const char* key, const char*, const char* value) {
        auto* metadata = static_cast<PipeWireBridge::Metadata*>(data);
        metadata->bridge->metadataChanged(*metadata, subject, key, value);
        return 0;
    };
    return events;
}();

const pw_client_events clientEvents = [] {
    pw_client_events events{};
    events.version = PW_VERSION_CLIENT_EVENTS;
    events.info = [](void* self, const pw_client_info* info) {
        if (info && info->props)
            bridge(self)->clientProperties(info->props);
    };
    return events;
}();

const pw_profiler_events profilerEvents = [] {
    pw_profiler_events events{};
    events.version = PW_VERSION_PROFILER_EVENTS;
    events.profile = [](void* self, const spa_pod* pod) { bridge(self)->profiled(pod); };
    return events;
}();

// A hook may be removed once only; a zeroed one counts as never added.
void removeHook(spa_hook& hook)
{
    spa_hook_remove(&hook);
    hook = spa_hook{};
}

std::optional<ProfiledNode> nodeBlock(const spa_pod* pod)
{
    int32_t id = 0;
    const char* name = nullptr;
    int64_t previousSignal = 0;
    ProfiledNode node;
    if (spa_pod_parse_struct(pod, SPA_POD_Int(&id), SPA_POD_String(&name), SPA_POD_Long(&previousSignal),
                             SPA_POD_Long(&node.signal), SPA_POD_Long(&node.awake), SPA_POD_Long(&node.finish),
                             SPA_POD_Int(&node.status))
        < 0)
        return std::nullopt;
    node.id = id;
    node.name = name ? name : "";
    return node;
}

std::optional<int32_t> xrunCount(const spa_pod* pod)
{
    int64_t count = 0;
    float load[3] = {};
    int32_t xruns = 0;
    if (spa_pod_parse_struct(pod, SPA_POD_Long(&count), SPA_POD_Float(&load[0]), SPA_POD_Float(&load[1]),
                             SPA_POD_Float(&load[2]), SPA_POD_Int(&xruns))
        < 0)
        return std::nullopt;
    return xruns;
}

// One profiler report: a struct of Profiler objects, one per driver cycle.
// Everything is copied out; the pod dies when the callback returns.
std::vector<ProfiledCycle> cyclesOf(const spa_pod* pod)
{
    std::vector<ProfiledCycle> cycles;
    spa_pod_parser parser;
    spa_pod_frame frame;
    spa_pod_parser_pod(&parser, pod);
    if (spa_pod_parser_push_struct(&parser, &frame) < 0)
        return cycles;
    while (const spa_pod* item = spa_pod_parser_next(&parser)) {
        if (!spa_pod_is_object_type(item, SPA_TYPE_OBJECT_Profiler))
            continue;
        const auto* object = reinterpret_cast<const spa_pod_object*>(item);
        ProfiledCycle cycle;
        bool hasDriver = false;
        for (const spa_pod_prop* prop = spa_pod_prop_first(&object->body);
             spa_pod_prop_is_inside(&object->body, object->pod.size, prop); prop = spa_pod_prop_next(prop)) {
            if (prop->key == SPA_PROFILER_info) {
                cycle.xrunCount = xrunCount(&prop->value).value_or(cycle.xrunCount);
            } else if (prop->key == SPA_PROFILER_driverBlock) {
                if (auto driver = nodeBlock(&prop->value)) {
                    cycle.driver = std::move(*driver);
                    hasDriver = true;
                }
            } else if (prop->key == SPA_PROFILER_followerBlock) {
                if (auto follower = nodeBlock(&prop->value))
                    cycle.followers.push_back(std::move(*follower));
            }
        }
        if (hasDriver)
            cycles.push_back(std::move(cycle));
    }
    return cycles;
}

}  // namespace

PipeWireBridge::PipeWireBridge(std::optional<std::string> remote, std::string connectionTag,
                               std::chrono::milliseconds timeout, std::function<void(const Overload&)> onOverload,
                               std::function<void()> onDefaultsChanged)
    : m_remote(std::move(remote)), m_connectionTag(std::move(connectionTag)), m_timeout(timeout),
      m_onOverload(std::move(onOverload)), m_onDefaultsChanged(std::move(onDefaultsChanged)),
      m_settings(std::make_unique<Metadata>(this, "settings")),
      m_defaults(std::make_unique<Metadata>(this, "default")),
      m_hooks(std::make_unique<Hooks>())
{
    // Safe to call more than once; never undone, as pw_deinit is not counted.
    pw_init(nullptr, nullptr);
    m_loop = pw_thread_loop_new("sonorel-pipewire", nullptr);
    if (!m_loop)
        return;
    m_context = pw_context_new(pw_thread_loop_get_loop(m_loop), nullptr, 0);
    // The profiler's protocol lives in this module; without it the global cannot be bound.
    if (m_context)
        pw_context_load_module(m_context, PW_EXTENSION_MODULE_PROFILER, nullptr, nullptr);
    if (!m_context || pw_thread_loop_start(m_loop) < 0) {
        if (m_context)
            pw_context_destroy(m_context);
        pw_thread_loop_destroy(m_loop);
        m_context = nullptr;
        m_loop = nullptr;
    }
}

PipeWireBridge::~PipeWireBridge()
{
    if (!m_loop)
        return;
    {
        const Lock lock(m_loop);
        disconnect();
    }
    pw_thread_loop_stop(m_loop);
    pw_context_destroy(m_context);
    pw_thread_loop_destroy(m_loop);
}

bool PipeWireBridge::ensureConnected(Deadline deadline)
{
    if (m_core && !m_broken)
        return true;
    disconnect();
    pw_properties* properties =
        m_remote ? pw_properties_new(PW_KEY_REMOTE_NAME, m_remote->c_str(), nullptr) : nullptr;
    m_core = pw_context_connect(m_context, properties, 0);
    if (!m_core)
        return false;
    addCoreListener(m_core, &m_hooks->core, &coreEvents, this);
    m_registry = pw_core_get_registry(m_core, PW_VERSION_REGISTRY, 0);
    addRegistryListener(m_registry, &m_hooks->registry, &registryEvents, this);
    // The globals (and the binds they cause) arrive within the first round trips.
    return roundTrip(deadline);
}

void PipeWireBridge::disconnect()
{
    releaseProfiler();
    releaseProbes();
    release(*m_settings);
    release(*m_defaults);
    if (m_registry) {
        removeHook(m_hooks->registry);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(m_registry));
        m_registry = nullptr;
    }
    if (m_core) {
        removeHook(m_hooks->core);
        pw_core_disconnect(m_core);
        m_core = nullptr;
    }
    m_broken = false;
    m_bound = false;
    m_doneSeq = -1;
    m_profilerID.reset();
    // A restarted PipeWire counts xruns from 0 again.
    m_detector.reset();
}

bool PipeWireBridge::roundTrip(Deadline deadline)
{
    // Objects bound during one round trip send their state in the next.
    do {
        if (!m_core || m_broken)
            return false;
        m_bound = false;
        const int seq = syncCore(m_core);
        while (m_doneSeq != seq && !m_broken) {
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero())
                return false;
            timespec until{};
            pw_thread_loop_get_time(m_loop, &until, std::chrono::nanoseconds(left).count());
            pw_thread_loop_timed_wait_full(m_loop, &until);
        }
    } while (m_bound);
    return !m_broken;
}

std::optional<GraphClock> PipeWireBridge::clock()
{
    if (!m_loop)
        return std::nullopt;
    const Deadline deadline = std::chrono::steady_clock::now() + m_timeout;
    const Lock lock(m_loop);
    bool answered = ensureConnected(deadline) && roundTrip(deadline);
    // A connection that broke since the last call is only noticed now: one fresh try.
    if (!answered && m_broken)
        answered = ensureConnected(deadline) && roundTrip(deadline);
    if (!answered || !m_settings->proxy || !m_sameServer)
        return std::nullopt;
    return graphClockOf(m_settings->values);
}

int PipeWireBridge::forceRate(uint32_t rate)
{
    if (!m_loop)
        return -EPIPE;
    const Deadline deadline = std::chrono::steady_clock::now() + m_timeout;
    const Lock lock(m_loop);
    // The caller has just read the clock: no round trip before the write.
    if (!ensureConnected(deadline))
        return -EPIPE;
    if (!m_settings->proxy || !m_sameServer)
        return -ENOTSUP;
    const std::string value = std::to_string(rate);
    setMetadataProperty(m_settings->proxy, "clock.force-rate", "Spa:Int", value.c_str());
    // The metadata echoes every change to its listeners, so ours is back
    // before the sync's answer if PipeWire took it.
    if (!roundTrip(deadline))
        return m_broken ? -EPIPE : -ETIMEDOUT;
    auto found = m_settings->values.find("clock.force-rate");
    return found != m_settings->values.end() && found->second == value ? 0 : -EIO;
}

void PipeWireBridge::watch(const std::string& sink)
{
    if (!m_loop)
        return;
    const Deadline deadline = std::chrono::steady_clock::now() + m_timeout;
    const Lock lock(m_loop);
    m_sink = sink;
    m_watching = true;
    if (!ensureConnected(deadline))
        return;
    if (!m_profiler && m_profilerID && m_sameServer) {
        bindProfiler();
        roundTrip(deadline);
    }
}

void PipeWireBridge::stopWatching()
{
    if (!m_loop)
        return;
    const Lock lock(m_loop);
    m_watching = false;
    m_sink.clear();
    releaseProfiler();
}

void PipeWireBridge::bindProfiler()
{
    auto* proxy = static_cast<pw_proxy*>(
        pw_registry_bind(m_registry, *m_profilerID, PW_TYPE_INTERFACE_Profiler, PW_VERSION_PROFILER, 0));
    if (!proxy)
        return;
    m_profiler = proxy;
    pw_proxy_add_object_listener(m_profiler, &m_hooks->profiler, &profilerEvents, this);
    m_bound = true;
}

void PipeWireBridge::releaseProfiler()
{
    if (!m_profiler)
        return;
    removeHook(m_hooks->profiler);
    pw_proxy_destroy(m_profiler);
    m_profiler = nullptr;
}

void PipeWireBridge::coreDone(uint32_t id, int seq)
{
    if (id != PW_ID_CORE)
        return;
    m_doneSeq = seq;
    pw_thread_loop_signal(m_loop, false);
}

void PipeWireBridge::coreError(uint32_t id, int res)
{
    // Only a broken connection matters; a refused request shows in its outcome.
    if (id != PW_ID_CORE || res != -EPIPE)
        return;
    m_broken = true;
    pw_thread_loop_signal(m_loop, false);
}

void PipeWireBridge::globalAdded(uint32_t id, const char* type, const spa_dict* props)
{
    const std::string_view kind = type ? type : "";
    if (kind == PW_TYPE_INTERFACE_Metadata && props) {
        const char* name = spa_dict_lookup(props, PW_KEY_METADATA_NAME);
        for (Metadata* metadata : {m_settings.get(), m_defaults.get()}) {
            if (metadata->proxy || !name || metadata->name != name)
                continue;
            metadata->proxy = static_cast<pw_metadata*>(pw_registry_bind(m_registry, id, type, PW_VERSION_METADATA, 0));
            if (!metadata->proxy)
                return;
            metadata->id = id;
            addMetadataListener(metadata->proxy, &metadata->hook, &metadataEvents, metadata);
            m_bound = true;
        }
    } else if (kind == PW_TYPE_INTERFACE_Profiler && !m_profilerID) {
        m_profilerID = id;
        if (m_watching && m_sameServer)
            bindProfiler();
    } else if (kind == PW_TYPE_INTERFACE_Client && !m_sameServer && props) {
        // Only clients that call themselves by our name can be our pulse connection.
        const char* name = spa_dict_lookup(props, PW_KEY_APP_NAME);
        if (name && std::string_view(name) == clientName)
            probeClient(id, type);
    }
}

void PipeWireBridge::probeClient(uint32_t id, const char* type)
{
    auto probe = std::make_unique<ClientProbe>();
    probe->proxy = static_cast<pw_proxy*>(pw_registry_bind(m_registry, id, type, PW_VERSION_CLIENT, 0));
    if (!probe->proxy)
        return;
    addClientListener(reinterpret_cast<pw_client*>(probe->proxy), &probe->hook, &clientEvents, this);
    m_probes.push_back(std::move(probe));
    m_bound = true;
}

void PipeWireBridge::releaseProbes()
{
    for (auto& probe : m_probes) {
        removeHook(probe->hook);
        pw_proxy_destroy(probe->proxy);
    }
    m_probes.clear();
    m_sameServer = false;
}

void PipeWireBridge::clientProperties(const spa_dict* props)
{
    const char* tag = spa_dict_lookup(props, connectionTagKey);
    if (!tag || m_connectionTag != tag || m_sameServer)
        return;
    m_sameServer = true;
    // Found while profiling was wanted: start now.
    if (m_watching && !m_profiler && m_profilerID)
        bindProfiler();
}

void PipeWireBridge::release(Metadata& metadata)
{
    if (!metadata.proxy)
        return;
    removeHook(metadata.hook);
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(metadata.proxy));
    metadata.proxy = nullptr;
    metadata.values.clear();
}

void PipeWireBridge::globalRemoved(uint32_t id)
{
    for (Metadata* metadata : {m_settings.get(), m_defaults.get()})
        if (metadata->proxy && id == metadata->id)
            release(*metadata);
    if (m_profilerID == id) {
        releaseProfiler();
        m_profilerID.reset();
    }
}

void PipeWireBridge::metadataChanged(Metadata& metadata, uint32_t subject, const char* key, const char* value)
{
    if (subject != PW_ID_CORE)
        return;
    if (!key)
        metadata.values.clear();
    else if (!value)
        metadata.values.erase(key);
    else
        metadata.values[key] = value;
    // Another app's new default: monitoring hears of it at once.
    if (&metadata == m_defaults.get() && m_watching && m_sameServer && m_onDefaultsChanged
        && !m_defaultsChangeQueued.exchange(true))
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_defaultsChangeQueued = false;
                if (m_onDefaultsChanged)
                    m_onDefaultsChanged();
            },
            Qt::QueuedConnection);
}

std::map<std::string, std::string> PipeWireBridge::defaultsMetadata() const
{
    if (!m_loop)
        return {};
    const Lock lock(m_loop);
    return m_sameServer ? m_defaults->values : std::map<std::string, std::string>{};
}

void PipeWireBridge::profiled(const spa_pod* pod)
{
    if (!m_watching || !m_sameServer)
        return;
    const auto driver = m_detector.inspect(cyclesOf(pod), m_sink);
    // One hand-off at a time: reports that come while the main thread is
    // still busy with the last one are the same overload.
    if (!driver || m_overloadQueued.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this, overload = Overload{m_sink, *driver}] {
            m_overloadQueued = false;
            if (m_onOverload)
                m_onOverload(overload);
        },
        Qt::QueuedConnection);
}

}  // namespace sonorel
