#pragma once

// A private sound server for one test suite, started and stopped through
// scripts/audio-rig. Which server comes from SONOREL_RIG_SERVER (pulseaudio
// unless set); a rig that cannot start fails the suite, never skips it.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QString>

#include <chrono>
#include <map>
#include <string>

namespace sonorel::testing {

// The devices every rig starts with (their uids).
namespace rigDevices {
inline const std::string speakers = "alsa_output.pci-0000_00_1f.3.analog-stereo";
inline const std::string headphones = "bluez_output.AC_80_0A_12_34_56.1";
inline const std::string usbInterface = "alsa_output.usb-Focusrite_Scarlett_2i2_USB-00.analog-stereo";
inline const std::string hdmi = "alsa_output.pci-0000_01_00.1.hdmi-stereo";
inline const std::string virtualSink = "virtual_sink";
inline const std::string microphone = "alsa_input.pci-0000_00_1f.3.analog-stereo";
inline const std::string headsetMicrophone = "bluez_input.AC_80_0A_12_34_56.0";
}  // namespace rigDevices

// Runs the event loop until `done` holds or the deadline passes; servers and
// their clients take their own time.
template <typename Predicate>
bool processEventsUntil(Predicate done, std::chrono::milliseconds deadline = std::chrono::seconds(5))
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < deadline.count())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class AudioRig {
public:
    explicit AudioRig(std::string server = serverUnderTest());
    ~AudioRig();
    AudioRig(const AudioRig&) = delete;
    AudioRig& operator=(const AudioRig&) = delete;

    static std::string serverUnderTest();

    bool isPipeWire() const { return m_server == "pipewire"; }
    // The address libpulse connects to: "unix:…/pulse/native".
    const std::string& address() const { return m_environment.at("PULSE_SERVER"); }

    // The environment a client of this rig runs in.
    QProcessEnvironment environment() const;
    // Runs pactl (or another pulse client) against this rig; returns its standard output.
    std::string run(const QString& program, const QStringList& arguments,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Unloads the module that made this sink or source.
    void removeDevice(const std::string& name) const;
    // Start a client that stops with the rig; each returns its PID. A meter
    // reads 25 levels a second (as volume controls do); a capture records
    // what a sink plays, at full rate (as a screen recorder does).
    int startRecording(const std::string& source = {});
    int startPlaying(const std::string& sink = {});
    int startMeter(const std::string& source = {});
    int startCapture(const std::string& sink = {});
    // On PipeWire: plays silence into `sink` from a native client, then stops
    // that client inside its cycle, so the graph waits for it every cycle from
    // then on. Returns its PID; the caller resumes and ends it.
    int startStalledPlayer(const std::string& sink) const;
    // The server's main process, for killing or freezing it.
    int serverPid() const;
    // Stops the server and its clients; `keepDirectory` keeps the socket
    // path so that `restart` brings the server back where it was.
    void stop(bool keepDirectory = true);
    void restart();

private:
    void start();
    int startClient(const QString& kind, const std::string& device);
    std::string rig(const QStringList& arguments) const;

    std::string m_server;
    std::string m_dir;
    std::map<std::string, std::string> m_environment;
};

}  // namespace sonorel::testing
