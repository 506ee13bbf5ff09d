#pragma once

#include "model/audio_card.h"
#include "model/audio_direction.h"
#include "model/audio_setting.h"
#include "model/date.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sonorel {

using AudioObjectID = uint32_t;
using ProcessID = int32_t;

template <typename T>
struct ClosedRange {
    T lowerBound{};
    T upperBound{};
    constexpr bool contains(T value) const { return lowerBound <= value && value <= upperBound; }
    bool operator==(const ClosedRange&) const = default;
};

enum class AudioTransport { builtIn, bluetooth, usb, display, virtual_, aggregate, other };

// Stored and shown by label.
inline constexpr EnumTexts<AudioTransport, 7> audioTransportLabels{{
    {AudioTransport::builtIn, "Built-in"},
    {AudioTransport::bluetooth, "Bluetooth"},
    {AudioTransport::usb, "USB"},
    {AudioTransport::display, "Display"},
    {AudioTransport::virtual_, "Virtual"},
    {AudioTransport::aggregate, "Aggregate"},
    {AudioTransport::other, "Audio device"},
}};

constexpr std::string_view label(AudioTransport transport)
{
    return textOf(audioTransportLabels, transport);
}

struct AudioChannelState {
    uint32_t element = 0;
    std::optional<float> volume;
    std::optional<bool> isMuted;
    bool canSetVolume = false;
    bool canSetMute = false;
    std::string name;  // the server's name of a channel ("Front Left"); empty when it gives none
    bool operator==(const AudioChannelState&) const = default;
};

struct AudioStreamFormat {
    AudioDirection direction = AudioDirection::output;
    double sampleRate = 0;
    uint32_t bitDepth = 0;
    uint32_t channels = 0;
    bool isFloat = false;

    // "2 ch · 48 kHz · 32-bit float"
    std::string label() const;
    bool operator==(const AudioStreamFormat&) const = default;
};

struct AudioClient {
    AudioObjectID id = 0;
    ProcessID pid = 0;
    std::string name;
    std::optional<std::string> bundleID;
    std::vector<AudioObjectID> inputDeviceIDs;
    std::vector<AudioObjectID> outputDeviceIDs;
    bool isRunningInput = false;
    bool isRunningOutput = false;
    // Outputs whose sound it records (a screen recorder, a stream of what you
    // hear): not microphone input, but a service restart would cut it.
    std::vector<AudioObjectID> capturedOutputIDs;
    bool operator==(const AudioClient&) const = default;
};

// One playing stream of an app as a mixer shows it: the app's own volume,
// mute and output, which the app keeps whatever its output device does.
struct AppStream {
    // The server's number for the stream, valid while it lives; with the
    // app's name it tells a stream from a later one that reuses the number.
    uint32_t index = 0;
    std::string appName;
    std::optional<std::string> bundleID;
    ProcessID pid = 0;
    std::optional<AudioObjectID> outputID;
    float volume = 1;
    bool isMuted = false;
    bool canSetVolume = true;
    // Paused by the app; it keeps its settings for when it plays again.
    bool isCorked = false;
    bool operator==(const AppStream&) const = default;
};

enum class PortAvailability { unknown, available, unavailable };

inline constexpr EnumTexts<PortAvailability, 3> portAvailabilityNames{{
    {PortAvailability::unknown, "unknown"},
    {PortAvailability::available, "available"},
    {PortAvailability::unavailable, "unavailable"},
}};

// A connector of a device (speakers, a headphone jack, a display's audio):
// "unavailable" is the server's word for unplugged.
struct AudioPort {
    std::string name;
    std::string description;
    PortAvailability availability = PortAvailability::unknown;
    // As the server types it: "speaker", "headphones", "hdmi", "mic", …; empty when it does not say.
    std::string type;
    uint32_t priority = 0;
    bool operator==(const AudioPort&) const = default;
};

struct AudioDevice {
    AudioObjectID id = 0;
    std::string uid;
    std::string name;
    AudioTransport transport = AudioTransport::other;
    int inputChannels = 0;
    int outputChannels = 0;
    bool isAlive = false;
    bool isRunningInput = false;
    std::optional<double> sampleRate;
    std::vector<ClosedRange<double>> availableRates;
    std::vector<double> memberRates;
    std::optional<float> volume;
    std::optional<bool> isMuted;
    bool canSetVolume = false;
    bool canSetMute = false;
    bool canSetRate = false;
    std::vector<AudioChannelState> inputControls;
    std::vector<AudioChannelState> outputControls;
    std::vector<uint32_t> stereoChannels;
    std::optional<float> balance;
    bool canSetBalance = false;
    std::optional<uint32_t> bufferFrames;
    std::optional<ClosedRange<uint32_t>> bufferRange;
    std::optional<uint32_t> latencyFrames;
    std::optional<uint32_t> safetyOffsetFrames;
    std::optional<ProcessID> exclusiveOwnerPID;
    std::vector<AudioStreamFormat> formats;
    // The name of the card it belongs to (see AudioSnapshot::cards).
    std::optional<std::string> cardName;
    std::vector<AudioPort> ports;
    std::optional<std::string> activePort;
    // The server's stand-in when it has no real output ("Dummy Output"):
    // sound sent there plays nowhere.
    bool isPlaceholder = false;

