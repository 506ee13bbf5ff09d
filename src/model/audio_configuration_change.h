#pragma once

#include "model/audio_setting.h"
#include "model/audio_snapshot.h"

#include <vector>

namespace sonorel {

// What a setting was before a repair and what it was after; undo writes
// `before` back.
struct AudioConfigurationChange {
    AudioSetting before;
    AudioSetting after;

    // Every setting of `after` whose same-target setting in `before` does not
    // match it, in the order of `after`. Devices that came or went add nothing,
    // and a failed reading on either side gives no changes.
    static std::vector<AudioConfigurationChange> changes(const AudioSnapshot& before, const AudioSnapshot& after);

    bool operator==(const AudioConfigurationChange&) const = default;
};

}  // namespace sonorel
