#pragma once

#include "model/enum_text.h"

#include <string_view>

namespace sonorel {

enum class RepairAction {
    restoreOutput,
    unmute,
    useBuiltInMic,
    normalizeRate,
    restartAudio,
    openBluetooth,
    restoreInput,
    restoreStereo,
    alignAlerts,
    reselectOutput,
    restoreLastOutput,
    turnOnOutput,
    switchOutputPort,
    switchInputPort,
    unmuteApp,
    raiseAppVolume,
    moveAppToOutput,
};

// Stored by case name.
inline constexpr EnumTexts<RepairAction, 17> repairActionNames{{
    {RepairAction::restoreOutput, "restoreOutput"},
    {RepairAction::unmute, "unmute"},
    {RepairAction::useBuiltInMic, "useBuiltInMic"},
    {RepairAction::normalizeRate, "normalizeRate"},
    {RepairAction::restartAudio, "restartAudio"},
    {RepairAction::openBluetooth, "openBluetooth"},
    {RepairAction::restoreInput, "restoreInput"},
    {RepairAction::restoreStereo, "restoreStereo"},
    {RepairAction::alignAlerts, "alignAlerts"},
    {RepairAction::reselectOutput, "reselectOutput"},
    {RepairAction::restoreLastOutput, "restoreLastOutput"},
    {RepairAction::turnOnOutput, "turnOnOutput"},
    {RepairAction::switchOutputPort, "switchOutputPort"},
    {RepairAction::switchInputPort, "switchInputPort"},
    {RepairAction::unmuteApp, "unmuteApp"},
    {RepairAction::raiseAppVolume, "raiseAppVolume"},
    {RepairAction::moveAppToOutput, "moveAppToOutput"},
}};

inline constexpr EnumTexts<RepairAction, 17> repairActionTitles{{
    {RepairAction::restoreOutput, "Restore output"},
    {RepairAction::unmute, "Restore sound"},
    {RepairAction::useBuiltInMic, "Use built-in microphone"},
    {RepairAction::normalizeRate, "Fix sample rate"},
    {RepairAction::restartAudio, "Restart audio service"},
    {RepairAction::openBluetooth, "Open Bluetooth settings"},
    {RepairAction::restoreInput, "Restore microphone"},
    {RepairAction::restoreStereo, "Restore stereo"},
    {RepairAction::alignAlerts, "Use listening output for alerts"},
    {RepairAction::reselectOutput, "Reselect headphones"},
    {RepairAction::restoreLastOutput, "Restore working output"},
    {RepairAction::turnOnOutput, "Turn output on"},
    {RepairAction::switchOutputPort, "Switch output port"},
    {RepairAction::switchInputPort, "Switch microphone port"},
    {RepairAction::unmuteApp, "Unmute app"},
    {RepairAction::raiseAppVolume, "Raise app volume"},
    {RepairAction::moveAppToOutput, "Move app to your output"},
}};

constexpr std::string_view caseName(RepairAction action)
{
    return textOf(repairActionNames, action);
}

constexpr std::string_view title(RepairAction action)
{
    return textOf(repairActionTitles, action);
}

// The symptom the user picks; shown by label, listed in picker order.
enum class RepairIntent { noSound, playback, bluetooth, microphone, stereo, alerts, afterWake, appOnly };

inline constexpr EnumTexts<RepairIntent, 8> repairIntentNames{{
    {RepairIntent::noSound, "noSound"},
    {RepairIntent::playback, "playback"},
    {RepairIntent::bluetooth, "bluetooth"},
    {RepairIntent::microphone, "microphone"},
    {RepairIntent::stereo, "stereo"},
    {RepairIntent::alerts, "alerts"},
    {RepairIntent::afterWake, "afterWake"},
    {RepairIntent::appOnly, "appOnly"},
}};

inline constexpr EnumTexts<RepairIntent, 8> repairIntentLabels{{
    {RepairIntent::noSound, "No sound"},
    {RepairIntent::playback, "Crackles or glitches"},
    {RepairIntent::bluetooth, "Bluetooth sounds muffled"},
    {RepairIntent::microphone, "Microphone"},
    {RepairIntent::stereo, "One-sided sound"},
    {RepairIntent::alerts, "Missing alerts"},
    {RepairIntent::afterWake, "After sleep"},
    {RepairIntent::appOnly, "One app only"},
}};

constexpr std::string_view caseName(RepairIntent intent)
{
    return textOf(repairIntentNames, intent);
}

constexpr std::string_view label(RepairIntent intent)
{
    return textOf(repairIntentLabels, intent);
}

}  // namespace sonorel
