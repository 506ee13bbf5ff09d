#include "server_restart.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace reset_tool {

namespace {

// The sound server's processes, and its user units by the same names.
const std::set<std::string> serverProcesses{"pipewire", "pipewire-pulse", "wireplumber", "pulseaudio"};

// Children run with this environment only: nothing the caller set changes what runs.
const char* const cleanPath = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

// A server that has not exited this long after SIGTERM is hung.
constexpr int stopMilliseconds = 3000;

struct Peer {
    pid_t pid = 0;
    uid_t uid = 0;
};

// The process listening on `socket`, by the credentials the kernel gives a
// connection to it (taken when it began to listen, so a hung server has them too).
std::optional<Peer> listenerOf(const std::string& socket)
{
    sockaddr_un address{};
    if (socket.size() >= sizeof address.sun_path)
        return std::nullopt;
    address.sun_family = AF_UNIX;
    socket.copy(address.sun_path, socket.size());
    const int connection = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (connection < 0)
        return std::nullopt;
    std::optional<Peer> peer;
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
        && getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0)
        peer = Peer{credentials.pid, credentials.uid};
    close(connection);
    return peer;
}

// A process's name and real user, from /proc.
std::pair<std::string, std::optional<uid_t>> nameAndUser(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line, name;
    std::optional<uid_t> user;
    while (std::getline(status, line)) {
        if (line.rfind("Name:", 0) == 0)
            std::istringstream(line.substr(5)) >> name;
        else if (line.rfind("Uid:", 0) == 0) {
            uid_t real = 0;
            if (std::istringstream(line.substr(4)) >> real)
                user = real;
        }
    }
    return {name, user};
}

// Where a process runs under `uid`'s service manager: the last part of its
// control group below user@UID.service ("pipewire-pulse.service", or
// "init.scope" for the manager itself); empty outside it.
std::string userManagerPlace(pid_t pid, uid_t uid)
{
    std::ifstream groups("/proc/" + std::to_string(pid) + "/cgroup");
    const std::string manager = "/user@" + std::to_string(uid) + ".service/";
    for (std::string line; std::getline(groups, line);)
        if (line.find(manager) != std::string::npos)
            return line.substr(line.rfind('/') + 1);
    return {};
}

bool isServerUnit(const std::string& unit)
{
    return unit.ends_with(".service") && serverProcesses.count(unit.substr(0, unit.size() - 8));
}

// `systemctl --user` for the account, whether the tool runs as it or as root.
class UserManager {
public:
    UserManager(uid_t uid, const std::string& user, bool asRoot)
        : m_environment{"XDG_RUNTIME_DIR=/run/user/" + std::to_string(uid)}
    {
        if (const auto systemctl = firstExisting({"/usr/bin/systemctl", "/bin/systemctl"}))
            m_base = {*systemctl, "--user"};
        if (asRoot && !m_base.empty())
            m_base.push_back("--machine=" + user + "@.host");
    }

    std::optional<Finished> operator()(const std::vector<std::string>& arguments) const
    {
        if (m_base.empty())
            return std::nullopt;
        auto command = m_base;
        command.insert(command.end(), arguments.begin(), arguments.end());
        return run(command, m_environment);
    }

    // With socket activation the manager listens itself: the service of the
    // sound socket unit that listens on `socket`.
    std::optional<std::string> activatedService(const std::string& socket) const
    {
        struct stat wanted {};
        if (stat(socket.c_str(), &wanted) != 0)
            return std::nullopt;
        for (const auto& name : serverProcesses) {
            const auto shown = (*this)({"show", "--property=Listen", name + ".socket"});
            std::istringstream lines(shown && shown->status == 0 ? shown->output : std::string());
            // Listen=/run/user/1000/pulse/native (Stream)
            for (std::string line; std::getline(lines, line);) {
                const size_t kind = line.rfind(" (");
                struct stat listening {};
                if (line.rfind("Listen=", 0) == 0 && kind != std::string::npos
                    && stat(line.substr(7, kind - 7).c_str(), &listening) == 0 && listening.st_dev == wanted.st_dev
                    && listening.st_ino == wanted.st_ino)
                    return name + ".service";
            }
        }
        return std::nullopt;
    }

