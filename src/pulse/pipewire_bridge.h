#pragma once

#include "pulse/graph_clock.h"
#include "pulse/overload_detector.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_registry;
struct pw_metadata;
struct pw_proxy;
struct spa_dict;
struct spa_pod;

namespace sonorel {

// What PipeWire's own protocol adds to the pulse one: the graph clock (the
// "settings" metadata) and overloads (the profiler). One pw_thread_loop,
// context and core, connected on demand. Public members run on the Qt main
// thread and wait for PipeWire at most `timeout`; a PipeWire that is gone or
// frozen gives no clock and no overloads, never a hang.
//
// Nothing is read or written until the bridge has found, among PipeWire's
// clients, our pulse connection by its tag: a PipeWire other than the one
// the pulse side reads is never touched.
class PipeWireBridge final : public QObject {
public:
    struct Overload {
        std::string sink;    // the default output it was watched for
        std::string driver;  // the driver node that overloaded
    };

    // `remote` is the socket path; absent: libpipewire's default.
    // `onOverload` runs on the main thread.
    // `connectionTag` is the value of pulse::connectionTagKey on our pulse
    // connection. `onDefaultsChanged` runs on this object's thread when the
    // "default" metadata changes while watching.
    PipeWireBridge(std::optional<std::string> remote, std::string connectionTag, std::chrono::milliseconds timeout,
                   std::function<void(const Overload&)> onOverload, std::function<void()> onDefaultsChanged = {});
    ~PipeWireBridge() override;
    PipeWireBridge(const PipeWireBridge&) = delete;
    PipeWireBridge& operator=(const PipeWireBridge&) = delete;

    // The clock settings as of one round trip; absent when PipeWire does not
    // answer, has no settings metadata or is not the pulse side's server.
    std::optional<pulse::GraphClock> clock();
    // Writes clock.force-rate (0 lifts the force) and waits for PipeWire to
    // echo it: 0 when it did, else a negative errno (-EPIPE when not
    // connected, -ETIMEDOUT, -ENOTSUP without settings metadata, -EIO when
    // the value did not take, -ENOTSUP as well when this is not the pulse
    // side's server). Meant right after `clock()`.
    int forceRate(uint32_t rate);
    // The "default" metadata's values (default.audio.sink and friends) as of
    // the last `clock()`; empty when this is not the pulse side's server.
    std::map<std::string, std::string> defaultsMetadata() const;
    // Profiles the graph and reports overloads of the driver behind `sink`
    // (a node name). Calling again only changes the sink.
    void watch(const std::string& sink);
    // Releases the profiler: PipeWire stops collecting for us.
    void stopWatching();

    // PipeWire's thread, with the loop locked.
    void coreDone(uint32_t id, int seq);
    void coreError(uint32_t id, int res);
    void globalAdded(uint32_t id, const char* type, const spa_dict* props);
    void globalRemoved(uint32_t id);
    struct Metadata;
    void metadataChanged(Metadata& metadata, uint32_t subject, const char* key, const char* value);
    void profiled(const spa_pod* pod);
    void clientProperties(const spa_dict* props);

private:
    class Lock;
    struct Hooks;
    struct ClientProbe;
    using Deadline = std::chrono::steady_clock::time_point;

    bool ensureConnected(Deadline deadline);
    void disconnect();
    bool roundTrip(Deadline deadline);
    void bindProfiler();
    void releaseProfiler();
    void release(Metadata& metadata);
    void probeClient(uint32_t id, const char* type);
    void releaseProbes();

    std::optional<std::string> m_remote;
    std::string m_connectionTag;
    std::chrono::milliseconds m_timeout;
    std::function<void(const Overload&)> m_onOverload;
    std::function<void()> m_onDefaultsChanged;
    std::atomic<bool> m_defaultsChangeQueued = false;

    pw_thread_loop* m_loop = nullptr;
    pw_context* m_context = nullptr;
    // Everything below is guarded by the loop lock.
    pw_core* m_core = nullptr;
    pw_registry* m_registry = nullptr;
    std::unique_ptr<Metadata> m_settings;  // the graph clock
    std::unique_ptr<Metadata> m_defaults;  // the default devices
    pw_proxy* m_profiler = nullptr;
    std::unique_ptr<Hooks> m_hooks;
    // Clients that may be our pulse connection, bound to read their properties.
    std::vector<std::unique_ptr<ClientProbe>> m_probes;
    bool m_sameServer = false;
    bool m_broken = false;
    int m_doneSeq = -1;
    bool m_bound = false;  // a bind went out since the last round trip
    std::optional<uint32_t> m_profilerID;
    bool m_watching = false;
    std::string m_sink;
    pulse::OverloadDetector m_detector;

    std::atomic<bool> m_overloadQueued = false;
};

}  // namespace sonorel
