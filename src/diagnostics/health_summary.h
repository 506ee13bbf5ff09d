#pragma once

#include "model/diagnostic_check.h"

#include <optional>
#include <string>
#include <vector>

namespace sonorel::HealthSummary {

// Derived on every read from the current checks, whether a repair is
// running, and the reading's error; nothing is stored.

int attentionCount(const std::vector<DiagnosticCheck>& checks);
int passedCount(const std::vector<DiagnosticCheck>& checks);
// The volume row is a note: the output is muted or at zero.
bool isSoundMuted(const std::vector<DiagnosticCheck>& checks);

std::string headline(const std::vector<DiagnosticCheck>& checks, bool isFixing,
                     const std::optional<std::string>& readError);
std::string statusLine(const std::vector<DiagnosticCheck>& checks, bool isFixing,
                       const std::optional<std::string>& readError);
std::string statusSymbolName(const std::vector<DiagnosticCheck>& checks, bool isFixing);
// The tray item's accessible name.
std::string statusItemLabel(const std::vector<DiagnosticCheck>& checks, bool isFixing,
                            const std::optional<std::string>& readError);

// Colour roles; the theme maps them to colours.
enum class HealthColor {
    healthy,    // doctorGreen
    attention,  // doctorAmber
    note,       // white at 45 % opacity
    unknown,    // white at 14 % opacity
};

HealthColor stateColor(CheckState state);

struct ConsoleHeader {
    HealthColor dotColor = HealthColor::healthy;
    std::string label;    // "AUDIO SERVICE · SYSTEM CHECK" or "REPAIR IN PROGRESS"
    std::string counter;  // "7 / 9 GOOD"
    bool operator==(const ConsoleHeader&) const = default;
};

ConsoleHeader consoleHeader(const std::vector<DiagnosticCheck>& checks, bool isFixing);

// One arc per check, clockwise from twelve o'clock, as fractions of the circle.
struct HealthDialArc {
    double start = 0;
    double end = 0;
    HealthColor color = HealthColor::unknown;
    bool operator==(const HealthDialArc&) const = default;
};

std::vector<HealthDialArc> healthDialArcs(const std::vector<DiagnosticCheck>& checks);

struct HealthDialCentre {
    std::string symbolName;
    std::string caption;
    bool operator==(const HealthDialCentre&) const = default;
};

HealthDialCentre healthDialCentre(bool isFixing);
// "7 of 9 checks good", the dial's accessible value.
std::string healthDialValue(const std::vector<DiagnosticCheck>& checks);

}  // namespace sonorel::HealthSummary