    // Neither virtual nor aggregate.
    bool isPhysical() const;
    const AudioPort* port(const std::optional<std::string>& portName) const;
    // The active port is reported unplugged.
    bool isActivePortUnavailable() const;
    // With the active port unplugged: another port that is plugged in (or
    // cannot tell), the plugged-in and highest priority first; null otherwise.
    const AudioPort* portToSwitchTo() const;
    // 48 kHz when accepted, else 44.1 kHz when accepted.
    std::optional<double> standardRate() const;
    std::optional<float> inputVolume() const;
    std::optional<bool> inputMuted() const;
    std::optional<double> latencyMilliseconds() const;
    // The control list of one side; an output side without per-element
    // controls but with a main volume or mute reads as one element-0 control.
    std::vector<AudioChannelState> controls(AudioDirection direction) const;
    std::string symbolName() const;

    bool operator==(const AudioDevice&) const = default;
};

struct AudioSnapshot {
    std::vector<AudioDevice> devices;
    std::optional<AudioObjectID> outputID;
    std::optional<AudioObjectID> inputID;
    Date capturedAt{};
    std::optional<Date> lastOverload;
    std::optional<std::string> readError;
    bool inputActivityKnown = false;
    bool inputIOActive = false;
    std::optional<AudioObjectID> systemOutputID;
    bool canSetSystemOutput = false;
    std::vector<AudioClient> clients;
    bool clientActivityKnown = false;
    std::vector<Date> overloadDates;
    // Every card of the server, also those that offer no device now.
    std::vector<AudioCard> cards;
    std::vector<AppStream> appStreams;
    // The kernel's sound cards; empty when it has none.
    std::vector<HardwareCard> hardwareCards;

    const AudioDevice* device(std::optional<AudioObjectID> id) const;
    const AudioDevice* outputDevice() const { return device(outputID); }
    const AudioDevice* inputDevice() const { return device(inputID); }
    const AudioDevice* systemOutputDevice() const { return device(systemOutputID); }
    // Alive devices with at least one output channel, in reading order.
    std::vector<const AudioDevice*> outputDevices() const;
    // The first of `outputDevices` with this uid.
    const AudioDevice* connectedOutput(const std::string& uid) const;
    // The first device with this uid, alive or not.
    const AudioDevice* deviceWithUID(const std::string& uid) const;
    // The names of the devices with these ids, in order; an id no device of
    // the reading has (one that went away meanwhile) is left out.
    std::vector<std::string> deviceNames(const std::vector<AudioObjectID>& ids) const;
    // The built-in speakers a Bluetooth output can briefly be switched to
    // while muted: the first other built-in output, provided it has a mute
    // control and every one it has is writable. Null when the output is not
    // Bluetooth or those speakers cannot be muted.
    const AudioDevice* reselectionAlternate() const;
    const AudioDevice* builtInMicrophone() const;
    const AudioDevice* fallbackOutput() const;
    int recentOverloadCount() const;
    // A microphone (or other input) is being recorded; level meters and
    // recordings of what an output plays do not count.
    bool isInputActive() const;
    // Active, or not known: a repair that interrupts sound could cut into a call.
    bool isInputBusy() const { return isInputActive() || !inputActivityKnown; }
    // The apps recording what an output plays, which an audio service restart would cut.
    std::vector<const AudioClient*> outputCaptureClients() const;

    const AudioCard* card(const std::optional<std::string>& name) const;
    const AudioCard* cardOf(const AudioDevice& device) const { return card(device.cardName); }
    // A Bluetooth device whose card is in a call profile or, with no card
    // known, that runs below 44.1 kHz: muffled mono, microphone in use or not.
    bool isInCallMode(const AudioDevice& device) const;
    // The profile that takes a Bluetooth device's card out of call mode: its
    // best available high-fidelity one; absent when not in a call profile.
    std::optional<std::string> highFidelityProfileToRestore(const AudioDevice& device) const;
    // The default output is missing, dead, or the server's placeholder.
    bool hasNoRealOutput() const;
    // A card whose output is off or cannot play (no available output in its
    // profile, or its output device failed to appear) while another profile
    // with an output is available: the card and that profile.
    struct CardSwitch {
        const AudioCard* card = nullptr;
        const CardProfile* profile = nullptr;
    };
    std::optional<CardSwitch> cardOutputToTurnOn() const;
    const AppStream* appStream(uint32_t index, const std::string& appName) const;
    // App streams that a mixer muted, that play at zero, or that play to
    // another real output than the default one: what silences one app.
    std::vector<const AppStream*> mutedAppStreams() const;
    std::vector<const AppStream*> silentAppStreams() const;
    std::vector<const AppStream*> appStreamsElsewhere() const;

    // The configuration this reading represents, in a fixed order.
    std::vector<AudioSetting> settings() const;
    // The reading shows `setting` applied (false for a failed reading).
    bool confirms(const AudioSetting& setting) const;

    bool operator==(const AudioSnapshot&) const = default;
};

// Whether headphone reselection can run on this reading (input aside).
inline bool canReselectOutput(const AudioSnapshot& snapshot)
{
    return snapshot.reselectionAlternate() != nullptr;
}

// The apps of some streams, each once, in order.
std::vector<std::string> appNames(const std::vector<const AppStream*>& streams);

// The one window for "recent" overloads: at least 0 and below 120 seconds old.
bool isRecent(Date date, Date capturedAt);

}  // namespace sonorel
