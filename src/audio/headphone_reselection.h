#pragma once

#include "model/audio_snapshot.h"

namespace sonorel {

// The built-in speakers a Bluetooth output can briefly be switched to while
// muted: the first other built-in output, provided it has a mute control and
// every mute control it has is writable. Null when the output is not
// Bluetooth or that output cannot be muted.
const AudioDevice* reselectionAlternate(const AudioSnapshot& snapshot);

// Whether headphone reselection can run on this reading (input aside).
inline bool canReselectOutput(const AudioSnapshot& snapshot)
{
    return reselectionAlternate(snapshot) != nullptr;
}

}  // namespace sonorel
