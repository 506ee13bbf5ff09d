#include "cli/command_line.h"

#include "audio/audio_log.h"
#include "audio/audio_repair_error.h"
#include "audio/quick_fix_planner.h"
#include "audio/repair_coordinator.h"
#include "audio/run_task.h"
#include "cli/command_support.h"
#include "cli/watch_command.h"
#include "diagnostics/diagnostic_report.h"
#include "diagnostics/diagnostics.h"
#include "listening/live_audio_streams.h"
#include "model/model_json.h"
#include "pulse/audio_service_restarter.h"
#include "pulse/pulse_audio_system.h"
#include "sonorel_config.h"
#include "store/preferences.h"
#include "store/report_texts.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QCoro/QCoroTimer>
#include <QFile>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <ostream>
#include <stdexcept>

namespace sonorel {

namespace {

const char* const usageText =
    "Usage: sonorel-doctor [--background] [--ui-testing]\n"
    "       sonorel-doctor COMMAND [OPTIONS]\n"
    "\n"
    "Without a command the window opens (with --background only the tray item, where\n"
    "the desktop has a tray; --ui-testing uses throw-away settings).\n"
    "\n"
    "Reads the audio setup and explains it in nine checks.\n"
    "\n"
    "Commands:\n"
    "  snapshot\n"
    "        Print the live audio setup as JSON.\n"
    "  check [--snapshot FILE] [--preferred-output FILE]\n"
    "        Print the nine checks of the live setup, or of a snapshot file, as JSON.\n"
    "  plan --intent NAME [--snapshot FILE] [--preferred-output FILE] [--last-working-output FILE]\n"
    "        Print the repairs Quick Fix would run for a symptom, as JSON.\n"
    "        NAME is one of noSound, playback, bluetooth, microphone, stereo, alerts,\n"
    "        afterWake, appOnly.\n"
    "  repair ACTION [--preferred-output FILE] [--last-working-output FILE] [--restart-unanswered]\n"
    "        Run one repair on the live setup; print its message and the changes it made.\n"
    "        --restart-unanswered lets restartAudio restart a service that does not answer\n"
    "        (nothing can record through it then); without it such a restart stops and says so.\n"
    "        ACTION is one of restoreOutput, unmute, useBuiltInMic, normalizeRate,\n"
    "        restartAudio, restoreInput, restoreStereo, alignAlerts, reselectOutput,\n"
    "        restoreLastOutput, turnOnOutput, switchOutputPort, switchInputPort, unmuteApp,\n"
    "        raiseAppVolume, moveAppToOutput.\n"
    "  undo --changes FILE\n"
    "        Undo the changes a repair printed, unless they were changed since.\n"
    "  report\n"
    "        Print the diagnostic report of the live setup, with the window's saved\n"
    "        preferences and activity log (read, never written).\n"
    "  tone\n"
    "        Play the two-second test tone (left, then right) on the default output.\n"
    "  mic-test [--seconds N]\n"
    "        Listen to the default input for ten seconds (or N, up to 600) and say\n"
    "        whether it hears anything, with its loudest level, peak and clipping.\n"
    "        Nothing is recorded.\n"
    "  watch [--checks] [--format waybar]\n"
    "        Keep watching the audio setup as the window does, and print each event\n"
    "        as it happens, one JSON object a line: {\"date\", \"kind\", \"title\",\n"
    "        \"detail\"}: devices that come or go, playback overloads, wake from\n"
    "        sleep, the output or input changed by another program, and the audio\n"
    "        service becoming unavailable and available again. --checks also prints\n"
    "        the nine checks (one line, as check prints them) at start and whenever\n"
    "        one changes state. --format waybar prints instead one line per change\n"
    "        of state for a status bar: {\"text\", \"tooltip\", \"class\", \"alt\"}.\n"
    "        Runs until interrupted; writes no settings.\n"
    "  help  Show this text.\n"
    "\n"
    "Options:\n"
    "  -h, --help     Show this text.\n"
    "  -v, --version  Show the version.\n";

// Far above any real reading (a busy setup is about 100 KiB), far below
// what would hurt: /dev/zero or a mistaken log file is refused, not read.
constexpr qint64 maximumInputSize = 8 * 1024 * 1024;

std::string readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw UsageError("cannot read " + path.toStdString() + ": " + file.errorString().toStdString());
    const QByteArray bytes = file.read(maximumInputSize + 1);
    if (file.error() != QFileDevice::NoError)
        throw UsageError("cannot read " + path.toStdString() + ": " + file.errorString().toStdString());
    if (bytes.size() > maximumInputSize)
        throw UsageError(path.toStdString() + ": too large (over 8 MiB); expected a file this program wrote");
    return bytes.toStdString();
}

template <typename Decode>
auto decodeFile(const QString& path, Decode decode)
{
    const std::string contents = readFile(path);
    try {
        return decode(contents);
    } catch (const JsonDecodeError& error) {
        throw UsageError(path.toStdString() + ": " + error.what());
    }
}

const QCommandLineOption snapshotOption("snapshot", "Snapshot file.", "FILE");
const QCommandLineOption preferredOption("preferred-output", "Preferred output file.", "FILE");
const QCommandLineOption lastWorkingOption("last-working-output", "Last working output file.", "FILE");
const QCommandLineOption intentOption("intent", "Symptom.", "NAME");
const QCommandLineOption changesOption("changes", "Changes file.", "FILE");
const QCommandLineOption unansweredOption("restart-unanswered", "Restart a service that does not answer.");
// The wait between two looks at a change that takes effect slowly.
constexpr auto repairPause = std::chrono::milliseconds(500);

AudioSnapshot liveSnapshot()
{
    PulseAudioSystem audio;
    return audio.snapshot();
}

std::string runSnapshot(const QStringList& arguments)
{
    QCommandLineParser parser;
    parseOptions(parser, arguments, "snapshot");
    return encodeSnapshot(liveSnapshot()) + "\n";
}

// The reading a command works on, with the preferred output it is judged against.
struct Diagnosis {
    AudioSnapshot snapshot;
    std::vector<DiagnosticCheck> checks;
};

Diagnosis diagnose(const QCommandLineParser& parser)
{
    AudioSnapshot snapshot = parser.isSet(snapshotOption) ? decodeFile(parser.value(snapshotOption), decodeSnapshot)
                                                           : liveSnapshot();
    std::optional<PreferredOutput> preferred;
    if (parser.isSet(preferredOption))
        preferred = decodeFile(parser.value(preferredOption), decodePreferredOutput);
    auto checks = Diagnostics::checks(snapshot, preferred);
    return {std::move(snapshot), std::move(checks)};
}

std::string runCheck(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.addOptions({snapshotOption, preferredOption});
    parseOptions(parser, arguments, "check");
    return checksJson(diagnose(parser).checks).dump(2) + "\n";
}

RepairIntent intentNamed(const QString& name)
{
    if (auto intent = fromText(repairIntentNames, name.toStdString()))
        return *intent;
    std::string valid;
    for (const auto& [intent, caseName] : repairIntentNames)
        valid += (valid.empty() ? "" : ", ") + std::string(caseName);
    throw UsageError("plan: unknown intent '" + name.toStdString() + "'; valid intents are " + valid);
}

std::string runPlan(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.addOptions({intentOption, snapshotOption, preferredOption, lastWorkingOption});
    parseOptions(parser, arguments, "plan");
    if (!parser.isSet(intentOption))
        throw UsageError("plan: pass --intent NAME");
    const RepairIntent intent = intentNamed(parser.value(intentOption));
    const Diagnosis diagnosis = diagnose(parser);
    std::optional<PreferredOutput> lastWorking;
    if (parser.isSet(lastWorkingOption))
        lastWorking = decodeFile(parser.value(lastWorkingOption), decodePreferredOutput);

    auto array = nlohmann::ordered_json::array();
    for (RepairAction action : quickFixPlan(diagnosis.checks, intent, diagnosis.snapshot, lastWorking))
        array.push_back(caseName(action));
    return array.dump(2) + "\n";
}

std::optional<PreferredOutput> optionalOutput(const QCommandLineParser& parser, const QCommandLineOption& option)
{
    if (!parser.isSet(option))
        return std::nullopt;
    return decodeFile(parser.value(option), decodePreferredOutput);
}

RepairAction actionNamed(const QString& name)
{
    if (auto action = fromText(repairActionNames, name.toStdString()))
        return *action;
    std::string valid;
    for (const auto& [action, caseName] : repairActionNames)
        valid += (valid.empty() ? "" : ", ") + std::string(caseName);
    throw UsageError("repair: unknown action '" + name.toStdString() + "'; valid actions are " + valid);
}

struct Repair {
    PulseAudioSystem audio;
    std::unique_ptr<AudioServiceRestarter> restarter =
        installedRestarter(QCoreApplication::applicationDirPath(), [this] { return audio.serverAddress(); });
    RepairCoordinator coordinator{audio, *restarter, [] { return QCoro::sleepFor(repairPause); }};
};

int runRepair(const QStringList& arguments, std::ostream& out, std::ostream& err)
{
    QCommandLineParser parser;
    parser.addOptions({preferredOption, lastWorkingOption, unansweredOption});
    parser.addPositionalArgument("action", "The repair to run.");
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(QStringList{"sonorel-doctor"} + arguments))
        throw UsageError("repair: " + parser.errorText().toStdString());
    if (parser.positionalArguments().size() != 1)
        throw UsageError("repair: name one ACTION (see sonorel-doctor --help)");
    const RepairAction action = actionNamed(parser.positionalArguments().first());
    const auto preferred = optionalOutput(parser, preferredOption);
    const auto lastWorking = optionalOutput(parser, lastWorkingOption);

