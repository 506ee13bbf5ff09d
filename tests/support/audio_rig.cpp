#include "support/audio_rig.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <csignal>
#include <iostream>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sonorel::testing {

namespace {

const QString rigScript = QStringLiteral(SONOREL_SOURCE_DIR "/scripts/audio-rig");

// Five seconds of 16-bit stereo silence at 48 kHz: something for pw-play to play.
void writeSilence(const std::string& path)
{
    const uint32_t rate = 48000;
    const uint32_t bytes = rate * 4 * 5;
    std::ofstream file(path, std::ios::binary);
    auto put = [&file](uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            file.put(char((value >> (8 * i)) & 0xFF));
    };
    file << "RIFF";
    put(36 + bytes, 4);
    file << "WAVEfmt ";
    put(16, 4);
    put(1, 2);         // PCM
    put(2, 2);         // channels
    put(rate, 4);
    put(rate * 4, 4);  // bytes per second
    put(4, 2);         // bytes per frame
    put(16, 2);        // bits
    file << "data";
    put(bytes, 4);
    file << std::string(bytes, '\0');
}

}  // namespace

std::string AudioRig::serverUnderTest()
{
    const QString server = qEnvironmentVariable("SONOREL_RIG_SERVER");
    return server.isEmpty() ? "pulseaudio" : server.toStdString();
}

AudioRig::AudioRig(std::string server) : m_server(std::move(server))
{
    start();
}

AudioRig::~AudioRig()
{
    stop(false);
}

std::string AudioRig::rig(const QStringList& arguments) const
{
    return run(rigScript, arguments, std::chrono::seconds(30));
}

void AudioRig::start()
{
    QStringList arguments{"start", "--server", QString::fromStdString(m_server)};
    if (!m_dir.empty())
        arguments << "--dir" << QString::fromStdString(m_dir);
    const std::string output = rig(arguments);
    // Lines of the form: export NAME='value'
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find("='");
        if (line.rfind("export ", 0) != 0 || equals == std::string::npos || !line.ends_with('\''))
            continue;
        m_environment[line.substr(7, equals - 7)] = line.substr(equals + 2, line.size() - equals - 3);
    }
    m_dir = m_environment.at("SONOREL_RIG_DIR");
}

void AudioRig::stop(bool keepDirectory)
{
    if (m_dir.empty() || m_environment.empty())
        return;
    try {
        rig(keepDirectory ? QStringList{"stop", "--keep"} : QStringList{"stop"});
    } catch (const std::exception& error) {
        // A rig that will not stop is worth a line, not a crash during tear-down.
        std::cerr << error.what() << "\n";
    }
    m_environment.clear();
}

void AudioRig::restart()
{
    stop(true);
    start();
}

QProcessEnvironment AudioRig::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [key, value] : m_environment)
        environment.insert(QString::fromStdString(key), QString::fromStdString(value));
    return environment;
}

std::string AudioRig::run(const QString& program, const QStringList& arguments,
                          std::chrono::milliseconds timeout) const
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    if (!process.waitForFinished(int(timeout.count())) || process.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " " + arguments.join(' ').toStdString() + " failed: "
                                 + process.readAllStandardError().toStdString());
    return process.readAllStandardOutput().toStdString();
}

void AudioRig::removeDevice(const std::string& name) const
{
    std::istringstream modules(run("pactl", {"list", "short", "modules"}));
    std::string line;
    while (std::getline(modules, line)) {
        if (line.find("sink_name=" + name + " ") == std::string::npos
            && line.find("source_name=" + name + " ") == std::string::npos
            && line.find("sink_name=" + name + "\t") == std::string::npos && !line.ends_with("sink_name=" + name))
            continue;
        run("pactl", {"unload-module", QString::fromStdString(line.substr(0, line.find('\t')))});
        return;
    }
    throw std::runtime_error("no module made " + name);
}

int AudioRig::startClient(const QString& kind, const std::string& device)
{
    QStringList arguments{kind};
    if (!device.empty())
        arguments << "--device" << QString::fromStdString(device);
    return std::stoi(rig(arguments));
}

int AudioRig::startRecording(const std::string& source)
{
    return startClient("record", source);
}

int AudioRig::startPlaying(const std::string& sink)
{
    return startClient("play", sink);
}

int AudioRig::startMeter(const std::string& source)
{
    return startClient("meter", source);
}

int AudioRig::startCapture(const std::string& sink)
{
    return startClient("capture", sink);
}

int AudioRig::startStalledPlayer(const std::string& sink) const
{
    const std::string file = m_dir + "/silence.wav";
    writeSilence(file);
    const int pid = std::stoi(
        run("sh", {"-c", QString::fromStdString("pw-play --target " + sink + " " + file + " >/dev/null 2>&1 & echo $!")}));
    // Stopped before its stream is negotiated, the client would never be scheduled at all.
    const bool running = processEventsUntil([&] {
        const std::string sinks = run("pactl", {"list", "short", "sinks"});
        const auto line = sinks.find(sink + "\t");
        return line != std::string::npos && sinks.substr(line, sinks.find('\n', line) - line).ends_with("RUNNING");
    });
    if (!running) {
        ::kill(pid, SIGTERM);
        throw std::runtime_error("pw-play never started playing into " + sink);
    }
    ::kill(pid, SIGSTOP);
    return pid;
}

int AudioRig::serverPid() const
{
    std::ifstream pids(m_dir + "/server.pid");
    int pid = 0;
    pids >> pid;
    return pid;
}

}  // namespace sonorel::testing
