#include "audio/quick_fix_planner.h"

#include <algorithm>
#include <set>

namespace sonorel {

namespace {

std::vector<RepairAction> only(bool condition, RepairAction action)
{
    return condition ? std::vector{action} : std::vector<RepairAction>{};
}

std::vector<RepairAction> noSoundPlan(const std::vector<DiagnosticCheck>& checks)
{
    std::vector<RepairAction> plan;
    for (RepairAction action : {RepairAction::restoreOutput, RepairAction::turnOnOutput, RepairAction::switchOutputPort})
        if (std::any_of(checks.begin(), checks.end(), [action](const DiagnosticCheck& c) {
                return c.kind == CheckKind::output && c.state == CheckState::issue && c.action == action;
            }))
            plan.push_back(action);
    if (offers(checks, CheckKind::volume, RepairAction::unmute))
        plan.push_back(RepairAction::unmute);
    if (plan.empty())
        plan.push_back(RepairAction::restartAudio);
    return plan;
}

std::vector<RepairAction> playbackPlan(const std::vector<DiagnosticCheck>& checks, const AudioSnapshot& snapshot)
{
    // Microphone, stereo and alert rows do not explain crackles.
    std::vector<DiagnosticCheck> candidates;
    std::copy_if(checks.begin(), checks.end(), std::back_inserter(candidates), [](const DiagnosticCheck& c) {
        return c.kind != CheckKind::microphone && c.kind != CheckKind::stereo && c.kind != CheckKind::alerts;
    });
    std::set<RepairAction> offered;
    for (const auto& c : candidates)
        if (c.state != CheckState::note && c.action)
            offered.insert(*c.action);
    if (offered.count(RepairAction::openBluetooth))
        return {RepairAction::openBluetooth};

    std::vector<RepairAction> plan;
    for (RepairAction action : {RepairAction::restoreOutput, RepairAction::turnOnOutput, RepairAction::switchOutputPort,
                                RepairAction::unmute, RepairAction::useBuiltInMic, RepairAction::normalizeRate,
                                RepairAction::restartAudio})
        if (offered.count(action))
            plan.push_back(action);
    if (plan.empty() && std::any_of(candidates.begin(), candidates.end(), [](const DiagnosticCheck& c) {
            return c.state == CheckState::note && c.action == RepairAction::unmute;
        }))
        return {RepairAction::unmute};
    // A gentle reselection replaces the service restart.
    if (canReselectOutput(snapshot)
        && std::find(plan.begin(), plan.end(), RepairAction::useBuiltInMic) == plan.end()) {
        std::erase(plan, RepairAction::restartAudio);
        plan.push_back(RepairAction::reselectOutput);
    }
    if (plan.empty())
        plan.push_back(RepairAction::restartAudio);
    return plan;
}

// One app silent while others play: its own mute, level or output in the mixer.
std::vector<RepairAction> appOnlyPlan(const AudioSnapshot& snapshot)
{
    std::vector<RepairAction> plan;
    if (!snapshot.mutedAppStreams().empty())
        plan.push_back(RepairAction::unmuteApp);
    if (!snapshot.silentAppStreams().empty())
        plan.push_back(RepairAction::raiseAppVolume);
    if (!snapshot.appStreamsElsewhere().empty())
        plan.push_back(RepairAction::moveAppToOutput);
    return plan;
}

}  // namespace

std::vector<RepairAction> quickFixPlan(const std::vector<DiagnosticCheck>& checks, RepairIntent intent,
                                       const AudioSnapshot& snapshot,
                                       const std::optional<PreferredOutput>& lastWorkingOutput)
{
    switch (intent) {
    case RepairIntent::noSound:
        return noSoundPlan(checks);
    case RepairIntent::playback:
        return playbackPlan(checks, snapshot);
    case RepairIntent::bluetooth:
        if (offers(checks, CheckKind::bluetooth, RepairAction::useBuiltInMic))
            return {RepairAction::useBuiltInMic};
        return only(canReselectOutput(snapshot), RepairAction::reselectOutput);
    case RepairIntent::microphone:
        if (offers(checks, CheckKind::microphone, RepairAction::switchInputPort))
            return {RepairAction::switchInputPort};
        return only(offers(checks, CheckKind::microphone, RepairAction::restoreInput), RepairAction::restoreInput);
    case RepairIntent::stereo:
        return only(offers(checks, CheckKind::stereo, RepairAction::restoreStereo), RepairAction::restoreStereo);
    case RepairIntent::alerts:
        return only(offers(checks, CheckKind::alerts, RepairAction::alignAlerts), RepairAction::alignAlerts);
    case RepairIntent::afterWake:
        return only(lastWorkingOutput && snapshot.connectedOutput(lastWorkingOutput->uid),
                    RepairAction::restoreLastOutput);
    case RepairIntent::appOnly:
        return appOnlyPlan(snapshot);
    }
    return {};
}

bool isSymptomRecovery(RepairAction action)
{
    switch (action) {
    case RepairAction::reselectOutput:
    case RepairAction::restoreLastOutput:
    case RepairAction::unmuteApp:
    case RepairAction::raiseAppVolume:
    case RepairAction::moveAppToOutput:
        return true;
    default:
        return false;
    }
}

}  // namespace sonorel
