#include "cli/watch_lines.h"

#include "cli/command_support.h"
#include "diagnostics/health_summary.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace sonorel {

namespace {

std::string line(Date date, ActivityEntry::Kind kind, const std::string& title, const std::string& detail)
{
    nlohmann::ordered_json object;
    object["date"] = isoDateText(date);
    object["kind"] = caseName(kind);
    object["title"] = title;
    object["detail"] = detail;
    return object.dump() + "\n";
}

std::optional<std::string> uidOf(const AudioDevice* device)
{
    return device ? std::optional(device->uid) : std::nullopt;
}

// "Output changed" or "Input changed" when the default moved; the watch never moves it itself.
std::string defaultChange(const std::optional<std::string>& before, const AudioDevice* now, const AudioSnapshot& s,
                          const std::string& title)
{
    if (before == uidOf(now))
        return {};
    return line(s.capturedAt, ActivityEntry::Kind::signal, title, now ? now->name : "None");
}

}  // namespace

std::string WatchLines::barLineAfterReading(const AudioSnapshot& snapshot, const std::vector<DiagnosticCheck>& checks)
{
    // The worst state names the class a bar styles by: unavailable, issue, warning, note or healthy.
    std::string state = "healthy";
    for (const auto& [worse, name] : {std::pair{CheckState::note, "note"}, std::pair{CheckState::warning, "warning"},
                                      std::pair{CheckState::issue, "issue"}})
        if (std::any_of(checks.begin(), checks.end(), [worse](const DiagnosticCheck& c) { return c.state == worse; }))
            state = name;
    if (snapshot.readError)
        state = "unavailable";
    std::string tooltip = HealthSummary::headline(checks, false, snapshot.readError);
    for (const auto& check : checks)
        if (check.state == CheckState::issue || check.state == CheckState::warning)
            tooltip += "\n" + std::string(title(check.kind)) + ": " + check.detail;
    nlohmann::ordered_json object;
    object["text"] = HealthSummary::statusLine(checks, false, snapshot.readError);
    object["tooltip"] = tooltip;
    object["class"] = state;
    object["alt"] = state;
    std::string text = object.dump() + "\n";
    if (text == m_barLine)
        return {};
    m_barLine = text;
    return text;
}

std::string WatchLines::entryLine(const ActivityEntry& entry)
{
    return line(entry.date, entry.kind, entry.title, entry.detail);
}

std::string WatchLines::afterReading(const AudioSnapshot& snapshot, const std::vector<DiagnosticCheck>& checks)
{
    std::string lines;
    if (snapshot.readError) {
        if (!m_unreadable)
            lines += line(snapshot.capturedAt, ActivityEntry::Kind::error, "Audio service unavailable",
                          *snapshot.readError);
        m_unreadable = true;
    } else {
        if (m_unreadable)
            lines += line(snapshot.capturedAt, ActivityEntry::Kind::signal, "Audio service available again",
                          "Audio settings can be read again.");
        else if (m_hasRead)
            lines += defaultChange(m_outputUID, snapshot.outputDevice(), snapshot, "Output changed")
                     + defaultChange(m_inputUID, snapshot.inputDevice(), snapshot, "Input changed");
        m_unreadable = false;
        m_outputUID = uidOf(snapshot.outputDevice());
        m_inputUID = uidOf(snapshot.inputDevice());
    }
    std::vector<CheckState> states;
    for (const auto& check : checks)
        states.push_back(check.state);
    if (m_withChecks && (!m_hasRead || states != m_states))
        lines += checksJson(checks).dump() + "\n";
    m_states = std::move(states);
    m_hasRead = true;
    return lines;
}

}  // namespace sonorel