    // `unit` and the sound units running beside it, which depend on one another.
    void restart(const std::string& unit) const
    {
        std::vector<std::string> units{unit};
        for (const auto& name : serverProcesses) {
            const std::string sibling = name + ".service";
            const auto active = sibling == unit ? std::nullopt : (*this)({"--quiet", "is-active", sibling});
            if (active && active->status == 0)
                units.push_back(sibling);
        }
        std::vector<std::string> command{"restart"};
        command.insert(command.end(), units.begin(), units.end());
        const auto restarted = (*this)(command);
        if (!restarted || restarted->status != 0)
            fail(notRestartedStatus, "systemctl could not restart " + unit + ".");
    }

private:
    std::vector<std::string> m_base;
    std::vector<std::string> m_environment;
};

// Debian 12's glibc declares the pidfd calls without C linkage for C++.
int openProcess(pid_t pid)
{
    return int(syscall(SYS_pidfd_open, pid, 0));
}

void signalProcess(int process, int signal)
{
    syscall(SYS_pidfd_send_signal, process, signal, nullptr, 0);
}

bool exitsWithin(int process, int milliseconds)
{
    pollfd exited{process, POLLIN, 0};
    int ready = 0;
    while ((ready = poll(&exited, 1, milliseconds)) < 0 && errno == EINTR) {
    }
    return ready > 0;
}

// SIGTERM to the one server process; socket activation, autospawn or a
// supervisor brings it back.
void terminate(pid_t pid, uid_t uid)
{
    // The handle names one process for good: a number reused after it was
    // read is checked and signalled as the process it now is.
    const int process = openProcess(pid);
    const auto [name, user] = nameAndUser(pid);
    if (process < 0 || user != uid || !serverProcesses.count(name))
        fail(notRestartedStatus, "What listens on the audio socket is no audio service of this account.");
    // A stopped server takes SIGTERM only once continued.
    signalProcess(process, SIGTERM);
    signalProcess(process, SIGCONT);
    if (!exitsWithin(process, stopMilliseconds)) {
        signalProcess(process, SIGKILL);
        if (!exitsWithin(process, stopMilliseconds))
            fail(notRestartedStatus, "The audio service did not stop.");
    }
    close(process);
}

}  // namespace

void fail(int status, const std::string& line)
{
    std::fprintf(stderr, "%s\n", line.c_str());
    std::exit(status);
}

std::optional<Finished> run(const std::vector<std::string>& arguments, const std::vector<std::string>& environment)
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
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    Finished finished;
    char buffer[4096];
    for (ssize_t length; error == 0 && (length = read(output[0], buffer, sizeof buffer)) != 0;) {
        if (length > 0)
            finished.output.append(buffer, size_t(length));
        else if (errno != EINTR)
            break;
    }
    close(output[0]);
    if (error != 0)
        return std::nullopt;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    finished.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return finished;
}

std::optional<std::string> firstExisting(std::initializer_list<const char*> paths)
{
    for (const char* path : paths)
        if (access(path, X_OK) == 0)
            return std::string(path);
    return std::nullopt;
}

void restartServer(uid_t uid, const std::string& user, bool asRoot, const std::string& socket)
{
    const auto peer = listenerOf(socket);
    if (!peer)
        fail(notRestartedStatus, "No audio service listens on its socket any more.");
    if (peer->uid != uid)
        fail(notAuthorizedStatus, "The audio service on that socket runs for another account.");
    const UserManager manager(uid, user, asRoot);
    const std::string place = userManagerPlace(peer->pid, uid);
    if (isServerUnit(place))
        return manager.restart(place);
    if (place == "init.scope") {
        const auto service = manager.activatedService(socket);
        if (!service)
            fail(notRestartedStatus, "No sound unit of the service manager listens on the audio socket.");
        return manager.restart(*service);
    }
    terminate(peer->pid, uid);
}

}  // namespace reset_tool
