#pragma once

// Plain copies of what the server reports, taken inside libpulse's callbacks
// (whose info pointers die when the callback returns) and turned into model
// values on the main thread.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sonorel::pulse {

using Properties = std::map<std::string, std::string>;

// PA_INVALID_INDEX: a device of no card (null sinks, filters).
inline constexpr uint32_t noCard = UINT32_MAX;

// PA_INVALID_INDEX: a source that monitors no sink.
inline constexpr uint32_t noSink = UINT32_MAX;

struct CardProfileRecord {
    std::string name;
    std::string description;
    uint32_t priority = 0;
    bool available = true;
    uint32_t sinks = 0;
    uint32_t sources = 0;
};

// A sound card: its profiles decide which sinks and sources it offers.
struct CardRecord {
    uint32_t index = 0;
    std::string name;
    std::string activeProfile;
    std::vector<CardProfileRecord> profiles;
    Properties properties;
};

// pa_port_available_t: PA_PORT_AVAILABLE_UNKNOWN, _NO, _YES.
enum class PortAvailable { unknown = 0, no = 1, yes = 2 };

struct PortRecord {
    std::string name;
    std::string description;
    uint32_t priority = 0;
    PortAvailable available = PortAvailable::unknown;
    int type = 0;  // pa_device_port_type_t
};

// A sink (output) or a non-monitor source (input).
struct DeviceRecord {
    bool isSink = true;
    uint32_t index = 0;
    std::string name;
    std::string description;
    Properties properties;
    uint32_t rate = 0;
    uint32_t bitsPerSample = 0;
    bool isFloat = false;
    std::vector<int> channelPositions;  // pa_channel_position_t values
    std::vector<uint32_t> volumes;      // pa_volume_t per channel
    bool muted = false;
    uint64_t latencyUsec = 0;
    uint64_t configuredLatencyUsec = 0;
    std::string activePort;
    std::vector<PortRecord> ports;
    std::string driver;
    uint32_t card = noCard;
    // For a source that mirrors what a sink plays: that sink.
    uint32_t monitorOf = noSink;
};

// A sink input (playing) or source output (recording) stream.
struct StreamRecord {
    bool isRecording = false;
    uint32_t index = 0;
    uint32_t clientIndex = 0;  // PA_INVALID_INDEX when none
    uint32_t deviceIndex = 0;  // its sink or source
    bool corked = false;
    Properties properties;
    uint32_t rate = 0;
    // PulseAudio resamples a peak-detecting stream by its "peaks" method.
    std::string resampleMethod;
    std::vector<uint32_t> volumes;  // pa_volume_t per channel
    bool muted = false;
    bool volumeWritable = true;
};

// The stream-restore entry that routes alert sounds.
struct AlertEntry {
    std::string device;
    std::vector<int> channelPositions;
    std::vector<uint32_t> volumes;
    bool muted = false;
};

struct ServerRecord {
    std::string serverName;
    std::string defaultSink;
    std::string defaultSource;
};

// Monitor source index → the sink it mirrors.
using MonitorMap = std::map<uint32_t, uint32_t>;

// One reading of the server as plain records.
struct ServerReading {
    ServerRecord server;
    std::vector<DeviceRecord> devices;  // monitor sources left out
    std::vector<StreamRecord> streams;
    MonitorMap monitors;
    std::map<uint32_t, CardRecord> cards;
    std::optional<AlertEntry> alertEntry;
    bool streamRestoreRead = false;
    uint32_t ownClientIndex = UINT32_MAX;  // our reading connection
};

}  // namespace sonorel::pulse
