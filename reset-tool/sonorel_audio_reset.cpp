// sonorel-audio-reset: restarts a user's sound server, but only after
// checking, as that user, that nothing is recording. It talks to its caller
// only through its exit status and at most one line on standard error, and
// links nothing of the application.
//
//   sonorel-audio-reset UID            restart UID's sound server (as root or as UID)
//   sonorel-audio-reset --check-input  is anything recording? (as the user to check)

#include "model/recording_kind.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/timeval.h>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int inputActiveStatus = 23;
constexpr int inputUnknownStatus = 24;
constexpr int notAuthorizedStatus = 25;
constexpr int notRestartedStatus = 26;

constexpr pa_usec_t checkTimeout = 3 * PA_USEC_PER_SEC;

// The sound server's processes and their user units.
const std::set<std::string> serverProcesses{"pipewire", "pipewire-pulse", "wireplumber", "pulseaudio"};
const std::vector<std::string> serverUnits{"pipewire.service", "pipewire-pulse.service", "wireplumber.service",
                                           "pulseaudio.service"};

// Children run with this environment only: nothing the caller set changes what runs.
const char* const cleanPath = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

[[noreturn]] void fail(int status, const char* line)
{
    std::fprintf(stderr, "%s\n", line);
    std::exit(status);
}

enum class Activity { idle, active, unknown };

struct Check {
    pa_mainloop* mainloop = nullptr;
    bool done = false;
    bool known = false;
    bool active = false;
    // Sources that mirror an output: recording one records what it plays.
    std::set<uint32_t> monitors;
};

// By the app's rule: a level meter is no recording; a microphone recording or
// a recording of what an output plays is (the restart would cut either).
void sourceOutput(pa_context*, const pa_source_output_info* info, int eol, void* data)
{
    auto* check = static_cast<Check*>(data);
    if (info) {
        const char* peaks = pa_proplist_gets(info->proplist, "resample.peaks");
        const bool detectsPeaks = (info->resample_method && std::strcmp(info->resample_method, "peaks") == 0)
                               || (peaks && std::strcmp(peaks, "true") == 0);
        const auto kind =
            sonorel::recordingKind(info->sample_spec.rate, detectsPeaks, check->monitors.count(info->source) > 0);
        if (!info->corked && kind != sonorel::RecordingKind::levelMeter)
            check->active = true;
        return;
    }
    check->known = eol > 0;
    check->done = true;
}

void source(pa_context* context, const pa_source_info* info, int eol, void* data)
{
    auto* check = static_cast<Check*>(data);
    if (info) {
        if (info->monitor_of_sink != PA_INVALID_INDEX)
            check->monitors.insert(info->index);
        return;
    }
    pa_operation* op = eol > 0 ? pa_context_get_source_output_info_list(context, sourceOutput, check) : nullptr;
    if (op)
        pa_operation_unref(op);
    else
        check->done = true;
}

void contextState(pa_context* context, void* data)
{
    auto* check = static_cast<Check*>(data);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        if (pa_operation* op = pa_context_get_source_info_list(context, source, check))
            pa_operation_unref(op);
        else
            check->done = true;
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        check->done = true;
        break;
    default:
        break;
    }
}

