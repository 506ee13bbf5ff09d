#pragma once

#include "model/audio_snapshot.h"
#include "model/diagnostic_check.h"
#include "model/preferred_output.h"

#include <optional>
#include <vector>

namespace sonorel::Diagnostics {

// The nine checks in display order; a failed reading gives nine unavailable
// rows carrying its message. Never fails.
std::vector<DiagnosticCheck> checks(const AudioSnapshot& snapshot, const std::optional<PreferredOutput>& preferredOutput);

DiagnosticCheck outputCheck(const AudioSnapshot& snapshot, const std::optional<PreferredOutput>& preferredOutput);
DiagnosticCheck volumeCheck(const AudioSnapshot& snapshot);
DiagnosticCheck bluetoothCheck(const AudioSnapshot& snapshot);
DiagnosticCheck sampleRateCheck(const AudioSnapshot& snapshot);
DiagnosticCheck playbackCheck(const AudioSnapshot& snapshot);
DiagnosticCheck microphoneCheck(const AudioSnapshot& snapshot);
DiagnosticCheck stereoCheck(const AudioSnapshot& snapshot);
DiagnosticCheck alertsCheck(const AudioSnapshot& snapshot);
DiagnosticCheck deviceAccessCheck(const AudioSnapshot& snapshot);

}  // namespace sonorel::Diagnostics
