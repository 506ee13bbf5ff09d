#pragma once

// What the server holds, kept current by its change events, so that a
// reading asks only for what changed: PulseAudio answers a full listing of a
// busy setup in about 4 ms, as it asks each device's I/O thread for its
// latency, and a server-info request in 0.05 ms. A device's latency figures
// are therefore as of its last change event. Internal to src/pulse;
// everything here runs with the main loop locked.

#include "pulse/pulse_internal.h"

#include <pulse/subscribe.h>

#include <map>
#include <set>
#include <vector>

namespace sonorel::pulse {

struct ServerCache {
    // A full listing has been taken since the connection subscribed.
    bool primed = false;
    // The subscriptions were asked for on this connection, and the server confirmed them;
    // without them every reading lists everything.
    bool subscriptionAsked = false;
    bool subscribed = false;
    bool streamRestoreSubscribed = false;

    std::map<uint32_t, DeviceRecord> sinks;
    std::map<uint32_t, DeviceRecord> sources;  // monitors included
    std::map<uint32_t, StreamRecord> sinkInputs;
    std::map<uint32_t, StreamRecord> sourceOutputs;
    std::map<uint32_t, CardRecord> cards;
    std::optional<AlertEntry> alertEntry;
    bool streamRestoreRead = false;

    // Named by change events since they were last asked for.
    std::set<uint32_t> changedSinks, changedSources, changedSinkInputs, changedSourceOutputs, changedCards;
    bool alertsChanged = false;

    // A change event from the server's subscription.
    void event(pa_subscription_event_type_t type, uint32_t index);
    // After a write of our own: the object (and the alert entry) is asked for
    // again, whether or not its change event has come yet.
    void written(bool isSink, uint32_t index, bool alerts);
    void cardWritten(uint32_t index) { changedCards.insert(index); }
    void streamWritten(uint32_t index) { changedSinkInputs.insert(index); }
    bool hasChanges() const;
    // Devices and streams in the server's index order, sinks before sources;
    // monitor sources are no devices.
    std::vector<DeviceRecord> devices() const;
    // Each monitor source's index and the sink it mirrors.
    std::map<uint32_t, uint32_t> monitoredSinks() const;
    std::vector<StreamRecord> streams() const;
};

// One round of requests that fill the cache (and the server record), counted
// by the Waiter it extends.
struct CacheRound : Waiter {
    ServerCache* cache = nullptr;
    ServerRecord server;
    bool listed = false;  // whole lists were asked for

    // Asks for the server info (when `withServer`) and, with `withObjects`,
    // for everything (when the cache is not primed) or for what changed;
    // returns the operations.
    std::vector<pa_operation*> start(pa_context* context, bool withServer, bool withObjects = true);

private:
    void listAll(pa_context* context, std::vector<pa_operation*>& operations);
    void askForChanges(pa_context* context, std::vector<pa_operation*>& operations);
};

}  // namespace sonorel::pulse
