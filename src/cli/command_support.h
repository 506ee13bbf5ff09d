#pragma once

#include "model/diagnostic_check.h"

#include <QCommandLineParser>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sonorel {

inline constexpr int exitFailure = 1;
inline constexpr int exitBadInput = 2;

// Bad input: reported as one line, exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses the options of one command; anything unknown or missing a value is
// a usage error.
void parseOptions(QCommandLineParser& parser, const QStringList& arguments, const QString& command);

// The nine checks as `check` prints them: {"kind", "state", "detail", "action"} each.
nlohmann::ordered_json checksJson(const std::vector<DiagnosticCheck>& checks);

// Writes and flushes `text`. When it did not arrive: the errno of the cause,
// 0 when unknown.
std::optional<int> writeFailure(std::ostream& out, const std::string& text);
// The one line on stderr for output that did not arrive.
void reportWriteFailure(std::ostream& err, int cause);
// Prints a command's output and makes sure it arrived: a full disk, a closed
// standard output or a reader that went away is a failure, said on stderr.
bool writeOutput(std::ostream& out, std::ostream& err, const std::string& text);

}  // namespace sonorel