// A running recording stream on the calling user's own sound server.
Activity inputActivity()
{
    const std::string server = "unix:/run/user/" + std::to_string(getuid()) + "/pulse/native";
    Check check;
    check.mainloop = pa_mainloop_new();
    if (!check.mainloop)
        return Activity::unknown;
    pa_mainloop_api* api = pa_mainloop_get_api(check.mainloop);
    pa_context* context = pa_context_new(api, "sonorel-audio-reset");
    timeval deadline;
    pa_gettimeofday(&deadline);
    pa_timeval_add(&deadline, checkTimeout);
    pa_time_event* timeout = api->time_new(
        api, &deadline, [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
            static_cast<Check*>(data)->done = true;
        },
        &check);
    if (context) {
        pa_context_set_state_callback(context, contextState, &check);
        if (pa_context_connect(context, server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            check.done = true;
        while (!check.done && pa_mainloop_iterate(check.mainloop, 1, nullptr) >= 0) {
        }
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    api->time_free(timeout);
    pa_mainloop_free(check.mainloop);
    // A recording found counts even when the list did not end cleanly.
    if (check.active)
        return Activity::active;
    return check.known ? Activity::idle : Activity::unknown;
}

int checkInput()
{
    // libpulse's own warnings (a missing cookie) are not ours to pass on:
    // the caller reads one marker line at most.
    const int standardError = dup(STDERR_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0)
        dup2(devNull, STDERR_FILENO);
    const Activity activity = inputActivity();
    if (standardError >= 0) {
        dup2(standardError, STDERR_FILENO);
        close(standardError);
    }
    if (devNull >= 0)
        close(devNull);
    switch (activity) {
    case Activity::active:
        fail(inputActiveStatus, "SONOREL_INPUT_ACTIVE");
    case Activity::unknown:
        fail(inputUnknownStatus, "SONOREL_INPUT_UNKNOWN");
    case Activity::idle:
        break;
    }
    return 0;
}

// Digits with an optional leading sign, within 32 bits; absent otherwise.
std::optional<uint32_t> parseUserID(const std::string& text)
{
    size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    if (at == text.size())
        return std::nullopt;
    uint64_t value = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9')
            return std::nullopt;
        value = value * 10 + uint64_t(text[at] - '0');
        if (value > UINT32_MAX)
            return std::nullopt;
    }
    if (negative && value != 0)
        return std::nullopt;
    return uint32_t(value);
}

// Runs `arguments` (an absolute program first) with a clean environment,
// standard output to /dev/null and standard error shared (or dropped when
// `quiet`); its exit status, or absent when it could not be launched.
std::optional<int> run(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {},
                       bool quiet = false)
{
    if (access(arguments[0].c_str(), X_OK) != 0)
        return std::nullopt;
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp{const_cast<char*>(cleanPath)};
    for (const auto& variable : environment)
        envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (quiet)
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return std::nullopt;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

std::optional<std::string> firstExisting(std::initializer_list<const char*> paths)
{
    for (const char* path : paths)
        if (access(path, X_OK) == 0)
            return std::string(path);
    return std::nullopt;
}

// The processes of `uid` that make up its sound server.
std::vector<pid_t> serverProcessesOf(uid_t uid)
{
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (!proc)
        return found;
    while (const dirent* entry = readdir(proc)) {
        const auto pid = parseUserID(entry->d_name);
        if (!pid || *pid == 0)
            continue;
        std::ifstream status(std::string("/proc/") + entry->d_name + "/status");
        std::string line, name;
        std::optional<uid_t> owner;
        while (std::getline(status, line)) {
            if (line.rfind("Name:", 0) == 0)
                std::istringstream(line.substr(5)) >> name;
            else if (line.rfind("Uid:", 0) == 0) {
                uid_t real = 0;
                if (std::istringstream(line.substr(4)) >> real)
                    owner = real;
            }
        }
        if (owner == uid && serverProcesses.count(name))
            found.push_back(pid_t(*pid));
    }
    closedir(proc);
    return found;
}

// Restarts the server: its active systemd user units, else SIGTERM to its
// processes (socket activation or a supervisor brings them back).
int restartServer(uid_t uid, const std::string& user, bool asRoot)
{
    if (const auto systemctl = firstExisting({"/usr/bin/systemctl", "/bin/systemctl"})) {
        std::vector<std::string> base{*systemctl, "--user"};
        if (asRoot)
            base.push_back("--machine=" + user + "@.host");
        const std::vector<std::string> environment{"XDG_RUNTIME_DIR=/run/user/" + std::to_string(uid)};
        std::vector<std::string> active;
        for (const auto& unit : serverUnits) {
            auto isActive = base;
            isActive.insert(isActive.end(), {"--quiet", "is-active", unit});
            // Quiet: a session without a user manager is an ordinary case here.
            if (run(isActive, environment, true) == 0)
                active.push_back(unit);
        }
        if (!active.empty()) {
            auto restart = base;
            restart.push_back("restart");
            restart.insert(restart.end(), active.begin(), active.end());
            if (const auto status = run(restart, environment))
                return *status;
        }
    }
    const auto processes = serverProcessesOf(uid);
    int signalled = 0;
    for (const pid_t pid : processes)
        if (kill(pid, SIGTERM) == 0)
            ++signalled;
    if (signalled == 0)
        fail(notRestartedStatus, "The audio service could not be restarted.");
    return 0;
}

std::string ownPath()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    return std::string(path, size_t(length));
}

int reset(const std::string& argument)
{
    const auto uid = parseUserID(argument);
    if (!uid || *uid == 0)
        fail(notAuthorizedStatus, "Sonorel Doctor audio reset requires administrator authorization.");
    const uid_t effective = geteuid();
    if (effective != 0 && effective != *uid)
        fail(notAuthorizedStatus, "Sonorel Doctor audio reset requires administrator authorization.");
    const passwd* account = getpwuid(*uid);
    if (!account)
        fail(inputUnknownStatus, "SONOREL_INPUT_UNKNOWN");
    const std::string user = account->pw_name;

    if (effective == *uid) {
        checkInput();
        return restartServer(*uid, user, false);
    }
    // As root: the check runs as the user, whose server only they may ask.
    const std::string self = ownPath();
    const auto runuser = firstExisting({"/usr/sbin/runuser", "/sbin/runuser"});
    if (self.empty() || !runuser)
        fail(inputUnknownStatus, "SONOREL_INPUT_UNKNOWN");
    const auto status = run({*runuser, "-u", user, "--", self, "--check-input"});
    if (!status)
        fail(inputUnknownStatus, "SONOREL_INPUT_UNKNOWN");
    if (*status != 0)
        return *status;
    return restartServer(*uid, user, true);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        fail(notAuthorizedStatus, "Sonorel Doctor audio reset requires administrator authorization.");
    const std::string argument = argv[1];
    if (argument == "--check-input")
        return checkInput();
    return reset(argument);
}
