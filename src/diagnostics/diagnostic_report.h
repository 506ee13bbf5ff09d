#pragma once

#include "model/activity_log.h"
#include "model/app_isolation.h"
#include "model/audio_snapshot.h"
#include "model/diagnostic_check.h"
#include "model/preferred_output.h"
#include "model/repair_action.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sonorel {

// What the plain-text report describes: the store's state as it is when the
// report is asked for. Nothing in it is read again.
struct DiagnosticReportState {
    Date generatedAt{};
    std::string system;      // "Debian GNU/Linux 12 (bookworm) (kernel 6.1.0)"
    std::string appVersion;  // "0.1.0"
    bool monitoringEnabled = true;
    AudioSnapshot snapshot;
    std::vector<DiagnosticCheck> checks;
    std::optional<PreferredOutput> preferredOutput;
    std::optional<PreferredOutput> lastWorkingOutput;
    RepairIntent intent = RepairIntent::playback;
    std::optional<Date> lastWake;
    size_t undoChangeCount = 0;
    AppIsolation isolation;
    ActivityLog history;
};

// The locale's renderings of a date: in full with seconds, and numeric with seconds.
struct ReportDateTexts {
    std::function<std::string(Date)> longDate;
    std::function<std::string(Date)> shortDate;
};

// The report's lines joined by line feeds, with none after the last. It
// never fails: every missing value has its own text.
std::string diagnosticReport(const DiagnosticReportState& state, const ReportDateTexts& dates);

}  // namespace sonorel
