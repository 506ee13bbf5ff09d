#pragma once

// The places of the user the app relies on: a private runtime directory and
// the folder reports are saved in.

#include <QString>

#include <optional>

namespace sonorel {

// A directory only this user can reach: a real directory (not a link) that
// the user owns and nobody else may enter. Another account can then neither
// take a name in it first nor read what is there.
bool isPrivateDirectory(const QString& path);

// Where the running window listens for a second launch: in the session's
// runtime directory ($XDG_RUNTIME_DIR), else the private one Qt makes for the
// user; none when neither is private, and then no launch waits on another.
std::optional<QString> instanceSocketPath();

// Where an exported report is proposed: Documents, else the home folder (a
// file dialog given a folder that is missing opens wherever the app started).
QString reportFolder();

}  // namespace sonorel
