#include "pulse/overload_history.h"

#include <algorithm>

namespace sonorel::pulse {

namespace {

constexpr double windowSeconds = 120;

}  // namespace

void OverloadHistory::record(Date now, const std::optional<std::string>& outputUID)
{
    if (outputUID != uid)
        dates.clear();
    dates.push_back(now);
    std::erase_if(dates, [now](Date date) { return !(secondsBetween(date, now) < windowSeconds); });
    lastOverload = now;
    uid = outputUID;
}

void OverloadHistory::showIn(AudioSnapshot& snapshot) const
{
    const AudioDevice* output = snapshot.outputDevice();
    const std::optional<std::string> outputUID = output ? std::optional(output->uid) : std::nullopt;
    if (outputUID == uid) {
        snapshot.lastOverload = lastOverload;
        snapshot.overloadDates = dates;
    } else {
        snapshot.lastOverload.reset();
        snapshot.overloadDates.clear();
    }
}

}  // namespace sonorel::pulse
