#pragma once

// The reset tool's ways out, its children, and the restart itself.

#include <sys/types.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace reset_tool {

constexpr int inputActiveStatus = 23;
constexpr int inputUnknownStatus = 24;
constexpr int notAuthorizedStatus = 25;
constexpr int notRestartedStatus = 26;

// Ends the tool with `status` and `line`, the one line its caller reads.
[[noreturn]] void fail(int status, const std::string& line);

struct Finished {
    int status = 0;
    std::string output;  // standard output and error together
};

// Runs `arguments` (an absolute program first) with a clean environment and
// collects what it writes; absent when it could not be launched.
std::optional<Finished> run(const std::vector<std::string>& arguments,
                            const std::vector<std::string>& environment = {});

std::optional<std::string> firstExisting(std::initializer_list<const char*> paths);

// Restarts the server listening on `socket` and nothing else: its systemd
// user unit with the unit's sound siblings, else that one process. `uid` is
// the account it must run as (`user` by name; `asRoot` when the tool is root).
void restartServer(uid_t uid, const std::string& user, bool asRoot, const std::string& socket);

}  // namespace reset_tool
