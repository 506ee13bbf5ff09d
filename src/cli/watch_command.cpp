#include "cli/watch_command.h"

#include "cli/command_support.h"
#include "cli/watch_lines.h"
#include "store/doctor_store.h"

#include <QCommandLineParser>
#include <QEventLoop>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <iterator>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace sonorel {

namespace {

int stopPipeWriteEnd = -1;

extern "C" void onStopSignal(int)
{
    const int saved = errno;
    const char byte = 's';
    [[maybe_unused]] const ssize_t written = ::write(stopPipeWriteEnd, &byte, 1);
    errno = saved;
}

// The signals that end a watch: Ctrl-C, a service stop, an ssh session dropping.
constexpr int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Ends the watch from outside its event loop: on one of the stop signals, and
// when the reader of `output` goes away, which a pipe reports as an error on
// its write end at once, long before the next line would find out.
class OutsideStop {
public:
    OutsideStop(int output, std::function<void()> stop) : m_stop(std::move(stop))
    {
        if (::pipe2(m_pipe, O_CLOEXEC) != 0)
            throw std::runtime_error("watch: no pipe for the stop signals");
        ::fcntl(m_pipe[1], F_SETFL, O_NONBLOCK);
        stopPipeWriteEnd = m_pipe[1];
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < std::size(stopSignals); ++i)
            ::sigaction(stopSignals[i], &action, &m_previous[i]);
        m_thread = std::thread([this, output] { waitForStop(output); });
    }

    ~OutsideStop()
    {
        onStopSignal(0);
        m_thread.join();
        for (size_t i = 0; i < std::size(stopSignals); ++i)
            ::sigaction(stopSignals[i], &m_previous[i], nullptr);
        stopPipeWriteEnd = -1;
        ::close(m_pipe[0]);
        ::close(m_pipe[1]);
    }

    OutsideStop(const OutsideStop&) = delete;
    OutsideStop& operator=(const OutsideStop&) = delete;

private:
    void waitForStop(int output)
    {
        // No events asked on the output: poll reports its errors and hang-ups regardless.
        pollfd watched[2] = {{m_pipe[0], POLLIN, 0}, {output, 0, 0}};
        for (;;) {
            if (::poll(watched, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            // A closed or invalid output is left to the next write, which reports it.
            if (watched[1].revents & POLLNVAL)
                watched[1].fd = -1;
            if (watched[0].revents || (watched[1].revents & (POLLERR | POLLHUP)))
                break;
        }
        QMetaObject::invokeMethod(&m_context, m_stop, Qt::QueuedConnection);
    }

    std::function<void()> m_stop;
    QObject m_context;  // the stop runs on its (the caller's) thread, and not once it is gone
    int m_pipe[2] = {-1, -1};
    struct sigaction m_previous[std::size(stopSignals)] {};
    std::thread m_thread;
};

const QCommandLineOption checksOption("checks", "Also print the nine checks.");
const QCommandLineOption formatOption("format", "waybar: one status-bar line per change instead.", "FORMAT");

}  // namespace

int runWatch(const QStringList& arguments, std::ostream& out, std::ostream& err)
{
    QCommandLineParser parser;
    parser.addOption(checksOption);
    parser.addOption(formatOption);
    parseOptions(parser, arguments, "watch");
    const bool bar = parser.isSet(formatOption);
    if (bar && parser.value(formatOption) != QLatin1String("waybar"))
        throw UsageError("watch: --format takes waybar");

    QEventLoop loop;
    std::optional<int> status;
    auto end = [&](int code) {
        if (status)
            return;
        status = code;
        loop.quit();
    };
    const OutsideStop outside(STDOUT_FILENO, [&] { end(0); });

    // The window owns the user's settings: the preferred output is read from
    // them, and the store writes only to a throw-away copy.
    const auto user = userSettings();
    const auto settings = throwAwaySettings();
    if (!settings) {
        err << "sonorel-doctor: watch: no temporary folder for its settings could be made\n";
        return exitFailure;
    }
    Preferences copy(*settings);
    copy.setMonitoring(true);
    copy.setPreferredOutput(Preferences(*user).preferredOutput());

    AudioThread audio(liveAudioParts);
    DoctorStore store(audio, *settings, StoreServices{}, true);
    WatchLines lines(parser.isSet(checksOption));
    auto print = [&](const std::string& text) {
        if (text.empty() || status)
            return;
        const auto cause = writeFailure(out, text);
        if (!cause)
            return;
        // A reader that went away (`watch | head -1`) ends the watch quietly, as terminal tools do.
        if (*cause != EPIPE)
            reportWriteFailure(err, *cause);
        end(*cause == EPIPE ? 0 : exitFailure);
    };
    // A bar shows the state, not the events that led to it.
    if (bar) {
        QObject::connect(&store, &DoctorStore::readingChanged, &store,
                         [&] { print(lines.barLineAfterReading(store.snapshot(), store.checks())); });
    } else {
        QObject::connect(&store, &DoctorStore::activityAdded, &store,
                         [&](const ActivityEntry& entry) { print(WatchLines::entryLine(entry)); });
        QObject::connect(&store, &DoctorStore::readingChanged, &store,
                         [&] { print(lines.afterReading(store.snapshot(), store.checks())); });
    }
    if (!status)
        loop.exec();
    return status.value_or(0);
}

}  // namespace sonorel
