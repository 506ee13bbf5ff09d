#pragma once

// The recent overloads of the default output, kept by the audio system and
// shown in every reading while that output stays the default.

#include "model/audio_snapshot.h"
#include "model/date.h"

#include <optional>
#include <string>
#include <vector>

namespace sonorel::pulse {

struct OverloadHistory {
    std::optional<Date> lastOverload;
    std::optional<std::string> uid;  // the output that reported them
    std::vector<Date> dates;         // oldest first

    // An overload at `now` while `outputUID` is the default output: a new
    // output starts the list afresh; dates two minutes old or more drop out.
    void record(Date now, const std::optional<std::string>& outputUID);

    // Fills the snapshot's overload fields when its output is the one that
    // reported them (no output on either side also counts as the same).
    void showIn(AudioSnapshot& snapshot) const;
};

}  // namespace sonorel::pulse
