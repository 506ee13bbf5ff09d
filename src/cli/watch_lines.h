#pragma once

#include "model/activity_log.h"
#include "model/audio_snapshot.h"
#include "model/diagnostic_check.h"

#include <optional>
#include <string>
#include <vector>

namespace sonorel {

// What `watch` prints: one JSON object a line, {"date", "kind", "title",
// "detail"}, and with checks the nine checks as one JSON array a line.
class WatchLines {
public:
    explicit WatchLines(bool withChecks) : m_withChecks(withChecks) {}

    static std::string entryLine(const ActivityEntry& entry);

    // The lines a new reading adds: the server becoming unreadable, and
    // readable again (once each); a default output or input changed by
    // another program between two readable readings; with checks, the checks
    // at the first reading and whenever one of them changes state.
    std::string afterReading(const AudioSnapshot& snapshot, const std::vector<DiagnosticCheck>& checks);

    // A status bar's module line ({"text", "tooltip", "class", "alt"}, as
    // waybar's custom modules read it) when it differs from the last one.
    std::string barLineAfterReading(const AudioSnapshot& snapshot, const std::vector<DiagnosticCheck>& checks);

private:
    std::string m_barLine;
    bool m_withChecks;
    bool m_hasRead = false;
    bool m_unreadable = false;
    std::optional<std::string> m_outputUID;
    std::optional<std::string> m_inputUID;
    std::vector<CheckState> m_states;
};

}  // namespace sonorel