    Repair repair;
    std::optional<std::string> message;
    std::string failure;
    try {
        message =
            runTask(repair.coordinator.perform(action, preferred, lastWorking, parser.isSet(unansweredOption)));
    } catch (const AudioRepairError& error) {
        failure = error.description();
    }
    nlohmann::ordered_json result;
    if (message)
        result["message"] = *message;
    result["changes"] = nlohmann::ordered_json::parse(encodeChanges(repair.coordinator.lastChanges()));
    // What a failed repair already changed is still printed, so it can be undone.
    if (message || !repair.coordinator.lastChanges().empty()) {
        if (!writeOutput(out, err, result.dump(2) + "\n")) {
            // The undo record must not be lost with the output.
            err << "sonorel-doctor: the changes made, for undo:\n" << result.dump(2) << "\n";
            return exitFailure;
        }
    }
    if (message)
        return 0;
    err << "sonorel-doctor: " << failure << "\n";
    return exitFailure;
}

int runUndo(const QStringList& arguments, std::ostream& out, std::ostream& err)
{
    QCommandLineParser parser;
    parser.addOption(changesOption);
    parseOptions(parser, arguments, "undo");
    if (!parser.isSet(changesOption))
        throw UsageError("undo: pass --changes FILE");
    const auto changes = decodeFile(parser.value(changesOption), decodeChanges);
    Repair repair;
    try {
        repair.coordinator.undo(changes);
    } catch (const AudioRepairError& error) {
        err << "sonorel-doctor: " << error.description() << "\n";
        return exitFailure;
    }
    const auto message =
        nlohmann::ordered_json{{"message", "Reversed the verified changes without overwriting intervening edits."}};
    return writeOutput(out, err, message.dump(2) + "\n") ? 0 : exitFailure;
}

