#pragma once

// Overloads (xruns) in PipeWire's profiler reports, as plain values: the
// bridge copies each cycle out of the profiler's pod and asks the detector.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sonorel::pulse {

// One node's part of a cycle. Times are the graph's nanoseconds.
struct ProfiledNode {
    int32_t id = 0;
    std::string name;
    int32_t status = 0;  // PipeWire's activation state; 3 = finished
    int64_t signal = 0;
    int64_t awake = 0;
    int64_t finish = 0;
};

// One cycle of one driver: its block, its xrun counter and its followers.
struct ProfiledCycle {
    ProfiledNode driver;
    int32_t xrunCount = 0;
    std::vector<ProfiledNode> followers;
};

// What pw-top counts as ERR: the node was not done when the cycle was
// profiled, or its times show it never ran in this cycle.
bool isUnfinished(const ProfiledNode& node);

// Whether `sink` (a node name) is the driver of this cycle or one of its followers.
bool drives(const ProfiledCycle& cycle, const std::string& sink);

// Tells, per profiler report, whether the driver behind one sink overloaded:
// its xrun counter rose since the previous report, or one of its followers
// did not finish. Several in one report are one overload. Not thread-safe:
// the bridge calls it on its own thread only.
class OverloadDetector {
public:
    // The driver's node name when the report holds an overload of `sink`'s
    // driver. Every driver's counter is remembered, so that a switch of the
    // default output does not compare against an old count.
    std::optional<std::string> inspect(const std::vector<ProfiledCycle>& report, const std::string& sink);
    // Forget the counters (PipeWire restarted: they start at 0 again).
    void reset() { m_xruns.clear(); }

private:
    std::map<std::string, int32_t> m_xruns;  // by driver node name
};

}  // namespace sonorel::pulse
