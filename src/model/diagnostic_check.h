#pragma once

#include "model/enum_text.h"
#include "model/repair_action.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace sonorel {

// Declaration order is display order.
enum class CheckKind { output, volume, bluetooth, sampleRate, playback, microphone, stereo, alerts, deviceAccess };

inline constexpr EnumTexts<CheckKind, 9> checkKindNames{{
    {CheckKind::output, "output"},
    {CheckKind::volume, "volume"},
    {CheckKind::bluetooth, "bluetooth"},
    {CheckKind::sampleRate, "sampleRate"},
    {CheckKind::playback, "playback"},
    {CheckKind::microphone, "microphone"},
    {CheckKind::stereo, "stereo"},
    {CheckKind::alerts, "alerts"},
    {CheckKind::deviceAccess, "deviceAccess"},
}};

inline constexpr EnumTexts<CheckKind, 9> checkKindTitles{{
    {CheckKind::output, "Output connection"},
    {CheckKind::volume, "Volume & mute"},
    {CheckKind::bluetooth, "Bluetooth quality"},
    {CheckKind::sampleRate, "Sample rate"},
    {CheckKind::playback, "Playback stability"},
    {CheckKind::microphone, "Microphone level & mute"},
    {CheckKind::stereo, "Stereo channels & balance"},
    {CheckKind::alerts, "Alerts & notification output"},
    {CheckKind::deviceAccess, "Device access"},
}};

inline constexpr auto allCheckKinds = casesOf(checkKindNames);

constexpr std::string_view caseName(CheckKind kind)
{
    return textOf(checkKindNames, kind);
}

constexpr std::string_view title(CheckKind kind)
{
    return textOf(checkKindTitles, kind);
}

// Shown and stored by label.
enum class CheckState { passed, warning, issue, note, unknown };

inline constexpr EnumTexts<CheckState, 5> checkStateLabels{{
    {CheckState::passed, "Good"},
    {CheckState::warning, "Check"},
    {CheckState::issue, "Needs attention"},
    {CheckState::note, "Note"},
    {CheckState::unknown, "Unavailable"},
}};

constexpr std::string_view label(CheckState state)
{
    return textOf(checkStateLabels, state);
}

struct DiagnosticCheck {
    CheckKind kind = CheckKind::output;
    CheckState state = CheckState::unknown;
    std::string detail;
    std::optional<RepairAction> action;
    bool operator==(const DiagnosticCheck&) const = default;
};

// The check of `kind` offers `action` as its repair.
inline bool offers(const std::vector<DiagnosticCheck>& checks, CheckKind kind, RepairAction action)
{
    return std::any_of(checks.begin(), checks.end(),
                       [&](const DiagnosticCheck& c) { return c.kind == kind && c.action == action; });
}

}  // namespace sonorel