std::string runReport(const QStringList& arguments, std::ostream& err)
{
    QCommandLineParser parser;
    parseOptions(parser, arguments, "report");
    // The window owns the preferences: they are read here, never written.
    const auto settings = userSettings();
    if (auto refusal = settingsRefusal(*settings))
        err << "sonorel-doctor: report: " << *refusal << "; the report leaves out the saved settings and activity\n";
    const Preferences preferences(*settings);
    DiagnosticReportState state;
    state.generatedAt = systemNow();
    state.system = systemDescription();
    state.appVersion = SONOREL_VERSION;
    state.monitoringEnabled = preferences.monitoring();
    state.snapshot = liveSnapshot();
    state.preferredOutput = preferences.preferredOutput();
    state.checks = Diagnostics::checks(state.snapshot, state.preferredOutput);
    state.lastWorkingOutput = preferences.lastWorkingOutput();
    state.lastWake = preferences.lastWake();
    state.history = preferences.activity().value_or(ActivityLog{});
    return diagnosticReport(state, localeDateTexts()) + "\n";
}

int runTone(const QStringList& arguments, std::ostream& err)
{
    QCommandLineParser parser;
    parseOptions(parser, arguments, "tone");
    TestTonePlayer tone([] { return std::make_unique<LiveTonePlayback>(); });
    try {
        runTask(tone.play());
    } catch (const AudioRepairError& error) {
        err << "sonorel-doctor: " << error.description() << "\n";
        return exitFailure;
    }
    std::string cutShort;
    QObject::connect(&tone, &TestTonePlayer::cutShort, [&](const std::string& sentence) { cutShort = sentence; });
    QEventLoop loop;
    QObject::connect(&tone, &TestTonePlayer::isPlayingChanged, &loop, &QEventLoop::quit);
    if (tone.isPlaying())
        loop.exec();
    if (!cutShort.empty()) {
        err << "sonorel-doctor: " << cutShort << "\n";
        return exitFailure;
    }
    return 0;
}

