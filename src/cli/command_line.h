#pragma once

#include <QStringList>

#include <iosfwd>

namespace sonorel {

// Runs one command of the headless front (arguments without the program
// name) and returns the exit status: 0 done, 1 the operation failed, 2 bad
// input. Output is written only once it is complete, so a failure never
// leaves partial JSON on `out`.
int runCommandLine(const QStringList& arguments, std::ostream& out, std::ostream& err);

}  // namespace sonorel
