#pragma once

#include <QStringList>

#include <iosfwd>

namespace sonorel {

// `watch [--checks]`: the store's monitoring of the live server, printed as
// JSON lines until SIGINT or SIGTERM (status 0) or until the output cannot
// be written (quietly, status 0, when its reader went away; else status 1).
// Never writes the user's preferences or activity log.
int runWatch(const QStringList& arguments, std::ostream& out, std::ostream& err);

}  // namespace sonorel
