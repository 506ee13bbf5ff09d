#include "support/audio_rig.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <iostream>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sonorel::testing {

namespace {

const QString rigScript = QStringLiteral(SONOREL_SOURCE_DIR "/scripts/audio-rig");

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

std::string AudioRig::run(const QString& program, const QStringList& arguments,
                          std::chrono::milliseconds timeout) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [key, value] : m_environment)
        environment.insert(QString::fromStdString(key), QString::fromStdString(value));
    process.setProcessEnvironment(environment);
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

void AudioRig::startRecording(const std::string& source)
{
    QStringList arguments{"record"};
    if (!source.empty())
        arguments << "--device" << QString::fromStdString(source);
    rig(arguments);
}

void AudioRig::startPlaying(const std::string& sink)
{
    QStringList arguments{"play"};
    if (!sink.empty())
        arguments << "--device" << QString::fromStdString(sink);
    rig(arguments);
}

int AudioRig::serverPid() const
{
    std::ifstream pids(m_dir + "/server.pid");
    int pid = 0;
    pids >> pid;
    return pid;
}

}  // namespace sonorel::testing
