#pragma once

#include "audio/audio_system.h"
#include "pulse/graph_clock.h"
#include "pulse/overload_history.h"
#include "pulse/pulse_records.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;

namespace sonorel {

class PipeWireBridge;
namespace pulse {
struct ServerCache;
}

struct PulseAudioOptions {
    // A server address such as "unix:/run/user/1000/pulse/native"; the user's
    // own server when absent.
    std::optional<std::string> server;
    std::chrono::milliseconds timeout{800};
    std::filesystem::path asoundRoot = "/proc/asound";
    std::filesystem::path procRoot = "/proc";
};

// The audio system of PulseAudio and of PipeWire's pulse server, through one
// libpulse threaded main loop. Every public member runs on the Qt main thread
// and waits for the server at most `timeout`: a server that is gone or hangs
// gives a reading with `readError` (or a `system` error for a write) instead
// of a frozen caller. Server events reach the main thread as queued calls.
class PulseAudioSystem final : public QObject, public AudioSystem {
    Q_OBJECT

public:
    using Options = PulseAudioOptions;

    explicit PulseAudioSystem(Options options = {}, QObject* parent = nullptr);
    ~PulseAudioSystem() override;

    AudioSnapshot snapshot() override;
    void apply(const AudioSetting& setting) override;
    void setDefaultOutput(const std::string& uid) override;
    void setDefaultInput(const std::string& uid) override;
    void setNominalRate(const std::string& uid, double rate) override;
    void setCardProfile(const std::string& card, const std::string& profile) override;
    void stopMonitoring() override;
    void forgetOverloads() override;
    // The address of the server libpulse last reached; absent before a connection.
    std::optional<std::string> serverAddress() const { return m_serverAddress; }
    std::string rateChangeNote() const override;

    // While on, `onChange` is called (on the main thread, bursts merged) when
    // devices, defaults, levels or streams change, and when the server
    // comes back after being gone. On PipeWire, `onOverload` is called for
    // each overload of the default output once a reading has named it.
    void startMonitoring(std::function<void()> onChange, std::function<void(Date)> onOverload) override;
    bool isMonitoring() const { return m_monitoring; }

    // Called on libpulse's thread, with the main loop locked.
    void contextStateChanged();
    void serverEvent();

private:
    bool connect();
    // Called with the main loop locked, once per connection as it becomes ready.
    void subscribe();
    // Tells the store (bursts merged) while monitoring is on; main thread.
    void reportChange();
    void disconnect();
    // Starts operations with the main loop locked and waits until every one
    // has finished, the deadline passes or the connection drops.
    bool await(const std::function<std::vector<pa_operation*>()>& start, int& pending);
    std::optional<pulse::ServerReading> read();
    AudioSnapshot unreadable(const std::string& message) const;
    const pulse::DeviceRecord& liveDevice(const std::string& uid);
    // Another app's playing stream by its number and app, on a fresh reading.
    const pulse::StreamRecord& liveStream(uint32_t stream, const std::string& app);
    void writeDevice(const AudioSetting& setting);
    void writeAppStream(const AudioSetting& setting);
    void runCommand(const std::function<pa_operation*(void*)>& start);
    void writeVolumes(const pulse::DeviceRecord& device, const std::optional<std::vector<uint32_t>>& volumes);
    void writeAlertDevice(const std::string& sinkName);
    void writeDefault(bool isSink, const std::string& name);
    std::optional<pulse::ServerRecord> readServer();
    // The server's default sink or source now.
    std::optional<std::string> defaultName(bool isSink);
    // A device of ours by its server name, as of the last reading.
    bool known(bool isSink, const std::string& name) const;
    // The uid of a device by its server name, as of the last reading (a
    // Bluetooth device's uid is its card's, not its sink's).
    std::string uidOf(bool isSink, const std::string& name) const;
    void writeProfile(const std::string& card, const std::string& profile);
    PipeWireBridge& pipeWire();
    // The kernel's sound cards and who holds them, read at most every two seconds.
    const std::vector<HardwareCard>& kernelCards();
    // On PipeWire: reads the graph clock and puts the metadata's default nodes
    // into `server` where they name one of `devices`.
    void takePipeWireDefaults(pulse::ServerRecord& server, const std::vector<pulse::DeviceRecord>& devices);
    // The default node of PipeWire's metadata as of the last clock reading, when it `exists`.
    std::optional<std::string> pipeWireDefault(bool isSink, const std::function<bool(const std::string&)>& exists);
    void writeRate(uint32_t unforcedRate, double rate);
    void overloaded(const std::string& sink);

    Options m_options;
    // Carried by our pulse connection; see PipeWireBridge.
    std::string m_connectionTag;
    // The server libpulse actually reached, whichever way it was chosen.
    std::optional<std::string> m_serverAddress;
    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    // The server's devices and streams, kept by its events; guarded by the main loop lock.
    std::unique_ptr<pulse::ServerCache> m_cache;
    bool m_isPipeWire = false;
    // By uid, as of the last reading.
    std::map<std::string, pulse::DeviceRecord> m_devices;
    std::map<uint32_t, pulse::CardRecord> m_cards;
    // Other apps' playing streams by index, as of the last reading.
    std::map<uint32_t, pulse::StreamRecord> m_appStreams;
    std::optional<pulse::AlertEntry> m_alertEntry;
    // Created on the first reading that finds PipeWire.
    std::unique_ptr<PipeWireBridge> m_pipeWire;
    std::optional<pulse::GraphClock> m_graphClock;  // as of the last reading
    std::vector<HardwareCard> m_kernelCards;
    std::optional<std::chrono::steady_clock::time_point> m_kernelCardsReadAt;
    pulse::OverloadHistory m_overloads;

    bool m_monitoring = false;
    std::function<void()> m_onChange;
    std::function<void(Date)> m_onOverload;
    QTimer m_changeCoalescer;
    QTimer m_reconnectTimer;
};

}  // namespace sonorel
