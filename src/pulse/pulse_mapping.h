#pragma once

// Pure conversions between the server's terms and the audio model.

#include "model/audio_snapshot.h"
#include "model/recording_kind.h"
#include "pulse/pulse_records.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sonorel::pulse {

// Sink and source indexes share no space: the kind is encoded in the id.
AudioObjectID deviceID(bool isSink, uint32_t index);
AudioObjectID clientID(uint32_t clientIndex);

// How a device is attached, by its own properties or, where it has none, its card's.
AudioTransport transportOf(const DeviceRecord& device, const CardRecord* card = nullptr);

// Text as the server sent it, made valid UTF-8: PipeWire passes a device's
// bytes through unchanged. Each byte that starts no valid sequence becomes U+FFFD.
std::string validUtf8(std::string_view bytes);

// A whole-number property such as "alsa.card"; absent when missing or not a number.
std::optional<int> intProperty(const Properties& properties, const std::string& key);

// The device volume: the loudest channel, as 0…1.
float volumeScalar(const std::vector<uint32_t>& volumes);
// Channel volumes after setting element 0 (scales every channel, keeping
// their ratio) or one channel (element k is channel k-1).
std::optional<std::vector<uint32_t>> volumesAfterSetting(const std::vector<uint32_t>& volumes, uint32_t element,
                                                         float value);
// Balance as 0 (left) … 1 (right); absent when the channel map has no sides.
std::optional<float> balanceOf(const std::vector<int>& positions, const std::vector<uint32_t>& volumes);
std::optional<std::vector<uint32_t>> volumesWithBalance(const std::vector<int>& positions,
                                                        const std::vector<uint32_t>& volumes, float balance);

AudioCard toAudioCard(const CardRecord& record);

// The server's stand-in sink when it has no real output: "auto_null" of
// PulseAudio's module-always-sink (a null sink, class "abstract") and of
// pipewire-pulse (which gives it no class).
bool isPlaceholder(const DeviceRecord& device);

// "speaker", "headphones", "hdmi", … for a pa_device_port_type_t; empty when unknown.
std::string portTypeName(int type);

// What the model knows about one device; `runningInput` tells whether some
// recording stream is running on it, `card` is the card it belongs to. A
// Bluetooth device is named after its card and side, not after its sink or
// source, whose name changes with the card's profile.
AudioDevice toAudioDevice(const DeviceRecord& record, bool runningInput, const CardRecord* card = nullptr);

// A recording stream as a microphone recording, a level meter or a capture
// of what an output plays (the rule the reset tool applies too).
RecordingKind recordingKindOf(const StreamRecord& stream, const MonitorMap& monitors);

// The sink alerts play on. PulseAudio plays them on the saved entry's sink
// while it exists, else on the default; pipewire-pulse never routes by that entry.
std::string alertSinkOf(const std::optional<AlertEntry>& entry, const std::vector<DeviceRecord>& devices,
                        const std::string& defaultSink, bool isPipeWire);

// Our own: a stream of the reading connection `ownClientIndex`, or one of
// the listening tests' streams (they carry ownStreamKey).
bool isOwnStream(const StreamRecord& stream, uint32_t ownClientIndex);

// One client per application: pid, name, bundle id and the devices its
// streams use. Our own streams and level meters do not count; a recording of
// a monitor counts as capturing that monitor's sink.
std::vector<AudioClient> clientsOf(const std::vector<StreamRecord>& streams, uint32_t ownClientIndex,
                                   const MonitorMap& monitors = {});

// Every playing stream of another app, paused or not, with its own volume,
// mute and output.
std::vector<AppStream> appStreamsOf(const std::vector<StreamRecord>& streams, uint32_t ownClientIndex);

// The process holding an ALSA PCM open, from
// `asoundRoot`/cardN/pcmD{p,c}/sub*/status; -1 when nobody but a sound
// server has it; absent when the PCM is not there to read.
std::optional<ProcessID> exclusiveOwner(const std::filesystem::path& asoundRoot, const std::filesystem::path& procRoot,
                                        int card, int pcm, bool playback);

// The kernel's sound cards from `asoundRoot`/cards, each with the process
// (not a sound server) that holds one of its playback or capture PCMs.
std::vector<HardwareCard> hardwareCards(const std::filesystem::path& asoundRoot, const std::filesystem::path& procRoot);

// The model of one reading, with the server's defaults; what is read from
// elsewhere (exclusive owners, the kernel's cards, the graph clock,
// overloads, the capture date) is left to the caller. The devices are in the
// order of `reading.devices`.
AudioSnapshot snapshotOf(const ServerReading& reading, bool isPipeWire);

}  // namespace sonorel::pulse
