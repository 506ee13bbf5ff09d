#include "diagnostics/health_summary.h"

#include <algorithm>

namespace sonorel::HealthSummary {

namespace {

int countWhere(const std::vector<DiagnosticCheck>& checks, auto predicate)
{
    return int(std::count_if(checks.begin(), checks.end(), predicate));
}

// No output can play: what the user hears first, whatever else needs care.
bool hasNoWorkingOutput(const std::vector<DiagnosticCheck>& checks)
{
    return std::any_of(checks.begin(), checks.end(), [](const DiagnosticCheck& c) {
        return c.kind == CheckKind::output && c.state == CheckState::issue;
    });
}

}  // namespace

int attentionCount(const std::vector<DiagnosticCheck>& checks)
{
    return countWhere(checks, [](const DiagnosticCheck& c) {
        return c.state == CheckState::warning || c.state == CheckState::issue;
    });
}

int passedCount(const std::vector<DiagnosticCheck>& checks)
{
    return countWhere(checks, [](const DiagnosticCheck& c) { return c.state == CheckState::passed; });
}

bool isSoundMuted(const std::vector<DiagnosticCheck>& checks)
{
    return std::any_of(checks.begin(), checks.end(), [](const DiagnosticCheck& c) {
        return c.kind == CheckKind::volume && c.state == CheckState::note;
    });
}

std::string headline(const std::vector<DiagnosticCheck>& checks, bool isFixing,
                     const std::optional<std::string>& readError)
{
    if (isFixing)
        return "Giving your audio a fresh start.";
    if (readError)
        return "Let\u2019s reconnect to your audio.";
    if (hasNoWorkingOutput(checks))
        return "Your sound has no working output.";
    if (attentionCount(checks) > 0)
        return "Your audio could use a little care.";
    if (isSoundMuted(checks))
        return "Your computer is muted. Everything else looks good.";
    return "Your audio is looking good.";
}

std::string statusLine(const std::vector<DiagnosticCheck>& checks, bool isFixing,
                       const std::optional<std::string>& readError)
{
    if (isFixing)
        return "Fixing audio";
    if (readError)
        return "Audio unavailable";
    if (hasNoWorkingOutput(checks))
        return "No working output";
    const int count = attentionCount(checks);
    if (count == 0)
        return isSoundMuted(checks) ? "No faults detected. Sound is muted." : "No faults detected";
    return std::to_string(count) + (count == 1 ? " thing" : " things") + " to check";
}

std::string statusSymbolName(const std::vector<DiagnosticCheck>& checks, bool isFixing)
{
    if (isFixing)
        return "arrow.triangle.2.circlepath";
    return attentionCount(checks) < 1 ? "waveform.path.ecg" : "waveform.badge.exclamationmark";
}

std::string statusItemLabel(const std::vector<DiagnosticCheck>& checks, bool isFixing,
                            const std::optional<std::string>& readError)
{
    return "Sonorel Doctor, " + statusLine(checks, isFixing, readError);
}

HealthColor stateColor(CheckState state)
{
    switch (state) {
    case CheckState::passed:
        return HealthColor::healthy;
    case CheckState::warning:
    case CheckState::issue:
        return HealthColor::attention;
    case CheckState::note:
        return HealthColor::note;
    case CheckState::unknown:
        break;
    }
    return HealthColor::unknown;
}

ConsoleHeader consoleHeader(const std::vector<DiagnosticCheck>& checks, bool isFixing)
{
    return ConsoleHeader{
        attentionCount(checks) < 1 ? HealthColor::healthy : HealthColor::attention,
        isFixing ? "REPAIR IN PROGRESS" : "AUDIO SERVICE \u00B7 SYSTEM CHECK",
        std::to_string(passedCount(checks)) + " / " + std::to_string(checks.size()) + " GOOD",
    };
}

std::vector<HealthDialArc> healthDialArcs(const std::vector<DiagnosticCheck>& checks)
{
    // Neighbouring arcs are 0.03 of the circle apart.
    constexpr double halfGap = 0.015;
    const double count = double(std::max<size_t>(checks.size(), 1));
    std::vector<HealthDialArc> arcs;
    arcs.reserve(checks.size());
    for (size_t i = 0; i < checks.size(); ++i)
        arcs.push_back({double(i) / count + halfGap, double(i + 1) / count - halfGap, stateColor(checks[i].state)});
    return arcs;
}

HealthDialCentre healthDialCentre(bool isFixing)
{
    if (isFixing)
        return {"arrow.trianglehead.2.clockwise.rotate.90", "REPAIRING"};
    return {"waveform.path.ecg", "AUDIO HEALTH"};
}

std::string healthDialValue(const std::vector<DiagnosticCheck>& checks)
{
    return std::to_string(passedCount(checks)) + " of " + std::to_string(checks.size()) + " checks good";
}

}  // namespace sonorel::HealthSummary
