#include "cli/command_line.h"

#include "audio/quick_fix_planner.h"
#include "diagnostics/diagnostics.h"
#include "model/model_json.h"
#include "pulse/pulse_audio_system.h"
#include "sonorel_config.h"

#include <QCommandLineParser>
#include <QFile>

#include <nlohmann/json.hpp>

#include <ostream>
#include <stdexcept>

namespace sonorel {

namespace {

constexpr int exitFailure = 1;
constexpr int exitBadInput = 2;

// Bad input: reported as one line, exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

const char* const usageText =
    "Usage: sonorel-doctor COMMAND [OPTIONS]\n"
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
    "  help  Show this text.\n"
    "\n"
    "Options:\n"
    "  -h, --help     Show this text.\n"
    "  -v, --version  Show the version.\n";

std::string readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw UsageError("cannot read " + path.toStdString() + ": " + file.errorString().toStdString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw UsageError("cannot read " + path.toStdString() + ": " + file.errorString().toStdString());
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

// Parses the options of one command; anything unknown or missing a value is
// a usage error.
void parseOptions(QCommandLineParser& parser, const QStringList& arguments, const QString& command)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(QStringList{"sonorel-doctor"} + arguments))
        throw UsageError(command.toStdString() + ": " + parser.errorText().toStdString());
    if (!parser.positionalArguments().isEmpty())
        throw UsageError(command.toStdString() + ": unexpected argument '"
                         + parser.positionalArguments().first().toStdString() + "'");
}

std::string checksJson(const std::vector<DiagnosticCheck>& checks)
{
    auto array = nlohmann::ordered_json::array();
    for (const auto& check : checks) {
        nlohmann::ordered_json row;
        row["kind"] = caseName(check.kind);
        row["state"] = label(check.state);
        row["detail"] = check.detail;
        row["action"] = check.action ? nlohmann::ordered_json(caseName(*check.action)) : nullptr;
        array.push_back(std::move(row));
    }
    return array.dump(2) + "\n";
}

const QCommandLineOption snapshotOption("snapshot", "Snapshot file.", "FILE");
const QCommandLineOption preferredOption("preferred-output", "Preferred output file.", "FILE");
const QCommandLineOption lastWorkingOption("last-working-output", "Last working output file.", "FILE");
const QCommandLineOption intentOption("intent", "Symptom.", "NAME");

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
    return checksJson(diagnose(parser).checks);
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

}  // namespace

int runCommandLine(const QStringList& arguments, std::ostream& out, std::ostream& err)
{
    const QString command = arguments.value(0);
    const QStringList options = arguments.mid(1);
    try {
        if (command.isEmpty())
            throw UsageError("the window is not built yet; run a command (see sonorel-doctor --help)");
        if (command == "help" || command == "--help" || command == "-h" || options.contains("--help")
            || options.contains("-h")) {
            out << usageText;
            return 0;
        }
        if (command == "--version" || command == "-v") {
            out << "sonorel-doctor " << SONOREL_VERSION << "\n";
            return 0;
        }
        if (command == "check") {
            out << runCheck(options);
            return 0;
        }
        if (command == "snapshot") {
            out << runSnapshot(options);
            return 0;
        }
        if (command == "plan") {
            out << runPlan(options);
            return 0;
        }
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
