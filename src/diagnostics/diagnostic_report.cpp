#include "diagnostics/diagnostic_report.h"

#include "model/text_format.h"

#include <algorithm>
#include <cstdio>

namespace sonorel {

namespace {

using Lines = std::vector<std::string>;

std::string yesNo(bool value)
{
    return value ? "true" : "false";
}

template <typename... Args>
std::string formatted(const char* format, Args... values)
{
    char text[64];
    const int length = std::snprintf(text, sizeof text, format, values...);
    return std::string(text, size_t(std::clamp(length, 0, int(sizeof text) - 1)));
}

std::string percentOr(std::optional<float> level, const char* missing)
{
    return level ? std::to_string(wholePercent(*level)) + "%" : missing;
}

std::string nameOf(const AudioDevice* device, const char* missing)
{
    return device ? device->name : missing;
}

std::string joined(const std::vector<std::string>& parts)
{
    std::string text;
    for (const auto& part : parts)
        text += (text.empty() ? "" : ", ") + part;
    return text;
}

// The names of a client's devices, or what its activity says when it names none.
std::string routeText(const AudioSnapshot& snapshot, const std::vector<AudioObjectID>& ids, bool running)
{
    const auto names = snapshot.deviceNames(ids);
    if (names.empty())
        return running ? "Active, route unknown" : "None reported";
    return joined(names);
}

void addHeader(Lines& lines, const DiagnosticReportState& state, const ReportDateTexts& dates)
{
    const AudioSnapshot& s = state.snapshot;
    const std::string inputActivity = s.isInputActive()           ? "In use"
                                      : s.inputActivityKnown ? "No active input reported"
                                                             : "Unavailable";
    lines.insert(lines.end(), {
        "Sonorel Doctor diagnostic report",
        "Generated: " + dates.longDate(state.generatedAt),
        "System: " + state.system,
        "App: " + (state.appVersion.empty() ? std::string("1.0") : state.appVersion),
        std::string("Monitoring: ") + (state.monitoringEnabled ? "On" : "Off"),
        "Output: " + nameOf(s.outputDevice(), "None"),
        "Input: " + nameOf(s.inputDevice(), "None"),
        "Input activity: " + inputActivity,
        "Preferred output: " + (state.preferredOutput ? state.preferredOutput->name : "Follow system default"),
        "",
        "CHECKS",
    });
    for (const auto& check : state.checks)
        lines.push_back("[" + std::string(label(check.state)) + "] " + std::string(title(check.kind)) + ": "
                        + check.detail);
}

void addRecovery(Lines& lines, const DiagnosticReportState& state, const ReportDateTexts& dates)
{
    const AudioSnapshot& s = state.snapshot;
    lines.insert(lines.end(), {
        "",
        "RECOVERY",
        "Symptom: " + std::string(label(state.intent)),
        "Alerts output: " + nameOf(s.systemOutputDevice(), "Unavailable"),
        "Confirmed working output: " + (state.lastWorkingOutput ? state.lastWorkingOutput->name : "Not confirmed"),
        "Last wake: " + (state.lastWake ? dates.shortDate(*state.lastWake) : "Not observed"),
        "Overloads in last 120 seconds on this output: " + std::to_string(s.recentOverloadCount()),
        "Undo-eligible settings: " + std::to_string(state.undoChangeCount),
        "",
        "AUDIO USERS (activity does not prove causation)",
        "Process activity complete: " + yesNo(s.clientActivityKnown),
    });
    for (const auto& client : s.clients) {
        std::string line = client.name + " (PID " + std::to_string(client.pid)
                           + ") | input: " + routeText(s, client.inputDeviceIDs, client.isRunningInput)
                           + " | output: " + routeText(s, client.outputDeviceIDs, client.isRunningOutput);
        if (const auto captured = s.deviceNames(client.capturedOutputIDs); !captured.empty())
            line += " | records what plays on: " + joined(captured);
        lines.push_back(std::move(line));
    }
    for (const auto& stream : s.appStreams)
        lines.push_back("  " + stream.appName + " stream " + std::to_string(stream.index) + ": plays on "
                        + nameOf(s.device(stream.outputID), "Unavailable") + ", volume "
                        + std::to_string(wholePercent(stream.volume)) + "%, muted " + yesNo(stream.isMuted)
                        + (stream.isCorked ? ", paused" : ""));
}

std::string portsText(const AudioDevice& d)
{
    std::string text;
    for (const auto& port : d.ports)
        text += (text.empty() ? "" : ", ") + port.description + " ("
                + std::string(textOf(portAvailabilityNames, port.availability))
                + (port.name == d.activePort ? ", active" : "") + ")";
    return text;
}

std::string profileText(const CardProfile& profile)
{
    return profile.name + " (" + (profile.isAvailable ? "available" : "unavailable") + ", "
           + std::to_string(profile.sinks) + " out, " + std::to_string(profile.sources) + " in)";
}

// Every card of the server, and of the kernel with what holds it: what a
// helper needs when no device plays.
void addCards(Lines& lines, const AudioSnapshot& s)
{
    lines.insert(lines.end(), {"", "SOUND CARDS"});
    if (s.hardwareCards.empty())
        lines.push_back("The system lists no sound card.");
    for (const auto& card : s.hardwareCards) {
        std::string line = "System card " + std::to_string(card.number) + ": " + card.name;
        if (card.playbackOwnerPID)
            line += " | playback held by " + card.playbackOwnerName + " (PID " + std::to_string(*card.playbackOwnerPID)
                    + ")";
        if (card.captureOwnerPID)
            line += " | capture held by " + card.captureOwnerName + " (PID " + std::to_string(*card.captureOwnerPID)
                    + ")";
        lines.push_back(std::move(line));
    }
    for (const auto& card : s.cards) {
        lines.push_back(card.description + " (" + card.name + ") | bus " + (card.bus.empty() ? "unknown" : card.bus)
                        + " | profile: " + (card.activeProfile.empty() ? "Unavailable" : card.activeProfile) + " ("
                        + std::string(cardProfileKindText(card.activeKind())) + ")");
        std::string profiles;
        for (const auto& profile : card.profiles)
            profiles += (profiles.empty() ? "" : ", ") + profileText(profile);
        lines.push_back("  profiles: " + (profiles.empty() ? std::string("none listed") : profiles));
    }
}

std::string controlLine(AudioDirection direction, const AudioChannelState& control)
{
    return "  " + std::string(caseName(direction)) + " "
           + elementName(control.element, control.name)
           + ": volume " + percentOr(control.volume, "Unavailable") + ", mute "
           + (control.isMuted ? yesNo(*control.isMuted) : "Unavailable") + ", writable volume "
           + yesNo(control.canSetVolume) + ", mute " + yesNo(control.canSetMute);
}

void addDevices(Lines& lines, const AudioSnapshot& s)
{
    lines.insert(lines.end(), {"", "DEVICES"});
    for (const auto& d : s.devices)
        lines.push_back(d.name + " | " + std::string(label(d.transport)) + " | in " + std::to_string(d.inputChannels)
                        + ", out " + std::to_string(d.outputChannels) + " | "
                        + (d.sampleRate ? kilohertzText(*d.sampleRate) : "Unavailable") + " | alive "
                        + yesNo(d.isAlive) + " | volume " + percentOr(d.volume, "external") + " | mute "
                        + (d.isMuted ? yesNo(*d.isMuted) : "unknown"));
    for (const auto& d : s.devices) {
        const auto budget = d.latencyMilliseconds();
        lines.push_back("  " + d.name + " — Buffer: "
                        + (d.bufferFrames ? std::to_string(*d.bufferFrames) + " frames" : "Unavailable")
                        + " | device-reported budget: " + (budget ? millisecondsText(*budget) : "Unavailable")
                        + " (not measured end-to-end) | exclusive owner PID: "
                        + (d.exclusiveOwnerPID ? std::to_string(*d.exclusiveOwnerPID) : "Unknown"));
        for (const auto direction : {AudioDirection::input, AudioDirection::output})
            for (const auto& control : d.controls(direction))
                lines.push_back(controlLine(direction, control));
        for (const auto& format : d.formats)
            lines.push_back("  " + std::string(caseName(format.direction)) + " format: " + format.label());
        lines.push_back("  Stereo balance: " + (d.balance ? formatted("%.2f", double(*d.balance)) : "Unavailable")
                        + " (0 left, 0.5 center, 1 right)");
        // A headset left in call mode shows here, even when its rate is all that looks odd.
        if (const AudioCard* card = s.cardOf(d))
            lines.push_back("  Card " + card->name + " profile: "
                            + (card->activeProfile.empty() ? std::string("Unavailable") : card->activeProfile) + " ("
                            + std::string(cardProfileKindText(card->activeKind())) + ")");
        if (!d.ports.empty())
            lines.push_back("  Ports: " + portsText(d));
        if (d.isPlaceholder)
            lines.push_back("  The audio service's stand-in output: it plays to nothing.");
    }
}

void addComparison(Lines& lines, const AppIsolation& isolation)
{
    lines.insert(lines.end(), {
        "",
        "APP COMPARISON",
        "App: " + (isolation.appName.empty() ? std::string("Not specified") : isolation.appName),
        "Doctor tone: " + std::string(label(isolation.reference)) + " on "
            + isolation.referenceOutputName.value_or("Not tested"),
        "Affected app: " + std::string(label(isolation.affected)),
        "Other output: " + std::string(label(isolation.otherOutput)),
        isolation.guidance(),
    });
}

void addActivity(Lines& lines, const ActivityLog& history, const ReportDateTexts& dates)
{
    constexpr size_t shownEntries = 50;
    lines.insert(lines.end(), {"", "RECENT ACTIVITY"});
    const size_t count = std::min(history.entries.size(), shownEntries);
    for (size_t i = 0; i < count; ++i) {
        const auto& entry = history.entries[i];
        lines.push_back(dates.shortDate(entry.date) + " — " + entry.title + ": " + entry.detail);
    }
}

}  // namespace

std::string diagnosticReport(const DiagnosticReportState& state, const ReportDateTexts& dates)
{
    Lines lines;
    addHeader(lines, state, dates);
    addRecovery(lines, state, dates);
    addDevices(lines, state.snapshot);
    addCards(lines, state.snapshot);
    addComparison(lines, state.isolation);
    addActivity(lines, state.history, dates);
    lines.insert(lines.end(), {"", "This report describes settings and reported overloads. Doctor does not save audio "
                                   "or confirm audible crackling automatically. The optional microphone test measures "
                                   "levels only when requested."});
    std::string report;
    for (size_t i = 0; i < lines.size(); ++i)
        report += (i ? "\n" : "") + lines[i];
    return report;
}

}  // namespace sonorel
