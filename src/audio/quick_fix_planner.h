#pragma once

#include "model/audio_snapshot.h"
#include "model/diagnostic_check.h"
#include "model/preferred_output.h"
#include "model/repair_action.h"

#include <optional>
#include <vector>

namespace sonorel {

// The repairs Quick Fix runs, in order, for the chosen symptom and the current
// checks. Only actions some check offers, except the symptom's own recoveries
// (reselecting headphones, the last working output, an app's own stream, the
// service restart as a last resort). Empty means: open Troubleshoot instead.
std::vector<RepairAction> quickFixPlan(const std::vector<DiagnosticCheck>& checks, RepairIntent intent,
                                       const AudioSnapshot& snapshot,
                                       const std::optional<PreferredOutput>& lastWorkingOutput);

// The actions a symptom may run without a check offering them.
bool isSymptomRecovery(RepairAction action);

}  // namespace sonorel
