// sonorel-audio-reset: restarts a user's sound server, but only after
// checking, as that user, that nothing is recording. It talks to its caller
// only through its exit status and at most one line on standard error, and
// links nothing of the application.
//
//   sonorel-audio-reset UID [--socket PATH] [--restart-unanswered]
//       restart UID's sound server (as root or as UID)
//   sonorel-audio-reset --check-input [--socket PATH] [--restart-unanswered]
//       is anything recording? (as the user to check)
//
// PATH is the server's native socket, as the app reached it; without it,
// /run/user/UID/pulse/native. --restart-unanswered is the user's consent to
// restart a server that does not answer, so that nothing can be checked.

#include "model/recording_kind.h"
#include "server_restart.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/timeval.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace reset_tool;

namespace {

constexpr pa_usec_t checkTimeout = 3 * PA_USEC_PER_SEC;

enum class Activity { idle, active, unknown, notAnswering };

struct Check {
    pa_mainloop* mainloop = nullptr;
    bool done = false;
    bool known = false;
    bool active = false;
    // No connection, or no reply in time: nothing can record through the server.
    bool unanswered = false;
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

bool isConnectionError(int error)
{
    return error == PA_ERR_CONNECTIONREFUSED || error == PA_ERR_CONNECTIONTERMINATED || error == PA_ERR_TIMEOUT;
}

void contextState(pa_context* context, void* data)
{
    auto* check = static_cast<Check*>(data);
    // Our own disconnect at the end says nothing of the server.
    if (check->done)
        return;
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        if (pa_operation* op = pa_context_get_source_info_list(context, source, check))
            pa_operation_unref(op);
        else
            check->done = true;
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        check->unanswered = isConnectionError(pa_context_errno(context));
        check->done = true;
        break;
    default:
        break;
    }
}

// A running recording stream on the server at `socket`.
Activity inputActivity(const std::string& socket)
{
    const std::string server = "unix:" + socket;
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
            static_cast<Check*>(data)->unanswered = true;
            static_cast<Check*>(data)->done = true;
        },
        &check);
    if (context) {
        pa_context_set_state_callback(context, contextState, &check);
        if (pa_context_connect(context, server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            check.unanswered = isConnectionError(pa_context_errno(context));
            check.done = true;
        }
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
    if (check.known)
        return Activity::idle;
    return check.unanswered ? Activity::notAnswering : Activity::unknown;
}

// Exits unless nothing records, or the server does not answer and the user
// agreed to restart it anyway.
void checkInput(const std::string& socket, bool restartUnanswered)
{
    // libpulse's own warnings (a missing cookie) are not ours to pass on:
    // the caller reads one marker line at most.
    const int standardError = dup(STDERR_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0)
        dup2(devNull, STDERR_FILENO);
    const Activity activity = inputActivity(socket);
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
    case Activity::notAnswering:
        if (!restartUnanswered)
            fail(inputUnknownStatus, "SONOREL_SERVER_NOT_ANSWERING");
        break;
    case Activity::idle:
        break;
    }
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

std::string lastLine(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text.substr(text.rfind('\n') + 1);
}

std::string ownPath()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    return std::string(path, size_t(length));
}

// What the caller asked for; absent when the command line is not one of ours.
struct Request {
    bool checkOnly = false;
    uid_t uid = 0;  // reset mode
    std::optional<std::string> socket;
    bool restartUnanswered = false;
};

std::optional<Request> parseRequest(int argc, char** argv)
{
    if (argc < 2)
        return std::nullopt;
    Request request;
    const std::string first = argv[1];
    if (first == "--check-input") {
        request.checkOnly = true;
    } else {
        const auto uid = parseUserID(first);
        if (!uid || *uid == 0)
            return std::nullopt;
        request.uid = *uid;
    }
    for (int at = 2; at < argc; ++at) {
        const std::string option = argv[at];
        if (option == "--socket" && at + 1 < argc && !request.socket)
            request.socket = argv[++at];
        else if (option == "--restart-unanswered" && !request.restartUnanswered)
            request.restartUnanswered = true;
        else
            return std::nullopt;
    }
    return request;
}

// The server's socket: the one given, which must be a socket of `uid` itself
// (a link could lead the check and the restart to another server) or nothing
// yet (a server that is gone does not answer), or that user's default one.
std::string serverSocket(const std::optional<std::string>& given, uid_t uid)
{
    if (!given)
        return "/run/user/" + std::to_string(uid) + "/pulse/native";
    struct stat status {};
    const bool absolute = !given->empty() && given->front() == '/';
    const bool found = absolute && lstat(given->c_str(), &status) == 0;
    if (!absolute || (found && (!S_ISSOCK(status.st_mode) || status.st_uid != uid)) || (!found && errno != ENOENT))
        fail(notAuthorizedStatus, "The audio socket given is not a socket of user " + std::to_string(uid) + ".");
    return *given;
}

int reset(const Request& request)
{
    const uid_t effective = geteuid();
    if (effective != 0 && effective != request.uid)
        fail(notAuthorizedStatus, "Sonorel Doctor audio reset requires administrator authorization.");
    const passwd* account = getpwuid(request.uid);
    if (!account)
        fail(inputUnknownStatus, "SONOREL_INPUT_UNKNOWN");
    const std::string user = account->pw_name;
    const gid_t group = account->pw_gid;
    const std::string socket = serverSocket(request.socket, request.uid);

    if (effective == request.uid) {
        checkInput(socket, request.restartUnanswered);
        restartServer(request.uid, user, false, socket);
        return 0;
    }
    // As root: the check runs as the user, whose server only they may ask.
    const std::string self = ownPath();
    std::vector<std::string> asUser;
    if (const auto runuser = firstExisting({"/usr/sbin/runuser", "/sbin/runuser"}))
        asUser = {*runuser, "-u", user, "--"};
    else if (const auto setpriv = firstExisting({"/usr/bin/setpriv", "/bin/setpriv"}))
        asUser = {*setpriv, "--reuid=" + std::to_string(request.uid), "--regid=" + std::to_string(group),
                  "--init-groups", "--"};
    const char* const notChecked = "The input check could not run as the user.";
    if (self.empty() || asUser.empty())
        fail(notRestartedStatus, notChecked);
    asUser.insert(asUser.end(), {self, "--check-input", "--socket", socket});
    if (request.restartUnanswered)
        asUser.push_back("--restart-unanswered");
    const auto check = run(asUser);
    if (!check)
        fail(notRestartedStatus, notChecked);
    switch (check->status) {
    case 0:
        break;
    case inputActiveStatus:
    case inputUnknownStatus:
    case notAuthorizedStatus:
        // The answer of our own copy, its line last.
        fail(check->status, lastLine(check->output));
    default:
        // runuser's or setpriv's own failures (126, 127) are no answer of ours.
        fail(notRestartedStatus, notChecked);
    }
    restartServer(request.uid, user, true, socket);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const auto request = parseRequest(argc, argv);
    if (!request)
        fail(notAuthorizedStatus, "Sonorel Doctor audio reset requires administrator authorization.");
    if (request->checkOnly) {
        checkInput(serverSocket(request->socket, getuid()), request->restartUnanswered);
        return 0;
    }
    return reset(*request);
}
