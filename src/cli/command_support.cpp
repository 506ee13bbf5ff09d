#include "cli/command_support.h"

#include <cerrno>
#include <cstring>
#include <ostream>

namespace sonorel {

void parseOptions(QCommandLineParser& parser, const QStringList& arguments, const QString& command)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(QStringList{"sonorel-doctor"} + arguments))
        throw UsageError(command.toStdString() + ": " + parser.errorText().toStdString());
    if (!parser.positionalArguments().isEmpty())
        throw UsageError(command.toStdString() + ": unexpected argument '"
                         + parser.positionalArguments().first().toStdString() + "'");
}

nlohmann::ordered_json checksJson(const std::vector<DiagnosticCheck>& checks)
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
    return array;
}

std::optional<int> writeFailure(std::ostream& out, const std::string& text)
{
    errno = 0;
    out << text;
    out.flush();
    if (out)
        return std::nullopt;
    return errno;
}

void reportWriteFailure(std::ostream& err, int cause)
{
    err << "sonorel-doctor: cannot write to standard output" << (cause ? std::string(": ") + std::strerror(cause) : "")
        << "\n";
}

bool writeOutput(std::ostream& out, std::ostream& err, const std::string& text)
{
    const auto cause = writeFailure(out, text);
    if (cause)
        reportWriteFailure(err, *cause);
    return !cause;
}

}  // namespace sonorel
