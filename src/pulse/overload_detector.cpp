#include "pulse/overload_detector.h"

#include <algorithm>

namespace sonorel::pulse {

namespace {

constexpr int32_t finishedStatus = 3;  // PW_NODE_ACTIVATION_FINISHED

}  // namespace

bool isUnfinished(const ProfiledNode& node)
{
    return node.status != finishedStatus || node.finish < node.awake || node.finish < node.signal;
}

bool drives(const ProfiledCycle& cycle, const std::string& sink)
{
    return cycle.driver.name == sink
        || std::any_of(cycle.followers.begin(), cycle.followers.end(),
                       [&sink](const ProfiledNode& follower) { return follower.name == sink; });
}

std::optional<std::string> OverloadDetector::inspect(const std::vector<ProfiledCycle>& report, const std::string& sink)
{
    std::optional<std::string> overloaded;
    for (const ProfiledCycle& cycle : report) {
        auto [known, isNew] = m_xruns.try_emplace(cycle.driver.name, cycle.xrunCount);
        const bool xrunRose = !isNew && cycle.xrunCount > known->second;
        known->second = cycle.xrunCount;
        if (sink.empty() || !drives(cycle, sink))
            continue;
        // A driver may list itself among its targets; its own block speaks for it.
        const bool followerLate = std::any_of(
            cycle.followers.begin(), cycle.followers.end(),
            [&cycle](const ProfiledNode& f) { return f.id != cycle.driver.id && isUnfinished(f); });
        if (xrunRose || followerLate)
            overloaded = cycle.driver.name;
    }
    return overloaded;
}

}  // namespace sonorel::pulse