const QCommandLineOption secondsOption("seconds", "How long to listen.", "N");

int runMicrophoneTest(const QStringList& arguments, std::ostream& out, std::ostream& err)
{
    QCommandLineParser parser;
    parser.addOption(secondsOption);
    parseOptions(parser, arguments, "mic-test");
    double seconds = 10;
    if (parser.isSet(secondsOption)) {
        bool isNumber = false;
        seconds = parser.value(secondsOption).toDouble(&isNumber);
        if (!isNumber || !(seconds > 0 && seconds <= 600))
            throw UsageError("mic-test: --seconds wants a number of seconds above 0, up to 600");
    }
    using State = MicrophoneLevelTester::State;
    MicrophoneLevelTester tester(std::make_unique<LiveMicrophoneCapture>(), [] { return liveMicrophonePermission(); },
                                 std::chrono::milliseconds(std::lround(seconds * 1000)));
    float loudestPeak = 0;
    QEventLoop loop;
    QObject::connect(&tester, &MicrophoneLevelTester::changed, &loop, [&] {
        loudestPeak = std::max(loudestPeak, tester.peak());
        if (tester.state() != State::requesting && tester.state() != State::listening)
            loop.quit();
    });
    const AudioSnapshot reading = liveSnapshot();
    const AudioDevice* input = reading.inputDevice();
    const std::string uid = input ? input->uid : std::string();
    tester.start(reading, [uid]() -> QCoro::Task<bool> { co_return inputStillFree(liveSnapshot(), uid); });
    if (tester.state() == State::requesting || tester.state() == State::listening)
        loop.exec();
    if (tester.state() != State::finished) {
        err << "sonorel-doctor: " << tester.detail() << "\n";
        return exitFailure;
    }
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, "Loudest level %.4f, peak %.4f of full scale; %lld clipped samples.\n",
                  double(tester.maximumRMS()), double(loudestPeak), static_cast<long long>(tester.clippedSamples()));
    return writeOutput(out, err, tester.detail() + "\n" + numbers) ? 0 : exitFailure;
}

}  // namespace

int runCommandLine(const QStringList& arguments, std::ostream& out, std::ostream& err)
{
    const QString command = arguments.value(0);
    const QStringList options = arguments.mid(1);
    auto printed = [&](const std::string& text) { return writeOutput(out, err, text) ? 0 : exitFailure; };
    try {
        if (command.isEmpty())
            throw UsageError("name a command (see sonorel-doctor --help); without one the window opens");
        if (command == "help" || command == "--help" || command == "-h" || options.contains("--help")
            || options.contains("-h")) {
            return printed(usageText);
        }
        if (command == "--version" || command == "-v")
            return printed("sonorel-doctor " + QCoreApplication::applicationVersion().toStdString() + "\n");
        if (command == "check")
            return printed(runCheck(options));
        if (command == "snapshot")
            return printed(runSnapshot(options));
        if (command == "repair")
            return runRepair(options, out, err);
        if (command == "undo")
            return runUndo(options, out, err);
        if (command == "plan")
            return printed(runPlan(options));
        if (command == "report")
            return printed(runReport(options, err));
        if (command == "tone")
            return runTone(options, err);
        if (command == "mic-test")
            return runMicrophoneTest(options, out, err);
        if (command == "watch")
            return runWatch(options, out, err);
        throw UsageError("unknown command '" + command.toStdString() + "' (see sonorel-doctor --help)");
    } catch (const UsageError& error) {
        err << "sonorel-doctor: " << error.what() << "\n";
        return exitBadInput;
    } catch (const std::exception& error) {
        err << "sonorel-doctor: " << error.what() << "\n";
        return exitFailure;
    }
}

}  // namespace sonorel
